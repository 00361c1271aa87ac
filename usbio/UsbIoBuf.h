// A transfer buffer record of the driver interface. The link reads and writes through
// its own buffers; this record is kept for callers that chain driver buffers.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "usbio/USBIO.h"

namespace nurva::usbio {

class TUsbIoBuf {
 public:
  TUsbIoBuf() = default;
  // Allocates `size` bytes that the object owns.
  explicit TUsbIoBuf(uint32_t size)
      : BufferMem(size ? std::calloc(size, 1) : nullptr), BufferSize(BufferMem ? size : 0),
        BufferMemAllocated(BufferMem != nullptr) {}
  // Wraps caller memory; the object does not free it.
  TUsbIoBuf(void* mem, uint32_t size) : BufferMem(mem), BufferSize(size) {}
  ~TUsbIoBuf() {
    if (BufferMemAllocated) std::free(BufferMem);
  }
  TUsbIoBuf(const TUsbIoBuf&) = delete;
  TUsbIoBuf& operator=(const TUsbIoBuf&) = delete;

  void* BufferMem = nullptr;
  uint32_t BufferSize = 0;
  TUsbIoOverlapped Overlapped;  // its event is closed with the record
  bool BufferMemAllocated = false;
  uint32_t NumberOfBytesToTransfer = 0;
  uint32_t BytesTransferred = 0;
  uint32_t Status = 0;
  TUsbIoBuf* Next = nullptr;
  uint32_t OperationFinished = 0;
};

}  // namespace nurva::usbio
