#include "transport/ComponentUSB.h"

#include <windows.h>
#include <dbt.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "transport/win32/UsbNotifyFilter.h"
#include "usbio/OsThread.h"

namespace nurva {

namespace {

constexpr wchar_t kClassName[] = L"NurvaUsbNotifyWindow";

// The window class is registered while notifiers exist and unregistered with the last:
// a class left registered would keep a window procedure in a library that may be
// unloaded and loaded again.
std::mutex gClassLock;
int gClassUsers = 0;

}  // namespace
}  // namespace nurva

// The module this code is linked into: its image base, known without asking the loader
// (which would wait for the loader lock that an unloading thread holds).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace nurva {
namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg != WM_DEVICECHANGE) return ::DefWindowProcW(h, msg, w, l);
  auto* self = reinterpret_cast<TComponentUSB*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  if (self) {
    try {
      self->WMDeviceChange(static_cast<uintptr_t>(w), reinterpret_cast<const void*>(l));
    } catch (...) {
      // A handler's exception must not unwind through the system's message dispatch.
    }
  }
  return 0;
}

bool AcquireClass() {
  std::lock_guard<std::mutex> g(gClassLock);
  if (gClassUsers > 0) {
    ++gClassUsers;
    return true;
  }
  WNDCLASSEXW wc;
  std::memset(&wc, 0, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = kClassName;
  bool ok = ::RegisterClassExW(&wc) != 0;
  if (!ok && ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    // Left behind by an earlier load of this library: its procedure may be gone.
    ::UnregisterClassW(kClassName, wc.hInstance);
    ok = ::RegisterClassExW(&wc) != 0;
  }
  if (ok) gClassUsers = 1;
  return ok;
}

void ReleaseClass() {
  std::lock_guard<std::mutex> g(gClassLock);
  if (gClassUsers > 0 && --gClassUsers == 0) ::UnregisterClassW(kClassName, ThisModule());
}

}  // namespace

// The notifier's thread and what it owns. The thread makes the window, registers it and
// dispatches its messages until it is told to stop; then it removes the registrations,
// destroys the window and releases the class, all on itself.
struct TComponentUSB::Impl {
  explicit Impl(TComponentUSB& o) : owner(o) {}
  ~Impl() {
    if (ready) ::CloseHandle(ready);
  }

  void Body();
  // Asks the thread to stop; `unloading`: from the unload notification.
  void Stop(bool unloading);
  // The thread did not finish: nothing of its window may reach the library's code.
  void Neutralize();
  void RemoveRegistrations();

  TComponentUSB& owner;
  usbio::TOsThread thread;
  HANDLE ready = nullptr;  // set once the window is there, or could not be made
  std::atomic<HWND> window{nullptr};
  std::mutex regLock;
  std::vector<HDEVNOTIFY> registrations;
  bool stopped = false;
};

namespace {
// Posted to the window: the thread is to stop.
constexpr UINT kStopMessage = WM_APP + 0x4E1;
// How long the constructor waits for the window, and a stop for the thread.
constexpr DWORD kStartWaitMs = 2000;
constexpr uint32_t kStopWaitMs = 2000;
}  // namespace

void TComponentUSB::Impl::Body() {
  HWND h = nullptr;
  if (AcquireClass()) {
    // A message-only window: never shown, not part of any desktop (so it exists in a
    // process without a display as well), and still the target of the notifications it
    // registers for, which are sent to it directly rather than broadcast.
    h = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
    if (h) {
      ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&owner));
      window.store(h);
    } else {
      ReleaseClass();
    }
  }
  if (h) owner.RegisterUSBNotification();
  ::SetEvent(ready);
  if (!h) return;
  MSG msg;
  // The stop message ends the loop; so does a WM_QUIT or a failure of the queue.
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == h && msg.message == kStopMessage) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  RemoveRegistrations();
  ::SetWindowLongPtrW(h, GWLP_USERDATA, 0);
  ::DestroyWindow(h);
  window.store(nullptr);
  ReleaseClass();
}

void TComponentUSB::Impl::RemoveRegistrations() {
  std::lock_guard<std::mutex> g(regLock);
  for (HDEVNOTIFY r : registrations) ::UnregisterDeviceNotification(r);
  registrations.clear();
}

void TComponentUSB::Impl::Stop(bool unloading) {
  if (stopped) return;
  stopped = true;
  if (HWND h = window.load()) ::PostMessageW(h, kStopMessage, 0, 0);
  bool finished;
  if (unloading) {
    // The thread's exit waits for the loader lock that the unloading thread holds: only
    // its body can be waited for (TOsThread::StopForUnload).
    finished = thread.StopForUnload(kStopWaitMs);
  } else {
    finished = thread.JoinFor(kStopWaitMs) || thread.StopForUnload(0);
  }
  if (!finished) Neutralize();
}

void TComponentUSB::Impl::Neutralize() {
  RemoveRegistrations();
  HWND h = window.exchange(nullptr);
  if (!h) return;
  // The thread is gone (cut off); its window normally went with it. Should it still be
  // there, it answers with the system's default procedure from now on, and so does any
  // window of the class, which stays registered only as long as the window exists.
  if (::IsWindow(h)) {
    ::SetWindowLongPtrW(h, GWLP_USERDATA, 0);
    ::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
    ::SetClassLongPtrW(h, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
  }
  ReleaseClass();
}

TComponentUSB::TComponentUSB() {
  try {
    FImpl = std::make_unique<Impl>(*this);
  } catch (...) {
    return;  // a notifier without a window; the list works the same without it
  }
  FImpl->ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!FImpl->ready || !FImpl->thread.Start([impl = FImpl.get()] { impl->Body(); })) {
    FImpl.reset();
    return;
  }
  // After a bounded wait the notifier goes on without a window handle of its own.
  if (::WaitForSingleObject(FImpl->ready, kStartWaitMs) == WAIT_OBJECT_0) FWindowHandle = FImpl->window.load();
}

TComponentUSB::~TComponentUSB() {
  if (FImpl) FImpl->Stop(false);
  FWindowHandle = nullptr;
}

void TComponentUSB::StopForUnload() {
  if (FImpl) FImpl->Stop(true);
  FWindowHandle = nullptr;
}

bool TComponentUSB::RegisterUSBNotification() {
  HWND h = FImpl ? FImpl->window.load() : nullptr;
  if (!h) return false;
  DEV_BROADCAST_DEVICEINTERFACE_W filter = UsbNotificationFilter();
  HDEVNOTIFY r = ::RegisterDeviceNotificationW(h, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (!r) return false;
  try {
    std::lock_guard<std::mutex> g(FImpl->regLock);
    FImpl->registrations.push_back(r);
  } catch (...) {
    ::UnregisterDeviceNotification(r);
    return false;
  }
  return true;
}

void TComponentUSB::WMDeviceChange(uintptr_t event, const void* header) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  if (!header) return;
  DEV_BROADCAST_HDR hdr;
  std::memcpy(&hdr, header, sizeof hdr);
  if (hdr.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
  // The class needs no check: the registration only lets the programmers' class through.
  const TNotifyEvent& handler = event == DBT_DEVICEARRIVAL ? OnUSBArrival : OnUSBRemove;
  if (handler) handler(this);
}

}  // namespace nurva
