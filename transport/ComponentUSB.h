// The device-change notifier: tells its user when a device of the programmers' interface
// class arrives or has been removed.
//
// On Windows it owns a hidden (message-only) window that is registered for device-interface
// notifications of the class; the system's WM_DEVICECHANGE messages become calls of
// OnUSBArrival and OnUSBRemove. The window, its registration and its message loop belong
// to a thread of the notifier's own, not to the thread that creates it, so that the
// window can be destroyed (and its class unregistered) from whichever thread frees the
// notifier, and none of the library's code is left to run once the library is unloaded.
// The handlers run on that thread.
// Elsewhere the notifier has no source of notifications and calls nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace nurva {

class TComponentUSB {
 public:
  using TNotifyEvent = std::function<void(TComponentUSB* Sender)>;

  // Starts the notifier's thread, which makes the hidden window and registers it for
  // notifications; returns once the window is there (or after a bounded wait).
  TComponentUSB();
  // Ends the registration, destroys the window, unregisters its class and ends the
  // thread; from any thread.
  ~TComponentUSB();
  TComponentUSB(const TComponentUSB&) = delete;
  TComponentUSB& operator=(const TComponentUSB&) = delete;

  // Called with the notifier when a device of the class has arrived / has been removed.
  // Unassigned handlers are skipped.
  TNotifyEvent OnUSBArrival;
  TNotifyEvent OnUSBRemove;

  // Registers the window for notifications of the programmers' interface class; true when
  // the system gave a notification handle. The notifier's thread calls it once; every
  // registration ends with the notifier.
  bool RegisterUSBNotification();

  // Ends the notifier as the destructor does, from the library's unload notification,
  // where a thread's exit cannot be waited for: every wait is bounded, and should the
  // thread not finish in time, its registration is removed and its window left with the
  // system's default procedure.
  void StopForUnload();

  // The hidden window (an HWND), or null when there is none.
  void* WindowHandle() const { return FWindowHandle; }

  // What the window procedure does with a device-change message: `event` is its first
  // parameter, `header` the broadcast header its second parameter points to (may be null).
  void WMDeviceChange(uintptr_t event, const void* header);

  struct Impl;

 private:
  void* FWindowHandle = nullptr;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace nurva
