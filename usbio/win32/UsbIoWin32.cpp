// Device and pipe objects over the USBIO kernel driver: SetupAPI enumeration of the
// interface class, CreateFileW with overlapped I/O, DeviceIoControl with the driver's
// request codes, bulk transfers as ReadFile and WriteFile on a bound handle.
#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "usbio/USBIO.h"
#include "usbio/UsbIoPipe.h"
#include "usbio/win32/DriverCalls.h"

namespace nurva::usbio {

using win32::Driver;

static_assert(sizeof(Guid) == sizeof(GUID));
// The record sizes the driver and SetupAPI expect on 64-bit Windows.
static_assert(sizeof(OVERLAPPED) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4);

struct TDeviceList {
  HDEVINFO info;
};

struct TUsbIo::Impl {
  Impl() { ::InitializeCriticalSection(&lock); }
  ~Impl() { ::DeleteCriticalSection(&lock); }
  HANDLE file = nullptr;  // 0 while not open
  OVERLAPPED ov{};        // shared by the synchronous requests; auto-reset event made by Open
  CRITICAL_SECTION lock;  // one synchronous request at a time
  SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = nullptr;
};

struct TUsbIoOverlapped::State {
  OVERLAPPED ov{};
  HANDLE event = nullptr;  // manual reset; the system resets it when an operation starts
  HANDLE file = nullptr;   // handle of the operation in flight
};

namespace {

const GUID* AsGuid(const Guid* g) { return reinterpret_cast<const GUID*>(g); }

void ArmOverlapped(TUsbIoOverlapped::State& s, HANDLE file) {
  HANDLE ev = s.event;
  std::memset(&s.ov, 0, sizeof s.ov);
  s.ov.hEvent = ev;
  s.file = file;
}

}  // namespace

// ---------------------------------------------------------------- TUsbIoOverlapped

TUsbIoOverlapped::TUsbIoOverlapped() : s_(std::make_unique<State>()) {
  s_->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  s_->ov.hEvent = s_->event;
}

TUsbIoOverlapped::~TUsbIoOverlapped() {
  if (owner_) Cancel();
  if (s_->event) ::CloseHandle(s_->event);
}

bool TUsbIoOverlapped::Valid() const { return s_->event != nullptr; }

WaitItem TUsbIoOverlapped::Item() const { return WaitItem{s_->event}; }

bool TUsbIoOverlapped::GetResult(uint32_t& bytes, uint32_t& status) {
  bytes = 0;
  if (!owner_) {
    status = USBIO_ERR_DEVICE_NOT_OPEN;
    return false;
  }
  DWORD n = 0;
  if (Driver().GetOverlappedResult(s_->file, &s_->ov, &n, FALSE)) {
    owner_ = nullptr;
    bytes = n;
    status = 0;
    return true;
  }
  const DWORD err = ::GetLastError();
  if (err == ERROR_IO_INCOMPLETE) {
    status = kErrIoIncomplete;
    return false;
  }
  owner_ = nullptr;
  status = err;
  return false;
}

void TUsbIoOverlapped::Cancel() {
  if (!owner_) return;
  // Cancelling only asks the driver to end the operation; it may still be writing into
  // the buffer until it reports completion. Waiting for that completion is what makes the
  // buffer and this record free again.
  Driver().CancelIoEx(s_->file, &s_->ov);
  DWORD n = 0;
  Driver().GetOverlappedResult(s_->file, &s_->ov, &n, TRUE);
  owner_ = nullptr;
}

// ---------------------------------------------------------------- TUsbIo

TUsbIo::TUsbIo() : p_(std::make_unique<Impl>()) {}

TUsbIo::~TUsbIo() { Close(); }

TDeviceList* TUsbIo::CreateDeviceList(const Guid* interfaceGuid) {
  HDEVINFO info =
      Driver().SetupDiGetClassDevsA(AsGuid(interfaceGuid), nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (info == INVALID_HANDLE_VALUE || info == nullptr) return nullptr;
  auto* list = new (std::nothrow) TDeviceList{info};
  if (!list) Driver().SetupDiDestroyDeviceInfoList(info);
  return list;
}

void TUsbIo::DestroyDeviceList(TDeviceList* list) {
  if (!list) return;
  Driver().SetupDiDestroyDeviceInfoList(list->info);
  delete list;
}

uint32_t TUsbIo::GetDeviceInstanceDetails(int32_t deviceNumber, TDeviceList* list, const Guid* interfaceGuid) {
  if (!list || !interfaceGuid) return USBIO_ERR_INVALID_PARAMETER;
  std::free(p_->detail);
  p_->detail = nullptr;

  SP_DEVICE_INTERFACE_DATA data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  if (!Driver().SetupDiEnumDeviceInterfaces(list->info, nullptr, AsGuid(interfaceGuid),
                                            static_cast<DWORD>(deviceNumber), &data)) {
    const DWORD err = ::GetLastError();
    return err == ERROR_NO_MORE_ITEMS ? USBIO_ERR_NO_SUCH_DEVICE : err;
  }

  DWORD required = 0;
  Driver().SetupDiGetDeviceInterfaceDetailW(list->info, &data, nullptr, 0, &required, nullptr);
  if (required == 0) return USBIO_ERR_NO_DETAIL_SIZE;

  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, required));
  if (!detail) return USBIO_ERR_NO_MEMORY;
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  p_->detail = detail;
  if (!Driver().SetupDiGetDeviceInterfaceDetailW(list->info, &data, detail, required, nullptr, nullptr))
    return ::GetLastError();
  return 0;
}

std::string TUsbIo::GetDevicePathName() const {
  if (!p_->detail) return {};
  const wchar_t* w = p_->detail->DevicePath;
  int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<size_t>(n - 1));
  return s;
}

uint32_t TUsbIo::Open(int32_t deviceNumber, TDeviceList* list, const Guid* interfaceGuid) {
  if (p_->file) return 0;
  uint32_t st = GetDeviceInstanceDetails(deviceNumber, list, interfaceGuid);
  if (st != 0) return st;

  HANDLE h = Driver().CreateFileW(p_->detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                  nullptr);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return USBIO_ERR_DEVICE_OPEN_FAILED;
  p_->file = h;

  std::memset(&p_->ov, 0, sizeof p_->ov);
  p_->ov.hEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!p_->ov.hEvent) {
    Close();
    return USBIO_ERR_NO_MEMORY;
  }

  USBIO_DRIVER_INFO info{};
  st = GetDriverInfo(&info);
  if (st != 0) {
    Close();
    return st;
  }
  return 0;
}

void TUsbIo::Close() {
  if (p_->file) {
    Driver().CloseHandle(p_->file);
    p_->file = nullptr;
  }
  if (p_->ov.hEvent) {
    ::CloseHandle(p_->ov.hEvent);
    p_->ov.hEvent = nullptr;
  }
  std::free(p_->detail);
  p_->detail = nullptr;
}

bool TUsbIo::IsOpen() const { return p_->file != nullptr; }

uint32_t TUsbIo::IoctlSync(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                           uint32_t* bytesReturned) {
  if (!p_->file) return USBIO_ERR_DEVICE_NOT_OPEN;
  ::EnterCriticalSection(&p_->lock);
  OVERLAPPED& ov = p_->ov;
  HANDLE ev = ov.hEvent;
  std::memset(&ov, 0, sizeof ov);
  ov.hEvent = ev;
  DWORD n = 0;
  uint32_t status = 0;
  if (!Driver().DeviceIoControl(p_->file, code, const_cast<void*>(in), in ? inSize : 0, out, out ? outSize : 0, &n,
                                &ov)) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_IO_PENDING) {
      status = err;
    } else if (::WaitForSingleObject(ev, kSyncRequestTimeoutMs) == WAIT_OBJECT_0) {
      status = Driver().GetOverlappedResult(p_->file, &ov, &n, FALSE) ? 0 : ::GetLastError();
    } else {
      // Given up: the request must have ended before the shared record (and the
      // caller's output buffer) can be used again.
      Driver().CancelIoEx(p_->file, &ov);
      if (Driver().GetOverlappedResult(p_->file, &ov, &n, TRUE)) {
        status = 0;  // it completed after all
      } else {
        const DWORD late = ::GetLastError();
        status = late == ERROR_OPERATION_ABORTED ? kErrWaitTimeout : late;
        n = 0;
      }
    }
  }
  ::LeaveCriticalSection(&p_->lock);
  if (bytesReturned) *bytesReturned = n;
  return status;
}

// Starts one overlapped operation: `issue` makes the driver call with the byte count and
// the armed record, and returns what the call returned.
template <class Issue>
IoStart TUsbIo::StartOverlapped(TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status, Issue&& issue) {
  bytes = 0;
  status = 0;
  if (!p_->file) {
    status = USBIO_ERR_DEVICE_NOT_OPEN;
    return IoStart::Failed;
  }
  if (ov.owner_ || !ov.Valid()) {
    status = ERROR_INVALID_PARAMETER;
    return IoStart::Failed;
  }
  ArmOverlapped(*ov.s_, p_->file);
  DWORD n = 0;
  if (issue(&n, &ov.s_->ov)) {
    bytes = n;
    return IoStart::Completed;
  }
  const DWORD err = ::GetLastError();
  if (err == ERROR_IO_PENDING) {
    ov.owner_ = this;
    return IoStart::Pending;
  }
  status = err;
  return IoStart::Failed;
}

IoStart TUsbIo::StartRead(void* buf, uint32_t size, TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status) {
  return StartOverlapped(ov, bytes, status, [&](DWORD* n, OVERLAPPED* o) {
    return Driver().ReadFile(p_->file, buf, size, n, o);
  });
}

IoStart TUsbIo::StartWrite(const void* buf, uint32_t size, TUsbIoOverlapped& ov, uint32_t& bytes,
                           uint32_t& status) {
  return StartOverlapped(ov, bytes, status, [&](DWORD* n, OVERLAPPED* o) {
    return Driver().WriteFile(p_->file, buf, size, n, o);
  });
}

IoStart TUsbIo::StartIoctl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                           TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status) {
  return StartOverlapped(ov, bytes, status, [&](DWORD* n, OVERLAPPED* o) {
    return Driver().DeviceIoControl(p_->file, code, const_cast<void*>(in), in ? inSize : 0, out, out ? outSize : 0, n,
                                    o);
  });
}

}  // namespace nurva::usbio
