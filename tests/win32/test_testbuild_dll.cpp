// The test build of the DLL (the library plus a call that takes the driver calls to use
// and one that makes its allocations fail): FreeLibrary while its links run, against the
// stand-in driver of this program with a slow cancel; and exports whose allocations fail.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/ScriptedPeer.h"
#include "tests/win32/HostLoop.h"
#include "tools/vusb/FakeDriver.h"
#include "usbio/win32/DriverCalls.h"

#ifndef NURVA_TESTDRV_DLL_PATH
#error "NURVA_TESTDRV_DLL_PATH must name the test build of the library"
#endif

using namespace nurva::test;
namespace fake = nurva::vusb::fake;
using namespace std::chrono_literals;
using host::MsSince;

namespace {

using AbortAllFn = uint8_t(__stdcall*)();
using GetProgIDsFn = void(__stdcall*)(int32_t*, char*);
using UseDriverCallsFn = void (*)(const nurva::usbio::win32::DriverCalls*);
using FailAllocationsFn = void (*)(int);
using ChannelFn = void(__stdcall*)(int32_t, int32_t*, char*);

std::string WindowsPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

template <class Fn>
Fn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

}  // namespace

// The unload path waits 1000 ms for the receive threads to end, then cuts off those still
// inside their body, then gives their cancelled reads at most 1000 ms more before it closes
// the handles: FreeLibrary returns within about 2.1 s whatever the driver does.
TEST(UnloadBound, FreeLibraryReturnsInTimeWhenTheDriverIsSlowToCancel) {
  struct Case {
    uint32_t cancelMs;  // how long a cancelled read takes to end
    long minMs, maxMs;  // FreeLibrary's time
  };
  const Case cases[] = {
      {1500, 1000, 3500},  // the read ends while the unload still waits for it
      {4000, 1900, 3500},  // it ends only after the library is gone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("cancel after " + std::to_string(c.cancelMs) + " ms");
    TestBus bus;
    ScriptedPeer peer(bus, "dev0");
    peer.Identify(ProgrammerRec("NURVA Prog", 0x1234));
    HMODULE lib = ::LoadLibraryA(WindowsPath(NURVA_TESTDRV_DLL_PATH).c_str());
    ASSERT_NE(lib, nullptr) << ::GetLastError();
    auto use = Proc<UseDriverCallsFn>(lib, "NurvaTest_UseDriverCalls");
    auto abortAll = Proc<AbortAllFn>(lib, "AbortAll");
    auto getIds = Proc<GetProgIDsFn>(lib, "GetProgIDs");
    ASSERT_TRUE(use && abortAll && getIds);
    use(&nurva::usbio::win32::Driver());
    // Twice: freeing the first list cancels its read, which starts the stand-in's cancel
    // thread. Started only during the unload, that thread could not run before the
    // loader lock is free, and no cancel would end while the library is being unloaded;
    // a real driver ends cancels in the kernel.
    abortAll();
    abortAll();
    int32_t count = 0;
    char ids[64] = "";
    getIds(&count, ids);
    ASSERT_EQ(count, 1);
    ASSERT_TRUE(peer.WaitForInBound(2000));
    std::this_thread::sleep_for(50ms);  // the receive loop waits in its read

    fake::SetCancelDelayMs(c.cancelMs);
    long ms = 0;
    {
      host::Watchdog dog(30s, "FreeLibrary");
      const auto t0 = Clock::now();
      ASSERT_TRUE(::FreeLibrary(lib));
      ms = MsSince(t0);
    }
    std::printf("[ figure ] cancel %u ms: FreeLibrary took %ld ms\n", c.cancelMs, ms);
    EXPECT_GE(ms, c.minMs);
    EXPECT_LT(ms, c.maxMs);
    EXPECT_EQ(::GetModuleHandleA("nurva_testdrv.dll"), nullptr);

    // The cut-off read still ends, into memory the library left for it; nothing runs or
    // crashes when it does.
    const auto t0 = Clock::now();
    while (fake::GetStats().inFlight > 0 && MsSince(t0) < 6000) std::this_thread::sleep_for(20ms);
    const auto st = fake::GetStats();
    EXPECT_EQ(st.inFlight, 0);
    EXPECT_EQ(st.handlesOpen, 0) << "the device handles were closed";
    EXPECT_EQ(st.badCloses, 0);
    EXPECT_EQ(st.closedWithPendingIo, 0) << "no operation was cut off by a close";
    fake::SetCancelDelayMs(5);
  }
}

// No failure inside an export leaves it as an exception: with every allocation of the
// library failing, each export still answers.
TEST(ExportFailures, AnAllocationThatFailsInsideAnExportStaysInside) {
  HMODULE lib = ::LoadLibraryA(WindowsPath(NURVA_TESTDRV_DLL_PATH).c_str());
  ASSERT_NE(lib, nullptr) << ::GetLastError();
  auto fail = Proc<FailAllocationsFn>(lib, "NurvaTest_FailAllocations");
  auto abortAll = Proc<AbortAllFn>(lib, "AbortAll");
  auto getIds = Proc<GetProgIDsFn>(lib, "GetProgIDs");
  ASSERT_TRUE(fail && abortAll && getIds);
  struct Case {
    const char* exportName;
    int32_t channel;
    int32_t res;
    const char* text;
  };
  // Without a list each of these answers with a text longer than fits without allocating.
  const Case cases[] = {
      {"ClosePort", -1, 8, "internal error"},
      {"ClosePort", 0, 8, "internal error"},
      {"CheckProgrammer", 0, 8, "internal error"},
      {"InitChannel", 3, 8, "internal error"},
  };
  fail(1);
  for (const auto& c : cases) {
    auto fn = Proc<ChannelFn>(lib, c.exportName);
    ASSERT_NE(fn, nullptr) << c.exportName;
    int32_t res = 99;
    char text[64] = "#";
    bool escaped = false;
    try {
      fn(c.channel, &res, text);
    } catch (...) {
      escaped = true;
    }
    EXPECT_FALSE(escaped) << c.exportName << " " << c.channel;
    EXPECT_EQ(res, c.res) << c.exportName << " " << c.channel;
    EXPECT_STREQ(text, c.text) << c.exportName << " " << c.channel;
  }
  bool escaped = false;
  uint8_t found = 0xFF;
  int32_t count = -1;
  char ids[16] = "#";
  try {
    found = abortAll();
    getIds(&count, ids);
  } catch (...) {
    escaped = true;
  }
  fail(0);
  EXPECT_FALSE(escaped);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(count, 0);
  EXPECT_STREQ(ids, "");
  ::FreeLibrary(lib);
}
