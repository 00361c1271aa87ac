#include "transport/Framing.h"

#include <cstring>

namespace nurva {

size_t BuildFrame(const void* data, size_t size, uint8_t* frame) {
  if (size > kMaxPayload) return 0;
  frame[0] = static_cast<uint8_t>(size & 0xFF);
  frame[1] = static_cast<uint8_t>(size >> 8);
  if (size) std::memcpy(frame + kFrameHeaderSize, data, size);
  return size + kFrameHeaderSize;
}

}  // namespace nurva
