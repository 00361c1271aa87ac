// A device object whose handle is bound to one endpoint: reads and writes on it are
// bulk transfers on that endpoint.
#pragma once

#include "usbio/USBIO.h"

namespace nurva::usbio {

class TUsbIoPipe : public TUsbIo {
 public:
  // Opens the device, then binds the handle to `endpointAddress`. Returns the first
  // non-zero status (a failed open sends no bind request) or 0.
  uint32_t Bind(int32_t deviceNumber, uint8_t endpointAddress, TDeviceList* list, const Guid* interfaceGuid);
  // USBIO_ERR_DEVICE_NOT_OPEN on an object that is not open.
  uint32_t Unbind();
};

}  // namespace nurva::usbio
