// The built NURVA_DLL.dll in a host with a user interface: a window whose handler calls
// the exports while discovery dispatches the thread's messages, the host's own loop
// messages, an APC of the host, and the notifier's window when the host uses more than one
// thread.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/win32/HostLoop.h"

#ifndef NURVA_DLL_PATH
#error "NURVA_DLL_PATH must name the built library"
#endif

using namespace nurva::test::host;
using namespace std::chrono_literals;

namespace {

using AbortAllFn = uint8_t(__stdcall*)();
using GetProgIDsFn = void(__stdcall*)(int32_t*, char*);
using ChannelFn = void(__stdcall*)(int32_t, int32_t*, char*);

constexpr wchar_t kNotifierClass[] = L"NurvaUsbNotifyWindow";

std::string WindowsPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

template <class Fn>
Fn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

struct Answer {
  int32_t res = 99;
  std::string text;
  bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Answer& a) { return os << a.res << " \"" << a.text << "\""; }

// The library as a host binds it.
struct Library {
  HMODULE module = nullptr;
  AbortAllFn AbortAll = nullptr;
  GetProgIDsFn GetProgIDs = nullptr;
  ChannelFn ClosePort = nullptr;

  bool Load() {
    module = ::LoadLibraryA(WindowsPath(NURVA_DLL_PATH).c_str());
    if (!module) return false;
    AbortAll = Proc<AbortAllFn>(module, "AbortAll");
    GetProgIDs = Proc<GetProgIDsFn>(module, "GetProgIDs");
    ClosePort = Proc<ChannelFn>(module, "ClosePort");
    return AbortAll && GetProgIDs && ClosePort;
  }
  bool Free() {
    const bool ok = module && ::FreeLibrary(module);
    module = nullptr;
    return ok;
  }
  ~Library() {
    if (module) ::FreeLibrary(module);
  }
  Answer Channel(const char* name, int32_t channel) const {
    Answer a;
    auto fn = Proc<ChannelFn>(module, name);
    if (!fn) return {-1, std::string("missing export ") + name};
    char text[512] = "#";
    fn(channel, &a.res, text);
    a.text = text;
    return a;
  }
  Answer Ids() const {
    Answer a{-1, {}};
    char text[512] = "#";
    GetProgIDs(&a.res, text);
    a.text = text;
    return a;
  }
};

class HostDll : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lib.Load()) << "LoadLibrary failed: " << ::GetLastError(); }
  Library lib;
};

}  // namespace

TEST_F(HostDll, HandlerCallsDuringDiscoveryAnswerAtOnceAndDiscoveryKeepsItsPace) {
  struct Nested {
    const char* what;
    Answer got;
  };
  std::vector<Nested> nested;
  long nestedAbortMs = -1;
  int nestedAbortResult = -1;
  HostWindow w;
  ASSERT_NE(w.Handle(), nullptr);
  w.onApp = [&](UINT) {
    // Calls a user interface makes from a timer or a button while the list is being built.
    nested.push_back({"ClosePort 0", lib.Channel("ClosePort", 0)});
    nested.push_back({"GetProgIDs", lib.Ids()});
    for (const char* name : {"CheckProgrammer", "InitChannel", "CheckDevice"})
      nested.push_back({name, lib.Channel(name, 0)});
    const auto t0 = Clock::now();
    nestedAbortResult = lib.AbortAll();
    nestedAbortMs = MsSince(t0);
  };
  w.Post(WM_APP);
  long ms = 0;
  {
    Watchdog dog(20s, "AbortAll with a handler calling exports from its message pass");
    const auto t0 = Clock::now();
    EXPECT_EQ(lib.AbortAll(), 0);
    ms = MsSince(t0);
  }
  ASSERT_EQ(w.dispatched, 1) << "discovery dispatched the host's message";
  const Answer notConnected{5, "USB not connected!!"};
  const std::vector<std::pair<const char*, Answer>> expected = {
      {"ClosePort 0", {3, "illegal port number"}},
      {"GetProgIDs", {0, ""}},
      {"CheckProgrammer", notConnected},
      {"InitChannel", notConnected},
      {"CheckDevice", notConnected},
  };
  ASSERT_EQ(nested.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_STREQ(nested[i].what, expected[i].first);
    EXPECT_EQ(nested[i].got, expected[i].second) << expected[i].first;
  }
  EXPECT_EQ(nestedAbortResult, 0);
  EXPECT_LT(nestedAbortMs, 200) << "a nested AbortAll returns at once";
  EXPECT_GE(ms, 900);
  EXPECT_LT(ms, 3000) << "discovery without devices takes about a second";
  // Afterwards the list is there and the calls answer from it again.
  EXPECT_EQ(lib.Channel("CheckProgrammer", 0), (Answer{3, "illegal port number"}));
}

TEST_F(HostDll, TheHostsQuitAndThreadMessagesSurviveDiscoverysMessagePass) {
  HostWindow w;
  bool handledInside = false;
  bool inside = false;
  w.onApp = [&](UINT) { handledInside = inside; };
  constexpr UINT kThreadMsg = WM_APP + 5;
  ASSERT_TRUE(::PostThreadMessageW(::GetCurrentThreadId(), kThreadMsg, 11, 22));
  w.Post(WM_APP);
  ::PostQuitMessage(42);
  inside = true;
  {
    Watchdog dog(20s, "AbortAll");
    lib.AbortAll();
  }
  inside = false;
  EXPECT_TRUE(handledInside) << "the window message was dispatched by discovery";

  std::vector<MSG> left;
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    left.push_back(msg);
    if (msg.message == WM_QUIT) break;
  }
  auto find = [&](UINT m) {
    return std::find_if(left.begin(), left.end(), [m](const MSG& x) { return x.message == m; });
  };
  auto t = find(kThreadMsg);
  ASSERT_NE(t, left.end()) << "the thread message is still queued";
  EXPECT_EQ(t->hwnd, nullptr);
  EXPECT_EQ(t->wParam, 11u);
  EXPECT_EQ(t->lParam, 22);
  auto q = find(WM_QUIT);
  ASSERT_NE(q, left.end()) << "the host's WM_QUIT is still there";
  EXPECT_EQ(q->wParam, 42u) << "with its exit code";
  EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const MSG& x) { return x.message == WM_APP; }), 0)
      << "the window message was handled once, inside discovery";
}

namespace {
std::atomic<int> gApcRuns{0};
void CALLBACK CountApc(ULONG_PTR) { ++gApcRuns; }
}  // namespace

TEST_F(HostDll, AnApcOfTheHostNeitherShortensDiscoverysWaitNorRunsInsideIt) {
  gApcRuns = 0;
  ASSERT_TRUE(::QueueUserAPC(CountApc, ::GetCurrentThread(), 0));
  const auto t0 = Clock::now();
  lib.AbortAll();
  const long ms = MsSince(t0);
  EXPECT_EQ(gApcRuns.load(), 0) << "no host code ran inside AbortAll";
  EXPECT_GE(ms, 900) << "the first wait of discovery is 1000 ms";
  ::SleepEx(0, TRUE);
  EXPECT_EQ(gApcRuns.load(), 1) << "the APC waits for the host's own alertable wait";
}

namespace {

// A host thread with a message loop: runs the jobs it is given on itself, in order.
class UiThread {
 public:
  UiThread() {
    stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] {
      id_ = ::GetCurrentThreadId();
      MSG m;
      ::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
      ready_ = true;
      while (::WaitForSingleObject(stop_, 0) == WAIT_TIMEOUT) {
        std::function<void()> job;
        {
          std::lock_guard<std::mutex> g(m_);
          if (!jobs_.empty()) {
            job = std::move(jobs_.front());
            jobs_.erase(jobs_.begin());
          }
        }
        if (job) {
          job();
          ++done_;
          continue;
        }
        PumpUntil(stop_, 10);
      }
    });
    while (!ready_) std::this_thread::sleep_for(1ms);
  }
  ~UiThread() {
    ::SetEvent(stop_);
    thread_.join();
    ::CloseHandle(stop_);
  }
  // Runs `job` on the thread and waits for it.
  void Run(std::function<void()> job) {
    const int before = done_;
    {
      std::lock_guard<std::mutex> g(m_);
      jobs_.push_back(std::move(job));
    }
    while (done_ == before) std::this_thread::sleep_for(1ms);
  }
  DWORD Id() const { return id_; }

 private:
  HANDLE stop_ = nullptr;
  std::mutex m_;
  std::vector<std::function<void()>> jobs_;
  std::atomic<int> done_{0};
  std::atomic<bool> ready_{false};
  std::atomic<DWORD> id_{0};
  std::thread thread_;
};

}  // namespace

TEST_F(HostDll, UnloadOnAnotherThreadThanDiscoveryLeavesNoWindowOfTheLibrary) {
  UiThread a;  // keeps dispatching its messages, as a host's user interface thread does
  a.Run([&] { lib.AbortAll(); });
  const auto before = MessageOnlyWindows(kNotifierClass);
  ASSERT_EQ(before.size(), 1u) << "the list has its notifier";
  const HMODULE module = lib.module;
  {
    Watchdog dog(20s, "FreeLibrary");
    ASSERT_TRUE(lib.Free());
  }
  EXPECT_TRUE(MessageOnlyWindows(kNotifierClass).empty()) << "the notifier's window went with the library";
  WNDCLASSEXW wc;
  wc.cbSize = sizeof wc;
  EXPECT_FALSE(::GetClassInfoExW(module, kNotifierClass, &wc)) << "and so did its class";
  // A device change for the window that was there must not reach code that is gone.
  DEV_BROADCAST_HDR hdr{};
  hdr.dbch_size = sizeof hdr;
  hdr.dbch_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  DWORD_PTR r = 0;
  ::SendMessageTimeoutW(before[0], WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&hdr),
                        SMTO_ABORTIFHUNG, 2000, &r);
  a.Run([] { PumpUntil(nullptr, 100); });  // whatever was posted to thread A is dispatched now
  SUCCEED() << "nothing crashed";
}

TEST_F(HostDll, DiscoveryOnASecondThreadReplacesTheFirstThreadsNotifier) {
  UiThread a, b;
  a.Run([&] { lib.AbortAll(); });
  const auto first = MessageOnlyWindows(kNotifierClass);
  ASSERT_EQ(first.size(), 1u);
  b.Run([&] { lib.AbortAll(); });
  const auto second = MessageOnlyWindows(kNotifierClass);
  ASSERT_EQ(second.size(), 1u) << "exactly one notifier window";
  EXPECT_NE(second[0], first[0]) << "it is the new list's";
  EXPECT_FALSE(::IsWindow(first[0])) << "the first list's window is gone although thread A lives on";
  // The new list's window answers as a notifier does.
  DEV_BROADCAST_HDR hdr{};
  hdr.dbch_size = sizeof hdr;
  hdr.dbch_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  DWORD_PTR r = 1;
  EXPECT_TRUE(::SendMessageTimeoutW(second[0], WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&hdr),
                                    SMTO_ABORTIFHUNG, 2000, &r));
  EXPECT_EQ(r, 0u);
  {
    Watchdog dog(20s, "FreeLibrary");
    ASSERT_TRUE(lib.Free());
  }
  EXPECT_TRUE(MessageOnlyWindows(kNotifierClass).empty());
}
