// Device and pipe objects on the virtual bus.
#include <gtest/gtest.h>

#include "tests/support/ScriptedPeer.h"
#include "usbio/UsbIoPipe.h"

using namespace nurva;
using namespace nurva::test;
using namespace nurva::usbio;

namespace {
struct ListGuard {
  TDeviceList* list = TUsbIo::CreateDeviceList(&DeviceInterfaceGuid);
  ~ListGuard() { TUsbIo::DestroyDeviceList(list); }
};
}  // namespace

TEST(UsbIo, DeviceNumbersFollowTheSortedSocketNames) {
  TestBus bus;
  ScriptedPeer b(bus, "b"), a(bus, "a"), c(bus, "c");
  ListGuard l;
  TUsbIo dev;
  ASSERT_EQ(dev.Open(1, l.list, &DeviceInterfaceGuid), 0u);
  EXPECT_EQ(dev.GetDevicePathName(), bus.Dir() + "/b");
}

TEST(UsbIo, OpenStatusCodes) {
  TestBus bus;
  ScriptedPeer p(bus, "dev0");
  ListGuard l;
  TUsbIo dev;
  EXPECT_EQ(dev.Open(1, l.list, &DeviceInterfaceGuid), USBIO_ERR_NO_SUCH_DEVICE);
  EXPECT_EQ(dev.Open(-1, l.list, &DeviceInterfaceGuid), USBIO_ERR_NO_SUCH_DEVICE);
  EXPECT_EQ(dev.Open(0, nullptr, &DeviceInterfaceGuid), USBIO_ERR_INVALID_PARAMETER);
  EXPECT_EQ(dev.Open(0, l.list, nullptr), USBIO_ERR_INVALID_PARAMETER);
  EXPECT_FALSE(dev.IsOpen());
}

TEST(UsbIo, OpenOfAGoneSocketFails) {
  TestBus bus;
  auto p = std::make_unique<ScriptedPeer>(bus, "dev0");
  ListGuard l;  // snapshot still lists the device
  p.reset();
  TUsbIo dev;
  EXPECT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), USBIO_ERR_DEVICE_OPEN_FAILED);
}

TEST(UsbIo, OpenTwiceKeepsTheFirstConnection) {
  TestBus bus;
  ScriptedPeer p(bus, "dev0");
  ListGuard l;
  TUsbIo dev;
  ASSERT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), 0u);
  ASSERT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), 0u);
  int infos = 0;
  for (auto c : p.RequestCodes()) infos += c == IOCTL_USBIO_GET_DRIVER_INFO;
  EXPECT_EQ(infos, 1) << "the second open sends nothing";
}

TEST(UsbIo, RequestsOnAClosedObjectAreRefused) {
  TUsbIoPipe pipe;
  EXPECT_EQ(pipe.Unbind(), USBIO_ERR_DEVICE_NOT_OPEN);
  USBIO_SET_CONFIGURATION conf{};
  EXPECT_EQ(pipe.SetConfiguration(&conf), USBIO_ERR_DEVICE_NOT_OPEN);
}

TEST(UsbIo, BindReturnsTheFailedOpenAndSendsNoBind) {
  TestBus bus;
  ScriptedPeer p(bus, "dev0");
  p.FailRequest(IOCTL_USBIO_GET_DRIVER_INFO, 0xE0000042);
  ListGuard l;
  TUsbIoPipe pipe;
  EXPECT_EQ(pipe.Bind(0, kEndpointIn, l.list, &DeviceInterfaceGuid), 0xE0000042u);
  EXPECT_FALSE(pipe.IsOpen());
  for (auto c : p.RequestCodes()) EXPECT_NE(c, IOCTL_USBIO_BIND_PIPE);
}

TEST(UsbIo, LateAnswerIsNotTakenForTheNextOne) {
  TestBus bus;
  ScriptedPeer p(bus, "dev0");
  ListGuard l;
  TUsbIo dev;
  ASSERT_EQ(dev.Open(0, l.list, &DeviceInterfaceGuid), 0u);
  // The first configuration is answered (with success) only after the request gave up;
  // the second is refused, and that refusal must be what the second request reports.
  p.DelayRequestOnce(IOCTL_USBIO_SET_CONFIGURATION, 2300);
  USBIO_SET_CONFIGURATION conf{};
  EXPECT_EQ(dev.SetConfiguration(&conf), kErrWaitTimeout);
  p.FailRequest(IOCTL_USBIO_SET_CONFIGURATION, 0x77);
  EXPECT_EQ(dev.SetConfiguration(&conf), 0x77u);
}
