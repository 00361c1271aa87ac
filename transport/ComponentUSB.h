// The device-change notifier: tells its user when a device of the programmers' interface
// class arrives or has been removed.
//
// On Windows it owns a hidden (message-only) window that is registered for device-interface
// notifications of the class; the system's WM_DEVICECHANGE messages become calls of
// OnUSBArrival and OnUSBRemove. The window belongs to the thread that creates the
// notifier, and the handlers run on that thread while it dispatches window messages.
// Elsewhere the notifier has no source of notifications and calls nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace nurva {

class TComponentUSB {
 public:
  using TNotifyEvent = std::function<void(TComponentUSB* Sender)>;

  // Makes the hidden window and registers it for notifications.
  TComponentUSB();
  // Destroys the window (which ends the registration). Call on the creating thread.
  ~TComponentUSB();
  TComponentUSB(const TComponentUSB&) = delete;
  TComponentUSB& operator=(const TComponentUSB&) = delete;

  // Called with the notifier when a device of the class has arrived / has been removed.
  // Unassigned handlers are skipped.
  TNotifyEvent OnUSBArrival;
  TNotifyEvent OnUSBRemove;

  // Registers the window for notifications of the programmers' interface class; true when
  // the system gave a notification handle. The constructor calls it once.
  bool RegisterUSBNotification();

  // The hidden window (an HWND), or null when there is none.
  void* WindowHandle() const { return FWindowHandle; }

  // What the window procedure does with a device-change message: `event` is its first
  // parameter, `header` the broadcast header its second parameter points to (may be null).
  void WMDeviceChange(uintptr_t event, const void* header);

 private:
  void* FWindowHandle = nullptr;
};

}  // namespace nurva
