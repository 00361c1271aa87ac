// Waitable events and waits on several of them, the thread-level primitives that
// the link's receive loop and timed transfers are built on.
//
// Windows: an event object and WaitForMultipleObjects. Linux: an eventfd and poll().
#pragma once

#include <cstdint>

namespace nurva::usbio {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// One thing a thread can wait on: an event, or the completion of an I/O.
struct WaitItem {
#ifdef _WIN32
  void* handle = nullptr;  // HANDLE
#else
  int fd = -1;
  short events = 0;  // poll() events that mean "signalled"
#endif
};

enum WaitResultCode : int { kWaitTimedOut = -1, kWaitFailed = -2 };

// Waits until one of `n` items is signalled, at most `ms` (kInfinite: no limit).
// Returns the index of the lowest signalled item, kWaitTimedOut or kWaitFailed.
// Nothing is consumed: a signalled event stays signalled.
int WaitForAny(const WaitItem* items, int n, uint32_t ms);

// Manual-reset event, usable from any thread; waits on it may be combined with
// other items through WaitForAny.
class TSimpleEvent {
 public:
  explicit TSimpleEvent(bool initiallySet = false);
  ~TSimpleEvent();
  TSimpleEvent(const TSimpleEvent&) = delete;
  TSimpleEvent& operator=(const TSimpleEvent&) = delete;

  bool Valid() const;
  void SetEvent();
  void ResetEvent();
  bool IsSet() const;
  // True when the event is (or becomes) signalled within `ms`.
  bool WaitFor(uint32_t ms) const;
  WaitItem Item() const;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Waits `ms` on the calling thread; nothing ends it early (an APC the host queued waits
// for the host's own alertable wait).
void SleepMs(uint32_t ms);
// Waits `ms`, or less when an APC queued to the thread runs (Windows). For the receive
// loop's threads only: on a host's thread it would run host code inside a call.
void SleepAlertableMs(uint32_t ms);
// Lowers the calling thread to the platform's lowest normal priority.
void SetCurrentThreadPriorityLowest();

}  // namespace nurva::usbio
