#include "transport/MsgQueue.h"

#include <algorithm>
#include <cstring>

namespace nurva {

void TEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> g(m_);
    set_ = true;
  }
  cv_.notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> g(m_);
  set_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> g(m_);
  return set_;
}

bool TEvent::WaitFor(uint32_t ms) const {
  std::unique_lock<std::mutex> g(m_);
  return cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return set_; });
}

void TMsgQueue::Push(const void* value, uint16_t size) {
  if (size == 0) return;
  std::lock_guard<std::recursive_mutex> g(FLock);
  try {
    const auto* b = static_cast<const uint8_t*>(value);
    FQueue.emplace_back(b, b + size);
  } catch (...) {
    // No memory for the packet: it is lost; the queue stays consistent.
  }
  FEvent.SetEvent();
}

void TMsgQueue::Pop(void* value, uint16_t& size) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  uint16_t copied = 0;
  if (!FQueue.empty()) {
    std::vector<uint8_t> item = std::move(FQueue.front());
    FQueue.pop_front();
    if (item.size() > 2) {
      copied = static_cast<uint16_t>(std::min<size_t>(size, item.size() - 2));
      if (copied) std::memcpy(value, item.data() + 2, copied);
    }
  }
  size = copied;
  FEvent.ResetEvent();
}

int32_t TMsgQueue::Count() const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return static_cast<int32_t>(FQueue.size());
}

void TMsgQueue::Clear() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FQueue.clear();
  // A set event with nothing queued would wake the next reader for no packet, and a
  // command would read its reply as missing before the programmer had time to answer.
  FEvent.ResetEvent();
}

}  // namespace nurva
