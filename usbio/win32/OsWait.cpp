#include "usbio/OsWait.h"

#include <windows.h>

namespace nurva::usbio {

int WaitForAny(const WaitItem* items, int n, uint32_t ms) {
  constexpr int kMaxItems = 8;
  if (n <= 0 || n > kMaxItems) return kWaitFailed;
  HANDLE hs[kMaxItems];
  for (int i = 0; i < n; ++i) hs[i] = items[i].handle;
  DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(n), hs, FALSE, ms == kInfinite ? INFINITE : ms);
  if (r < WAIT_OBJECT_0 + static_cast<DWORD>(n)) return static_cast<int>(r - WAIT_OBJECT_0);
  if (r == WAIT_TIMEOUT) return kWaitTimedOut;
  return kWaitFailed;
}

TSimpleEvent::TSimpleEvent(bool initiallySet) {
  handle_ = ::CreateEventW(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr);
}

TSimpleEvent::~TSimpleEvent() {
  if (handle_) ::CloseHandle(handle_);
}

bool TSimpleEvent::Valid() const { return handle_ != nullptr; }
void TSimpleEvent::SetEvent() { ::SetEvent(handle_); }
void TSimpleEvent::ResetEvent() { ::ResetEvent(handle_); }
bool TSimpleEvent::IsSet() const { return WaitFor(0); }

bool TSimpleEvent::WaitFor(uint32_t ms) const {
  return ::WaitForSingleObject(handle_, ms == kInfinite ? INFINITE : ms) == WAIT_OBJECT_0;
}

WaitItem TSimpleEvent::Item() const { return WaitItem{handle_}; }

void SleepMs(uint32_t ms) { ::SleepEx(ms, FALSE); }

void SleepAlertableMs(uint32_t ms) { ::SleepEx(ms, TRUE); }

void SetCurrentThreadPriorityLowest() { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST); }

}  // namespace nurva::usbio
