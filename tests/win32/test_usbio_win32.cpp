// The Windows device and pipe objects against the stand-in driver: status codes, the
// parameters they hand the system, and what happens to requests that do not complete.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "tests/support/ScriptedPeer.h"
#include "tools/vusb/FakeDriver.h"
#include "usbio/UsbIoPipe.h"

using namespace nurva;
using namespace nurva::test;
using namespace nurva::usbio;
namespace fake = nurva::vusb::fake;
using namespace std::chrono_literals;

namespace {

struct ListGuard {
  TDeviceList* list = TUsbIo::CreateDeviceList(&DeviceInterfaceGuid);
  ~ListGuard() { TUsbIo::DestroyDeviceList(list); }
};

long Ms(Clock::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); }

std::vector<fake::IoRecord> Records(fake::IoKind kind, uint32_t code = 0) {
  std::vector<fake::IoRecord> r;
  for (const auto& e : fake::IoLog())
    if (e.kind == kind && (kind != fake::IoKind::Request || code == 0 || e.code == code)) r.push_back(e);
  return r;
}

int Count(const std::vector<uint32_t>& codes, uint32_t code) {
  int n = 0;
  for (auto c : codes) n += c == code;
  return n;
}

}  // namespace

TEST(Win32UsbIo, OpenStatusCodes) {
  struct Case {
    const char* what;
    int32_t number;
    bool withList, withClass;
    std::function<void(ScriptedPeer&)> setup;
    uint32_t status;
    bool reachesCreateFile;
  };
  const Case cases[] = {
      {"number beyond the list", 1, true, true, nullptr, USBIO_ERR_NO_SUCH_DEVICE, false},
      {"negative number", -1, true, true, nullptr, USBIO_ERR_NO_SUCH_DEVICE, false},
      {"no device list", 0, false, true, nullptr, USBIO_ERR_INVALID_PARAMETER, false},
      {"no interface class", 0, true, false, nullptr, USBIO_ERR_INVALID_PARAMETER, false},
      {"no size for the detail", 0, true, true, [](ScriptedPeer&) { fake::ReportNoDetailSize(true); },
       USBIO_ERR_NO_DETAIL_SIZE, false},
      {"device gone since the list was made", 0, true, true, [](ScriptedPeer& p) { p.Unplug(); },
       USBIO_ERR_DEVICE_OPEN_FAILED, true},
      {"driver info refused", 0, true, true,
       [](ScriptedPeer& p) { p.FailRequest(IOCTL_USBIO_GET_DRIVER_INFO, 0xE0000042); }, 0xE0000042, true},
  };
  for (const auto& c : cases) {
    TestBus bus;
    ScriptedPeer peer(bus, "dev0");
    ListGuard l;
    if (c.setup) c.setup(peer);
    {
      TUsbIo dev;
      EXPECT_EQ(dev.Open(c.number, c.withList ? l.list : nullptr, c.withClass ? &DeviceInterfaceGuid : nullptr),
                c.status)
          << c.what;
      EXPECT_FALSE(dev.IsOpen()) << c.what;
      EXPECT_EQ(fake::GetStats().handlesOpen, 0) << c.what << ": a failed open leaves no handle";
    }
    EXPECT_EQ(!fake::Opens().empty(), c.reachesCreateFile) << c.what;
  }
}

TEST(Win32UsbIo, DeviceListFailureGivesNoList) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  fake::FailDeviceLists(true);
  EXPECT_EQ(TUsbIo::CreateDeviceList(&DeviceInterfaceGuid), nullptr);
  EXPECT_EQ(fake::GetStats().deviceLists, 0);
}

TEST(Win32UsbIo, OpenAsksForPresentInterfacesAndOpensForOverlappedSharedAccess) {
  TestBus bus;
  ScriptedPeer b(bus, "b"), a(bus, "a");
  {
    ListGuard l;
    EXPECT_EQ(fake::GetStats().classDevsFlags, static_cast<uint32_t>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    TUsbIo dev;
    ASSERT_EQ(dev.Open(1, l.list, &DeviceInterfaceGuid), 0u);
    EXPECT_EQ(dev.GetDevicePathName(), bus.Dir() + "/b") << "devices are numbered in name order";
    const auto opens = fake::Opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].path, bus.Dir() + "/b");
    EXPECT_EQ(opens[0].access, static_cast<uint32_t>(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(opens[0].share, static_cast<uint32_t>(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(opens[0].disposition, static_cast<uint32_t>(OPEN_EXISTING));
    EXPECT_EQ(opens[0].flags, static_cast<uint32_t>(FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(b.RequestCodes(), std::vector<uint32_t>{IOCTL_USBIO_GET_DRIVER_INFO});
    dev.Close();
    EXPECT_EQ(dev.GetDevicePathName(), "");
  }
  const auto st = fake::GetStats();
  EXPECT_EQ(st.handlesOpen, 0);
  EXPECT_EQ(st.deviceLists, 0);
  EXPECT_EQ(st.badCloses, 0);
}

TEST(Win32UsbIo, OpenTwiceKeepsTheFirstHandle) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  ListGuard l;
  TUsbIo dev;
  ASSERT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), 0u);
  ASSERT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), 0u);
  const auto opens = fake::Opens();
  ASSERT_EQ(opens.size(), 1u) << "the second open opens nothing";
  EXPECT_EQ(Count(peer.RequestCodes(), IOCTL_USBIO_GET_DRIVER_INFO), 1);
  USBIO_SET_CONFIGURATION conf{};
  ASSERT_EQ(dev.SetConfiguration(&conf), 0u);
  const auto sets = Records(fake::IoKind::Request, IOCTL_USBIO_SET_CONFIGURATION);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].handle, opens[0].handle) << "requests still go to the first handle";
}

TEST(Win32UsbIo, ANeverOpenedObjectRefusesEverythingAndReachesNoDriver) {
  TestBus bus;
  TUsbIoPipe pipe;
  EXPECT_EQ(pipe.Unbind(), USBIO_ERR_DEVICE_NOT_OPEN);
  USBIO_SET_CONFIGURATION conf{};
  EXPECT_EQ(pipe.SetConfiguration(&conf), USBIO_ERR_DEVICE_NOT_OPEN);
  TUsbIoOverlapped ov;
  uint8_t buf[8];
  uint32_t bytes = 0, status = 0;
  EXPECT_EQ(pipe.StartRead(buf, sizeof buf, ov, bytes, status), IoStart::Failed);
  EXPECT_EQ(status, USBIO_ERR_DEVICE_NOT_OPEN);
  EXPECT_EQ(pipe.StartWrite(buf, sizeof buf, ov, bytes, status), IoStart::Failed);
  EXPECT_EQ(status, USBIO_ERR_DEVICE_NOT_OPEN);
  EXPECT_TRUE(fake::IoLog().empty());
}

TEST(Win32UsbIo, BindReturnsTheFailedOpenAndSendsNoBind) {
  struct Case {
    const char* what;
    int32_t number;
    uint32_t driverInfoStatus;
    uint32_t status;
  };
  for (const Case& c : {Case{"driver info refused", 0, 0xE0000042, 0xE0000042},
                        Case{"number beyond the list", 3, 0, USBIO_ERR_NO_SUCH_DEVICE}}) {
    TestBus bus;
    ScriptedPeer peer(bus, "dev0");
    if (c.driverInfoStatus) peer.FailRequest(IOCTL_USBIO_GET_DRIVER_INFO, c.driverInfoStatus);
    ListGuard l;
    TUsbIoPipe pipe;
    EXPECT_EQ(pipe.Bind(c.number, kEndpointIn, l.list, &DeviceInterfaceGuid), c.status) << c.what;
    EXPECT_FALSE(pipe.IsOpen()) << c.what;
    EXPECT_EQ(Count(peer.RequestCodes(), IOCTL_USBIO_BIND_PIPE), 0) << c.what;
    EXPECT_TRUE(Records(fake::IoKind::Request, IOCTL_USBIO_BIND_PIPE).empty()) << c.what;
  }
}

TEST(Win32UsbIo, RequestStatusOfTheDeviceIsReturnedAsItIs) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  peer.FailRequest(IOCTL_USBIO_SET_CONFIGURATION, 0xE0000302);
  ListGuard l;
  TUsbIo dev;
  ASSERT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), 0u);
  USBIO_SET_CONFIGURATION conf{};
  EXPECT_EQ(dev.SetConfiguration(&conf), 0xE0000302u);
  USBIO_DRIVER_INFO info{};
  EXPECT_EQ(dev.GetDriverInfo(&info), 0u);
  EXPECT_EQ(info.APIVersion, 0x0210) << "the output record arrives";
}

TEST(Win32UsbIo, UnansweredRequestIsCancelledAfterItsLimitAndHasEndedWhenItReturns) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  ListGuard l;
  TUsbIo dev;
  ASSERT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), 0u);
  peer.SilenceRequest(IOCTL_USBIO_SET_CONFIGURATION);
  fake::SetCancelDelayMs(150);  // the cancelled request ends well after the cancel
  USBIO_SET_CONFIGURATION conf{};
  const auto t0 = Clock::now();
  EXPECT_EQ(dev.SetConfiguration(&conf), kErrWaitTimeout);
  const auto returned = Clock::now();
  EXPECT_GE(Ms(returned - t0), 1950 + 140);
  EXPECT_LT(Ms(returned - t0), 3500);
  const auto recs = Records(fake::IoKind::Request, IOCTL_USBIO_SET_CONFIGURATION);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_TRUE(recs[0].pending);
  EXPECT_TRUE(recs[0].cancelRequested);
  EXPECT_GE(Ms(recs[0].cancelAt - recs[0].started), 1950);
  ASSERT_TRUE(recs[0].finished);
  EXPECT_EQ(recs[0].ntstatus, fake::kStatusCancelled);
  EXPECT_LE(recs[0].finishedAt, returned) << "the shared record was free again before the call returned";
  // The object's shared record is usable at once for the next request.
  USBIO_DRIVER_INFO info{};
  EXPECT_EQ(dev.GetDriverInfo(&info), 0u);
  EXPECT_EQ(fake::GetStats().reusedOverlapped, 0);
}

class Win32PipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_unique<ScriptedPeer>(bus, "dev0");
    list = std::make_unique<ListGuard>();
    ASSERT_EQ(in.Bind(0, kEndpointIn, list->list, &DeviceInterfaceGuid), 0u);
    ASSERT_TRUE(peer->WaitForInBound(2000));
  }
  void TearDown() override {
    in.Close();
    const auto st = fake::GetStats();
    EXPECT_EQ(st.closedWithPendingIo, 0);
    EXPECT_EQ(st.reusedOverlapped, 0);
    EXPECT_EQ(st.inFlight, 0);
  }
  TestBus bus;
  std::unique_ptr<ScriptedPeer> peer;
  std::unique_ptr<ListGuard> list;
  TUsbIoPipe in;
};

TEST_F(Win32PipeTest, ReadCompletesAtOnceOrThroughItsEvent) {
  TUsbIoOverlapped ov;
  uint8_t buf[512];
  uint32_t bytes = 0, status = 0;
  ASSERT_EQ(in.StartRead(buf, sizeof buf, ov, bytes, status), IoStart::Pending);
  EXPECT_FALSE(ov.GetResult(bytes, status));
  EXPECT_EQ(status, kErrIoIncomplete) << "still in flight";
  EXPECT_TRUE(ov.InFlight());
  const Bytes t1 = {0x03, 0x00, 'a', 'b', 'c'};
  ASSERT_TRUE(peer->Device().SendIn(t1));
  WaitItem it = ov.Item();
  ASSERT_EQ(WaitForAny(&it, 1, 1000), 0);
  ASSERT_TRUE(ov.GetResult(bytes, status));
  EXPECT_EQ(Bytes(buf, buf + bytes), t1);
  EXPECT_FALSE(ov.InFlight());

  // A transfer already waiting completes the next read at once; one longer than the read
  // is cut to its size.
  const Bytes t2(600, 0x5A);
  ASSERT_TRUE(peer->Device().SendIn(t2));
  ASSERT_EQ(in.StartRead(buf, sizeof buf, ov, bytes, status), IoStart::Completed);
  EXPECT_EQ(bytes, 512u);
}

TEST_F(Win32PipeTest, CancelledReadHasEndedWhenCancelReturnsAndLeavesTheBufferAlone) {
  TUsbIoOverlapped ov;
  uint8_t buf[512];
  std::memset(buf, 0xAA, sizeof buf);
  uint32_t bytes = 0, status = 0;
  ASSERT_EQ(in.StartRead(buf, sizeof buf, ov, bytes, status), IoStart::Pending);
  fake::SetCancelDelayMs(120);
  const auto t0 = Clock::now();
  ov.Cancel();
  const auto returned = Clock::now();
  EXPECT_GE(Ms(returned - t0), 100) << "Cancel waits for the cancelled read to end";
  EXPECT_FALSE(ov.InFlight());
  const auto reads = Records(fake::IoKind::Read);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_TRUE(reads[0].cancelRequested);
  ASSERT_TRUE(reads[0].finished);
  EXPECT_EQ(reads[0].ntstatus, fake::kStatusCancelled);
  EXPECT_LE(reads[0].finishedAt, returned);

  // Data that comes now waits for the next read; the old buffer is never written.
  const Bytes t = {0x01, 0x00, 'z'};
  ASSERT_TRUE(peer->Device().SendIn(t));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(Bytes(buf, buf + sizeof buf), Bytes(sizeof buf, 0xAA));
  uint8_t next[512];
  ASSERT_EQ(in.StartRead(next, sizeof next, ov, bytes, status), IoStart::Completed) << "the record is reusable";
  EXPECT_EQ(Bytes(next, next + bytes), t);
}

TEST_F(Win32PipeTest, RecordDestroyedInFlightCancelsAndWaitsForItsRead) {
  uint8_t buf[512];
  fake::SetCancelDelayMs(50);
  {
    TUsbIoOverlapped ov;
    uint32_t bytes = 0, status = 0;
    ASSERT_EQ(in.StartRead(buf, sizeof buf, ov, bytes, status), IoStart::Pending);
  }
  EXPECT_EQ(fake::GetStats().inFlight, 0);
  const auto reads = Records(fake::IoKind::Read);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_TRUE(reads[0].finished);
  EXPECT_EQ(reads[0].ntstatus, fake::kStatusCancelled);
}

TEST_F(Win32PipeTest, UnplugEndsAPendingReadWithAFailure) {
  TUsbIoOverlapped ov;
  uint8_t buf[512];
  uint32_t bytes = 0, status = 0;
  ASSERT_EQ(in.StartRead(buf, sizeof buf, ov, bytes, status), IoStart::Pending);
  peer->Unplug();
  WaitItem it = ov.Item();
  ASSERT_EQ(WaitForAny(&it, 1, 1000), 0);
  EXPECT_FALSE(ov.GetResult(bytes, status));
  EXPECT_EQ(status, kErrDeviceNotConnected);
  EXPECT_EQ(in.StartRead(buf, sizeof buf, ov, bytes, status), IoStart::Failed);
  EXPECT_EQ(status, kErrDeviceNotConnected);
}
