// Builds a project file from memory images (Intel HEX or raw binary) and options.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/sim/Project.h"

namespace nurva::sim {

// Intel HEX text as a memory image, read by the tools' one reader (hex::Parse in
// tools/common/IntelHex.h): contiguous, gaps filled with 0xFF; nullopt with the line and
// reason in `err` when the text is not a valid, non-empty HEX file.
std::optional<MemImage> ParseIntelHex(std::string_view text, std::string* err);

// An image source: "FILE" or "FILE@ADDRESS". Files ending in .hex, .ihx or .ihex are
// Intel HEX (an @ADDRESS then moves the image to that address); others are raw binary
// placed at ADDRESS (default 0).
std::optional<MemImage> LoadImage(const std::string& source, std::string* err);

struct BuildOptions {
  std::string device = "ATmega328P";  // a preset; signature and sizes below override it
  std::optional<std::array<uint8_t, 3>> signature;
  std::optional<uint32_t> flashSize, eepromSize, usrRowSize;
  std::optional<Interface> iface;
  std::string name;  // default: the device name
  std::string info;
  std::optional<int32_t> frequency;  // Hz; default 1 MHz on SPI/TPI, 2 MHz on PDI/JTAG
  PowerMode powerMode = PowerMode::Self;
  uint16_t centiVolts = 0;  // supply when the programmer powers the target
  bool verify = true;       // the option flag: verify after programming
  std::optional<std::string> flash, eeprom, usrRow;  // image sources
  std::map<int, uint8_t> fuses;                       // fuse byte index -> value
  std::optional<uint8_t> lockBits;
  bool aes = false;
  std::string password;
  std::optional<uint16_t> quantity;
  // Build time for the dates; default now.
  std::optional<int64_t> unixTime;
};

std::optional<Project> BuildProject(const BuildOptions& o, std::string* err);

// "l=0xE2", "2=FF", "high=D9": fuse byte index and value. Names low, high, ext or
// l, h, e stand for 0, 1, 2. Values are hexadecimal (with or without 0x).
bool ParseFuseSpec(std::string_view spec, int& index, uint8_t& value, std::string* err);
// "1E950F" or "1E 95 0F" or "1e-95-0f".
std::optional<std::array<uint8_t, 3>> ParseSignature(std::string_view s);

}  // namespace nurva::sim
