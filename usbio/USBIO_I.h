// Records and request codes of the USB driver, and the programmers' interface class.
// Packed, little-endian, sizes checked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nurva::usbio {

struct Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(Guid) == 16);

// {658C7C1C-5893-4E0B-A7C1-8B9D94FECA88}
inline constexpr Guid DeviceInterfaceGuid = {
    0x658C7C1C, 0x5893, 0x4E0B, {0xA7, 0xC1, 0x8B, 0x9D, 0x94, 0xFE, 0xCA, 0x88}};

// Driver requests.
inline constexpr uint32_t IOCTL_USBIO_GET_DRIVER_INFO = 0x8094206C;
inline constexpr uint32_t IOCTL_USBIO_SET_CONFIGURATION = 0x80942024;
inline constexpr uint32_t IOCTL_USBIO_BIND_PIPE = 0x80942078;
inline constexpr uint32_t IOCTL_USBIO_UNBIND_PIPE = 0x8094207C;
inline constexpr uint32_t IOCTL_USBIO_CLASS_OR_VENDOR_OUT_REQUEST = 0x80942035;

// Endpoints of a programmer.
inline constexpr uint8_t kEndpointIn = 0x81;
inline constexpr uint8_t kEndpointOut = 0x01;

// Largest bulk transfer configured for the interface; one read is one packet.
inline constexpr uint32_t kMaxTransferSize = 512;

#pragma pack(push, 1)
struct USBIO_INTERFACE_SETTING {
  uint16_t InterfaceIndex;
  uint16_t AlternateSettingIndex;
  uint32_t MaximumTransferSize;
};

inline constexpr int kUsbioMaxInterfaces = 32;

struct USBIO_SET_CONFIGURATION {
  uint16_t ConfigurationIndex;
  uint16_t NbOfInterfaces;
  USBIO_INTERFACE_SETTING InterfaceList[kUsbioMaxInterfaces];
};

struct USBIO_DRIVER_INFO {
  uint16_t APIVersion;
  uint16_t DriverVersion;
  uint32_t DriverBuildNumber;
  uint32_t Flags;
};

enum USBIO_REQUEST_TYPE : uint32_t {
  UsbioRequestDummy_0 = 0,
  RequestTypeClass = 1,
  RequestTypeVendor = 2,
};

enum USBIO_REQUEST_RECIPIENT : uint32_t {
  RecipientDevice = 0,
  RecipientInterface = 1,
  RecipientEndpoint = 2,
  RecipientOther = 3,
};

struct USBIO_CLASS_OR_VENDOR_REQUEST {
  uint32_t Flags;
  uint32_t _Type;
  uint32_t Recipient;
  uint8_t RequestTypeReservedBits;
  uint8_t Request;
  uint16_t Value;
  uint16_t Index;
};
#pragma pack(pop)

static_assert(sizeof(USBIO_INTERFACE_SETTING) == 8);
static_assert(offsetof(USBIO_INTERFACE_SETTING, AlternateSettingIndex) == 2);
static_assert(offsetof(USBIO_INTERFACE_SETTING, MaximumTransferSize) == 4);
static_assert(sizeof(USBIO_SET_CONFIGURATION) == 260);
static_assert(offsetof(USBIO_SET_CONFIGURATION, NbOfInterfaces) == 2);
static_assert(offsetof(USBIO_SET_CONFIGURATION, InterfaceList) == 4);
static_assert(sizeof(USBIO_DRIVER_INFO) == 12);
static_assert(offsetof(USBIO_DRIVER_INFO, DriverVersion) == 2);
static_assert(offsetof(USBIO_DRIVER_INFO, DriverBuildNumber) == 4);
static_assert(offsetof(USBIO_DRIVER_INFO, Flags) == 8);
static_assert(sizeof(USBIO_CLASS_OR_VENDOR_REQUEST) == 18);
static_assert(offsetof(USBIO_CLASS_OR_VENDOR_REQUEST, _Type) == 4);
static_assert(offsetof(USBIO_CLASS_OR_VENDOR_REQUEST, Recipient) == 8);
static_assert(offsetof(USBIO_CLASS_OR_VENDOR_REQUEST, RequestTypeReservedBits) == 12);
static_assert(offsetof(USBIO_CLASS_OR_VENDOR_REQUEST, Request) == 13);
static_assert(offsetof(USBIO_CLASS_OR_VENDOR_REQUEST, Value) == 14);
static_assert(offsetof(USBIO_CLASS_OR_VENDOR_REQUEST, Index) == 16);

// Status codes of the device and pipe objects (0 is success; anything else
// not listed is the platform's error code or the driver's status).
inline constexpr uint32_t USBIO_ERR_SUCCESS = 0;
inline constexpr uint32_t USBIO_ERR_NO_MEMORY = 0xE0000100;
inline constexpr uint32_t USBIO_ERR_NO_DETAIL_SIZE = 0xE0001000;
inline constexpr uint32_t USBIO_ERR_DEVICE_OPEN_FAILED = 0xE0001100;
inline constexpr uint32_t USBIO_ERR_DEVICE_NOT_OPEN = 0xE0001102;
inline constexpr uint32_t USBIO_ERR_NO_SUCH_DEVICE = 0xE0001104;
inline constexpr uint32_t USBIO_ERR_INVALID_PARAMETER = 0xE0001105;

// Platform codes the objects report themselves.
inline constexpr uint32_t kErrIoPending = 997;           // ERROR_IO_PENDING
inline constexpr uint32_t kErrNoMoreItems = 259;         // ERROR_NO_MORE_ITEMS
inline constexpr uint32_t kErrWaitTimeout = 258;         // WAIT_TIMEOUT
inline constexpr uint32_t kErrDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr uint32_t kErrOperationAborted = 995;    // ERROR_OPERATION_ABORTED
inline constexpr uint32_t kErrDevNotExist = 55;          // ERROR_DEV_NOT_EXIST

// True for the statuses with which a transfer or request fails once its device has been
// unplugged (the bus connection closed, or the driver's device-removed status): nothing
// on that handle can succeed again.
constexpr bool IsDeviceGone(uint32_t status) {
  return status == kErrDeviceNotConnected || status == kErrDevNotExist;
}

}  // namespace nurva::usbio
