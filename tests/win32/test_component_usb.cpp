// The device-change notifier: its hidden window, its registration filter, and which
// device-change messages reach which handler.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "transport/ComponentUSB.h"
#include "transport/win32/UsbNotifyFilter.h"

using namespace nurva;

namespace {

HWND Window(const TComponentUSB& c) { return static_cast<HWND>(c.WindowHandle()); }

struct Calls {
  int arrivals = 0;
  int removals = 0;
  std::vector<TComponentUSB*> senders;
  void Watch(TComponentUSB& c) {
    c.OnUSBArrival = [this](TComponentUSB* s) {
      ++arrivals;
      senders.push_back(s);
    };
    c.OnUSBRemove = [this](TComponentUSB* s) {
      ++removals;
      senders.push_back(s);
    };
  }
};

DEV_BROADCAST_HDR Header(DWORD type) {
  DEV_BROADCAST_HDR h;
  std::memset(&h, 0, sizeof h);
  h.dbch_size = sizeof h;
  h.dbch_devicetype = type;
  return h;
}

bool ClassRegistered() {
  WNDCLASSEXW wc;
  wc.cbSize = sizeof wc;
  HMODULE self = ::GetModuleHandleW(nullptr);
  return ::GetClassInfoExW(self, L"NurvaUsbNotifyWindow", &wc) != 0;
}

}  // namespace

TEST(ComponentUSB, OwnsAHiddenWindowOnAThreadOfItsOwnRegisteredForNotifications) {
  auto c = std::make_unique<TComponentUSB>();
  HWND h = Window(*c);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(::IsWindow(h));
  EXPECT_FALSE(::IsWindowVisible(h));
  const DWORD owner = ::GetWindowThreadProcessId(h, nullptr);
  EXPECT_NE(owner, ::GetCurrentThreadId()) << "the window is not the creating thread's";
  EXPECT_TRUE(c->RegisterUSBNotification());
  // Messages other than device changes get the default window procedure.
  ASSERT_TRUE(::SetWindowTextW(h, L"abc"));
  EXPECT_EQ(::GetWindowTextLengthW(h), 3);
  // Freed on a thread that neither made the notifier nor owns its window.
  std::thread([&] { c.reset(); }).join();
  EXPECT_FALSE(::IsWindow(h));
  EXPECT_FALSE(ClassRegistered());
  HANDLE t = ::OpenThread(SYNCHRONIZE, FALSE, owner);
  if (t) {
    EXPECT_EQ(::WaitForSingleObject(t, 2000), WAIT_OBJECT_0) << "the notifier's thread has ended";
    ::CloseHandle(t);
  }
}

TEST(ComponentUSB, RegistrationFilterIsTheInterfaceRecordOfTheProgrammersClass) {
  const DEV_BROADCAST_DEVICEINTERFACE_W f = UsbNotificationFilter();
  uint8_t bytes[32];
  std::memcpy(bytes, &f, sizeof bytes);
  const std::vector<uint8_t> expected = {
      32,   0,    0,    0,                                      // size
      5,    0,    0,    0,                                      // device interface
      0,    0,    0,    0,                                      // reserved
      0x1C, 0x7C, 0x8C, 0x65, 0x93, 0x58, 0x0B, 0x4E,             // {658C7C1C-5893-4E0B-
      0xA7, 0xC1, 0x8B, 0x9D, 0x94, 0xFE, 0xCA, 0x88,             //  A7C1-8B9D94FECA88}
      0,    0,                                                  // empty name
      0,    0,                                                  // padding
  };
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 32), expected);
}

TEST(ComponentUSB, DeviceChangeMessagesAndTheHandlersTheyCall) {
  struct Case {
    const char* what;
    WPARAM event;
    bool withHeader;
    DWORD type;
    int arrivals, removals;
  };
  const Case cases[] = {
      {"interface arrival", DBT_DEVICEARRIVAL, true, DBT_DEVTYP_DEVICEINTERFACE, 1, 0},
      {"interface removed", DBT_DEVICEREMOVECOMPLETE, true, DBT_DEVTYP_DEVICEINTERFACE, 0, 1},
      {"volume arrival", DBT_DEVICEARRIVAL, true, DBT_DEVTYP_VOLUME, 0, 0},
      {"volume removed", DBT_DEVICEREMOVECOMPLETE, true, DBT_DEVTYP_VOLUME, 0, 0},
      {"port arrival", DBT_DEVICEARRIVAL, true, DBT_DEVTYP_PORT, 0, 0},
      {"interface query remove", DBT_DEVICEQUERYREMOVE, true, DBT_DEVTYP_DEVICEINTERFACE, 0, 0},
      {"interface remove pending", DBT_DEVICEREMOVEPENDING, true, DBT_DEVTYP_DEVICEINTERFACE, 0, 0},
      {"arrival without a header", DBT_DEVICEARRIVAL, false, 0, 0, 0},
      {"device nodes changed", DBT_DEVNODES_CHANGED, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    TComponentUSB n;
    Calls calls;
    calls.Watch(n);
    DEV_BROADCAST_HDR hdr = Header(c.type);
    LRESULT r = ::SendMessageW(Window(n), WM_DEVICECHANGE, c.event,
                               c.withHeader ? reinterpret_cast<LPARAM>(&hdr) : 0);
    EXPECT_EQ(r, 0) << c.what;
    EXPECT_EQ(calls.arrivals, c.arrivals) << c.what;
    EXPECT_EQ(calls.removals, c.removals) << c.what;
    for (auto* s : calls.senders) EXPECT_EQ(s, &n) << c.what << ": the notifier is the sender";
  }
}

TEST(ComponentUSB, UnassignedHandlersAreSkippedAndAThrowingOneStaysInside) {
  TComponentUSB n;
  DEV_BROADCAST_HDR hdr = Header(DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_NO_THROW(n.WMDeviceChange(DBT_DEVICEARRIVAL, &hdr));
  EXPECT_NO_THROW(n.WMDeviceChange(DBT_DEVICEREMOVECOMPLETE, &hdr));
  int removals = 0;
  n.OnUSBRemove = [&](TComponentUSB*) { ++removals; };
  EXPECT_NO_THROW(n.WMDeviceChange(DBT_DEVICEARRIVAL, &hdr)) << "only the removal handler is assigned";
  EXPECT_EQ(removals, 0);

  n.OnUSBArrival = [](TComponentUSB*) { throw std::runtime_error("handler failed"); };
  EXPECT_EQ(::SendMessageW(Window(n), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&hdr)), 0);
  EXPECT_EQ(::SendMessageW(Window(n), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&hdr)),
            0);
  EXPECT_EQ(removals, 1) << "the window keeps working after a handler threw";
}

TEST(ComponentUSB, WindowClassLivesAsLongAsSomeNotifier) {
  ASSERT_FALSE(ClassRegistered());
  {
    auto a = std::make_unique<TComponentUSB>();
    TComponentUSB b;
    EXPECT_TRUE(ClassRegistered());
    HWND ha = Window(*a);
    a.reset();
    EXPECT_FALSE(::IsWindow(ha)) << "the window goes with its notifier";
    EXPECT_TRUE(ClassRegistered());
    Calls calls;
    calls.Watch(b);
    DEV_BROADCAST_HDR hdr = Header(DBT_DEVTYP_DEVICEINTERFACE);
    ::SendMessageW(Window(b), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&hdr));
    EXPECT_EQ(calls.arrivals, 1);
  }
  EXPECT_FALSE(ClassRegistered()) << "no class is left behind for an unloaded library";
  TComponentUSB again;
  EXPECT_NE(Window(again), nullptr);
}
