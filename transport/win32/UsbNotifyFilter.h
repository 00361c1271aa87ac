// The notification filter with which the notifier's window registers for the
// programmers' interface class.
#pragma once

#include <windows.h>
#include <dbt.h>

#include <cstring>

#include "usbio/USBIO_I.h"

namespace nurva {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) == 12);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == 28);

inline DEV_BROADCAST_DEVICEINTERFACE_W UsbNotificationFilter() {
  DEV_BROADCAST_DEVICEINTERFACE_W f;
  std::memset(&f, 0, sizeof f);
  f.dbcc_size = sizeof f;
  f.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(&f.dbcc_classguid, &usbio::DeviceInterfaceGuid, sizeof f.dbcc_classguid);
  return f;
}

}  // namespace nurva
