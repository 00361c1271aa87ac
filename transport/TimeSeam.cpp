#include "transport/TimeSeam.h"

#include <atomic>

#include "usbio/OsWait.h"

namespace nurva {

namespace {
std::atomic<TTimeSeam*> gSeam{nullptr};
}

void SetTimeSeam(TTimeSeam* seam) { gSeam.store(seam); }

TTimeSeam* CurrentTimeSeam() { return gSeam.load(std::memory_order_acquire); }

void LinkPause(uint32_t ms) {
  if (TTimeSeam* seam = CurrentTimeSeam()) {
    seam->Pause(ms);
    return;
  }
  usbio::SleepMs(ms);
}

}  // namespace nurva
