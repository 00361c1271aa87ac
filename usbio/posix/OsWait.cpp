#include "usbio/OsWait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace nurva::usbio {

int WaitForAny(const WaitItem* items, int n, uint32_t ms) {
  constexpr int kMaxItems = 8;
  if (n <= 0 || n > kMaxItems) return kWaitFailed;
  pollfd fds[kMaxItems];
  for (int i = 0; i < n; ++i) fds[i] = pollfd{items[i].fd, items[i].events, 0};
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms == kInfinite ? 0 : ms);
  for (;;) {
    int timeout = -1;
    if (ms != kInfinite) {
      // Rounded up: a wait never ends before its time (truncated, a 3 ms pause lasted 2 ms).
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout = left < 0 ? 0 : static_cast<int>(left);
    }
    int r = ::poll(fds, static_cast<nfds_t>(n), timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    if (r == 0) {
      if (ms == kInfinite || Clock::now() < deadline) continue;
      return kWaitTimedOut;
    }
    for (int i = 0; i < n; ++i) {
      // A hang-up or error on an I/O item also ends its wait: the I/O has completed (with a failure).
      if (fds[i].revents & (items[i].events | POLLHUP | POLLERR | POLLNVAL)) return i;
    }
  }
}

TSimpleEvent::TSimpleEvent(bool initiallySet) {
  fd_ = ::eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TSimpleEvent::~TSimpleEvent() {
  if (fd_ >= 0) ::close(fd_);
}

bool TSimpleEvent::Valid() const { return fd_ >= 0; }

void TSimpleEvent::SetEvent() {
  uint64_t one = 1;
  // The counter only needs to be non-zero; a full counter (EAGAIN) is already set.
  [[maybe_unused]] ssize_t r = ::write(fd_, &one, sizeof one);
}

void TSimpleEvent::ResetEvent() {
  uint64_t v;
  [[maybe_unused]] ssize_t r = ::read(fd_, &v, sizeof v);  // drains the counter; EAGAIN when clear
}

bool TSimpleEvent::IsSet() const { return WaitFor(0); }

bool TSimpleEvent::WaitFor(uint32_t ms) const {
  WaitItem it = Item();
  return WaitForAny(&it, 1, ms) == 0;
}

WaitItem TSimpleEvent::Item() const { return WaitItem{fd_, POLLIN}; }

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void SleepAlertableMs(uint32_t ms) { SleepMs(ms); }

void SetCurrentThreadPriorityLowest() {
  // Two nice steps below normal, as THREAD_PRIORITY_LOWEST is two steps below normal.
  [[maybe_unused]] int r = ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 2);
}

}  // namespace nurva::usbio
