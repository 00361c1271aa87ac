// The clock behind the link's fixed pauses and its wait for a reply packet.
//
// The library runs on real time. A test or fuzz build may install a seam of its own, so
// that the same command code runs its pauses and waits without sleeping: a fuzz target
// answers each wait from its input at once, a test skips the fixed pauses it does not
// measure. Production hosts never install one.
#pragma once

#include <cstdint>

namespace nurva {

class TMsgQueue;

class TTimeSeam {
 public:
  virtual ~TTimeSeam() = default;
  // A fixed pause of `ms` on the calling thread (the commands' settle times, discovery's
  // pauses, the receive loop's pause after each inbound packet).
  virtual void Pause(uint32_t ms) = 0;
  // The wait for a reply: true when `queue` holds a packet within `ms`. It may push the
  // packet itself. It must not return true while the queue is empty.
  virtual bool AwaitPacket(TMsgQueue& queue, uint32_t ms) = 0;
};

// Installs `seam` for the whole process; nullptr puts real time back. No link may be
// waiting or pausing while the seam changes.
void SetTimeSeam(TTimeSeam* seam);
TTimeSeam* CurrentTimeSeam();

// A fixed pause of the link's protocol: `ms` of real time, or what the seam makes of it.
void LinkPause(uint32_t ms);

}  // namespace nurva
