// Pieces of the project file download that stand on their own: the block checksum and
// the time stamp the programmer gets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace nurva {

// The sum of `count` bytes modulo 256 (0 for none).
uint8_t BlockChecksum(const uint8_t* data, size_t count);

// Packed date and time: high half the date (bits 15-9 year - 1980, 8-5 month, 4-0 day),
// low half the time (bits 15-11 hour, 10-5 minute, 4-0 seconds / 2); 0 when the year lies
// outside 1980 to 2107.
uint32_t PackedDateTime(const std::tm& local);

// The two words sent after the download command: the low and the high byte of the time
// half of `packed`, each as a number from 0 to 255.
struct TimeWords {
  uint16_t low, high;
};
TimeWords DownloadTimeWords(uint32_t packed);

}  // namespace nurva
