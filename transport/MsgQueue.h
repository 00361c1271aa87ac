// The link's receive queue: whole IN packets, handed from the receive thread to the
// calling thread one at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace nurva {

// Manual-reset event for threads of this process.
class TEvent {
 public:
  void SetEvent();
  void ResetEvent();
  bool IsSet() const;
  // True when the event is (or becomes) set within `ms`.
  bool WaitFor(uint32_t ms) const;

 private:
  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  bool set_ = false;
};

class TMsgQueue {
 public:
  // Packet sizes are 16-bit counts.
  static constexpr uint32_t kMaxPacket = 0xFFFF;

  TMsgQueue() = default;
  ~TMsgQueue() = default;
  TMsgQueue(const TMsgQueue&) = delete;
  TMsgQueue& operator=(const TMsgQueue&) = delete;

  // Appends a copy of the `size` bytes (header included) and sets the event; nothing
  // happens when `size` is 0.
  void Push(const void* value, uint16_t size);
  // Removes the oldest packet and copies at most `size` bytes after its 2-byte header
  // into `value`; `size` returns the count copied (0 when the queue was empty). The
  // event is reset in every case; bytes beyond `size` are lost with the packet.
  void Pop(void* value, uint16_t& size);
  int32_t Count() const;
  // Removes every queued packet and resets the event.
  void Clear();

  // Set after every push, reset by every pop and clear. All happen under the queue's
  // lock, so a set event always means a packet is queued.
  const TEvent& Event() const { return FEvent; }

 private:
  mutable std::recursive_mutex FLock;
  std::deque<std::vector<uint8_t>> FQueue;
  TEvent FEvent;
};

}  // namespace nurva
