// The device object: one handle to a programmer served by the USB driver.
//
// This header is the contract between the programmer link and whatever stands in the
// driver's place. Two backends implement it:
//   - win32/  the USBIO kernel driver through SetupAPI, CreateFileW and DeviceIoControl;
//   - vusb/   the virtual USB bus of Linux, where each device is a Unix socket.
// Test fakes sit below these backends (a scripted peer on the bus, a fake driver under
// the Win32 calls), never beside them, so the link's code is the same everywhere.
//
// Status codes (uint32_t, 0 = success) returned by the operations:
//   USBIO_ERR_NO_MEMORY            no memory for the detail record, or the request event failed
//   USBIO_ERR_NO_DETAIL_SIZE       the platform reported no size for the interface detail
//   USBIO_ERR_DEVICE_OPEN_FAILED   opening the device path failed
//   USBIO_ERR_DEVICE_NOT_OPEN      a request on an object that is not open
//   USBIO_ERR_NO_SUCH_DEVICE       the device list has no device with that number
//   USBIO_ERR_INVALID_PARAMETER    no device list or no interface class given
//   kErrWaitTimeout                a synchronous request found no completion in time
//   anything else                  the platform's error code, or the driver's status
//
// Operations (all return a status and never throw):
//   CreateDeviceList / DestroyDeviceList   snapshot of the present devices of a class
//   Open(n, list, guid)                    open device n (overlapped); checks the driver with
//                                          GetDriverInfo; on an open object: 0, nothing changes
//   Close()                                closes the handle; safe on a closed object
//   IoctlSync(...)                         one request, serialised by the object's lock, waited
//                                          for at most kSyncRequestTimeoutMs
//   StartRead / StartWrite / StartIoctl    asynchronous I/O on the handle, see TUsbIoOverlapped
//
// Threading: one object may be used from several threads; IoctlSync calls are serialised by
// the object's lock. Asynchronous I/O needs one TUsbIoOverlapped per operation in flight;
// Close() must not run while an asynchronous operation of the object is in flight (the
// link cancels and finishes its I/O before it closes a handle).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "usbio/OsWait.h"
#include "usbio/USBIO_I.h"

namespace nurva::usbio {

// Snapshot of the present devices of one interface class; backend-defined.
struct TDeviceList;

// Longest wait of a synchronous driver request.
inline constexpr uint32_t kSyncRequestTimeoutMs = 2000;

enum class IoStart {
  Completed,  // finished at once; the byte count is in `bytes`
  Pending,    // in flight: wait on the record's Item(), then GetResult or Cancel
  Failed,     // did not start; `status` says why
};

class TUsbIo;

// The record of one asynchronous transfer or driver request: the overlapped record and
// its completion event. The buffers an operation was started with must stay valid until
// the operation is finished: GetResult has returned true, or Cancel has returned.
// The destructor cancels an operation still in flight and waits for it.
class TUsbIoOverlapped {
 public:
  TUsbIoOverlapped();
  ~TUsbIoOverlapped();
  TUsbIoOverlapped(const TUsbIoOverlapped&) = delete;
  TUsbIoOverlapped& operator=(const TUsbIoOverlapped&) = delete;

  // False when the completion event could not be created.
  bool Valid() const;
  // Signalled when the pending operation has completed (or may have: see GetResult).
  WaitItem Item() const;
  bool InFlight() const { return owner_ != nullptr; }

  // Fetches the result of the pending operation without waiting. True: finished with
  // `bytes` transferred. False with status kErrIoIncomplete: still in flight, wait again.
  // False with any other status: finished with that failure.
  bool GetResult(uint32_t& bytes, uint32_t& status);
  // Cancels the pending operation and waits until it no longer uses its buffers.
  void Cancel();

  struct State;  // backend-defined

 private:
  friend class TUsbIo;
  std::unique_ptr<State> s_;
  TUsbIo* owner_ = nullptr;  // object of the operation in flight, or none
};

inline constexpr uint32_t kErrIoIncomplete = 996;  // ERROR_IO_INCOMPLETE

class TUsbIo {
 public:
  TUsbIo();
  virtual ~TUsbIo();
  TUsbIo(const TUsbIo&) = delete;
  TUsbIo& operator=(const TUsbIo&) = delete;

  // None when the platform fails.
  static TDeviceList* CreateDeviceList(const Guid* interfaceGuid);
  static void DestroyDeviceList(TDeviceList* list);

  uint32_t Open(int32_t deviceNumber, TDeviceList* list, const Guid* interfaceGuid);
  void Close();
  bool IsOpen() const;

  // Device path of the opened (or last looked-up) device; empty when none.
  std::string GetDevicePathName() const;
  uint32_t GetDeviceInstanceDetails(int32_t deviceNumber, TDeviceList* list, const Guid* interfaceGuid);

  uint32_t GetDriverInfo(USBIO_DRIVER_INFO* info);
  uint32_t SetConfiguration(const USBIO_SET_CONFIGURATION* conf);
  uint32_t IoctlSync(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* bytesReturned);

  // Asynchronous I/O. `ov` must not have an operation in flight. On Failed, `status`
  // holds the reason; on Completed, `bytes` the count.
  IoStart StartRead(void* buf, uint32_t size, TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status);
  IoStart StartWrite(const void* buf, uint32_t size, TUsbIoOverlapped& ov, uint32_t& bytes,
                     uint32_t& status);
  IoStart StartIoctl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status);

  struct Impl;  // backend-defined

 protected:
  // Backend helper: the shared steps of the Start* operations.
  template <class Issue>
  IoStart StartOverlapped(TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status, Issue&& issue);

  std::unique_ptr<Impl> p_;

  friend class TUsbIoOverlapped;
};

}  // namespace nurva::usbio
