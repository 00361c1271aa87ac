#include "transport/ComponentUSB.h"

#include <windows.h>
#include <dbt.h>

#include <mutex>

#include "transport/win32/UsbNotifyFilter.h"

namespace nurva {

namespace {

constexpr wchar_t kClassName[] = L"NurvaUsbNotifyWindow";

// The window class is registered while notifiers exist and unregistered with the last:
// a class left registered would keep a window procedure in a library that may be
// unloaded and loaded again.
std::mutex gClassLock;
int gClassUsers = 0;

HINSTANCE ThisModule() {
  HMODULE m = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &m);
  return m;
}

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

TComponentUSB::TComponentUSB() {
  if (!AcquireClass()) return;
  // A message-only window: never shown, not part of any desktop (so it exists in a
  // process without a display as well), and still the target of the notifications it
  // registers for, which are sent to it directly rather than broadcast.
  HWND h = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
  if (!h) {
    ReleaseClass();
    return;
  }
  ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  FWindowHandle = h;
  RegisterUSBNotification();
}

TComponentUSB::~TComponentUSB() {
  if (!FWindowHandle) return;
  HWND h = static_cast<HWND>(FWindowHandle);
  ::SetWindowLongPtrW(h, GWLP_USERDATA, 0);
  ::DestroyWindow(h);
  FWindowHandle = nullptr;
  ReleaseClass();
}

bool TComponentUSB::RegisterUSBNotification() {
  if (!FWindowHandle) return false;
  DEV_BROADCAST_DEVICEINTERFACE_W filter = UsbNotificationFilter();
  // The registration ends with the window; its handle is not needed.
  return ::RegisterDeviceNotificationW(static_cast<HWND>(FWindowHandle), &filter, DEVICE_NOTIFY_WINDOW_HANDLE) !=
         nullptr;
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
