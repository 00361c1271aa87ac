// Packet framing of the OUT pipe: a 16-bit little-endian payload length, then the payload.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nurva {

// A frame is built in a buffer of this size: 2 length bytes and at most 519 payload bytes.
inline constexpr size_t kFrameBufferSize = 521;
inline constexpr size_t kFrameHeaderSize = 2;
inline constexpr size_t kMaxPayload = kFrameBufferSize - kFrameHeaderSize;

// Writes the frame of `size` payload bytes into `frame` (room for kFrameBufferSize bytes)
// and returns its length; 0 when the payload does not fit.
size_t BuildFrame(const void* data, size_t size, uint8_t* frame);

}  // namespace nurva
