// Intel HEX: the one reader and writer of the tools (the simulator's project builder and
// the command-line host's read, write and compare).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nurva::hex {

// A contiguous memory image: data[0] stands at byte address `base`.
struct Image {
  uint32_t base = 0;
  std::vector<uint8_t> data;
};

// Reads Intel HEX text (record types 00 data, 01 end, 02 extended segment address,
// 04 extended linear address; 03 and 05 start addresses are accepted and ignored) into
// one contiguous image from the lowest to the highest address written, gaps filled with
// 0xFF. nullopt with the line and reason in `err` for a malformed file, a bad checksum,
// an overlap or an empty file.
std::optional<Image> Parse(std::string_view text, std::string* err);

// The image as Intel HEX text: data records of at most `perRecord` bytes (1 to 255) that
// never cross a 64 KiB boundary, an extended linear address record wherever the upper
// 16 address bits change (and first, when they are not 0), and the end record.
std::string Format(const Image& img, size_t perRecord = 16);

// True for the file names the tools read and write as Intel HEX: .hex, .ihx, .ihex (any case).
bool IsHexName(std::string_view path);

}  // namespace nurva::hex
