// Driver requests that every backend makes the same way, through IoctlSync.
#include "usbio/USBIO.h"
#include "usbio/UsbIoPipe.h"

namespace nurva::usbio {

uint32_t TUsbIo::GetDriverInfo(USBIO_DRIVER_INFO* info) {
  return IoctlSync(IOCTL_USBIO_GET_DRIVER_INFO, nullptr, 0, info, sizeof *info, nullptr);
}

uint32_t TUsbIo::SetConfiguration(const USBIO_SET_CONFIGURATION* conf) {
  return IoctlSync(IOCTL_USBIO_SET_CONFIGURATION, conf, sizeof *conf, nullptr, 0, nullptr);
}

uint32_t TUsbIoPipe::Bind(int32_t deviceNumber, uint8_t endpointAddress, TDeviceList* list,
                          const Guid* interfaceGuid) {
  uint32_t st = Open(deviceNumber, list, interfaceGuid);
  if (st != 0) return st;
  return IoctlSync(IOCTL_USBIO_BIND_PIPE, &endpointAddress, 1, nullptr, 0, nullptr);
}

uint32_t TUsbIoPipe::Unbind() { return IoctlSync(IOCTL_USBIO_UNBIND_PIPE, nullptr, 0, nullptr, 0, nullptr); }

}  // namespace nurva::usbio
