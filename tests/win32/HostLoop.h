// What a host with a user interface brings to the library's calls: a window whose handler
// calls exports when its message is dispatched, a message pump, and a watchdog that ends a
// test which would otherwise hang for good.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nurva::test::host {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point t0) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// Ends the process with a failure when the scope is not left within `limit`: a call that
// waits on itself never returns, and the test runner's own limit is minutes away.
class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds limit, std::string what) : what_(std::move(what)) {
    thread_ = std::thread([this, limit] {
      std::unique_lock<std::mutex> g(m_);
      if (!cv_.wait_for(g, limit, [this] { return done_; })) {
        std::fprintf(stderr, "\nWATCHDOG: %s did not return within %lld ms\n", what_.c_str(),
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> g(m_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// A top-level host window of the calling thread (never shown). Every message at or above
// WM_APP that is dispatched to it runs `onApp` with the message number, on the thread that
// dispatches it.
class HostWindow {
 public:
  HostWindow() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ::RegisterClassExW(&wc);  // already there for a second window: fine
    hwnd_ = ::CreateWindowExW(0, kClass, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              wc.hInstance, this);
  }
  ~HostWindow() {
    if (hwnd_) ::DestroyWindow(hwnd_);
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  void Post(UINT msg) const { ::PostMessageW(hwnd_, msg, 0, 0); }

  std::function<void(UINT)> onApp;
  int dispatched = 0;  // messages at or above WM_APP that reached the handler

 private:
  static constexpr wchar_t kClass[] = L"NurvaTestHostWindow";
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(l);
      ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<HostWindow*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
    if (self && msg >= WM_APP && msg < 0xC000) {
      ++self->dispatched;
      if (self->onApp) self->onApp(msg);
      return 0;
    }
    return ::DefWindowProcW(h, msg, w, l);
  }
  HWND hwnd_ = nullptr;
};

// Dispatches the calling thread's messages until `stop` is signalled or `limit` has passed.
inline void PumpUntil(HANDLE stop, DWORD limitMs) {
  const auto t0 = Clock::now();
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    const long left = static_cast<long>(limitMs) - MsSince(t0);
    if (left <= 0) return;
    if (::MsgWaitForMultipleObjects(1, &stop, FALSE, static_cast<DWORD>(left), QS_ALLINPUT) == WAIT_OBJECT_0) return;
  }
}

// Message-only windows of `cls`, the kind the library's device-change notifier uses.
inline std::vector<HWND> MessageOnlyWindows(const wchar_t* cls) {
  std::vector<HWND> found;
  for (HWND h = nullptr; (h = ::FindWindowExW(HWND_MESSAGE, h, cls, nullptr)) != nullptr;) {
    if (std::find(found.begin(), found.end(), h) != found.end()) break;
    found.push_back(h);
  }
  return found;
}

}  // namespace nurva::test::host
