// A stand-in for the USB driver on Windows, for tests: it serves the VirtualDevices of
// this process through the Win32 calls of the device and pipe objects (see
// usbio/win32/DriverCalls.h), as the kernel driver serves real programmers.
//
//   fake::Binding driver;       // the objects now reach the stand-in (nests)
//   VirtualDevice dev(dir, "dev0", handler);  // listed when $NURVA_VUSB_DIR is `dir`
//
// Device lists hold the plugged devices of the bus directory, sorted by name; the device
// path is the device's Path(). Overlapped requests complete as the system completes them:
// status and byte count in the OVERLAPPED's Internal and InternalHigh, then its event is
// set. A request that does not complete at once returns FALSE with ERROR_IO_PENDING;
// cancelling ends it with ERROR_OPERATION_ABORTED a little later, on another thread, so
// callers must wait for the cancelled operation as they must with the system. A device's
// request status reaches the caller unchanged, as the driver's own codes do.
//
// The stand-in also watches its callers: every operation is logged with its timing, and
// misuse (closing a handle under pending I/O, reusing an OVERLAPPED still in flight,
// closing an unknown handle) is counted.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace nurva::vusb::fake {

using Clock = std::chrono::steady_clock;

// Puts the stand-in in force while it lives. The outermost one starts from a clean log,
// clean counters and default behaviour, and puts the system's functions back at its end.
class Binding {
 public:
  Binding();
  ~Binding();
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;
};

enum class IoKind { Request, Read, Write };

struct IoRecord {
  IoKind kind = IoKind::Request;
  uintptr_t handle = 0;
  const void* overlapped = nullptr;
  uint32_t code = 0;  // of a request
  uint32_t size = 0;  // bytes asked to read or write, or request input size
  bool pending = false;  // returned ERROR_IO_PENDING
  Clock::time_point started{};
  bool cancelRequested = false;
  Clock::time_point cancelAt{};
  bool finished = false;
  Clock::time_point finishedAt{};
  uint32_t ntstatus = 0;  // final Internal
  uint32_t bytes = 0;     // final InternalHigh
};

struct OpenRecord {
  std::string path;
  uint32_t access = 0, share = 0, disposition = 0, flags = 0;
  uintptr_t handle = 0;  // 0 when the open failed
};

struct Stats {
  int handlesOpen = 0;
  int inFlight = 0;
  int badCloses = 0;          // CloseHandle of a handle that is not open
  int closedWithPendingIo = 0;  // operations still pending when their handle was closed
  int reusedOverlapped = 0;   // operations started on an OVERLAPPED still in flight
  uint32_t classDevsFlags = 0;  // flags of the last device list asked for
  int deviceLists = 0;          // device lists not yet destroyed
};

std::vector<IoRecord> IoLog();
std::vector<OpenRecord> Opens();
Stats GetStats();

// Behaviour switches (reset by the outermost Binding).
void HoldWrites(bool hold);             // writes stay pending until cancelled (or released)
void SetCancelDelayMs(uint32_t ms);     // how long a cancelled operation takes to end (default 5)
void FailDeviceLists(bool fail);        // SetupDiGetClassDevsA fails
void ReportNoDetailSize(bool noSize);   // the interface detail reports a required size of 0

// NT status values the stand-in completes with.
inline constexpr uint32_t kStatusCancelled = 0xC0000120;
inline constexpr uint32_t kStatusDeviceNotConnected = 0xC000009D;

}  // namespace nurva::vusb::fake
