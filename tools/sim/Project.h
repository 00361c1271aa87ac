// The simulator's project file: what a programming job needs, as one file on the card.
// The format is described in tools/sim/README.md.
#pragma once

#include <array>
#include <ctime>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/uGlobals.h"

namespace nurva::sim {

enum class Interface : uint8_t { SPI = 0, JTAG = 1, PDI = 2, TPI = 3 };
const char* InterfaceName(Interface i);
std::optional<Interface> ParseInterface(std::string_view s);

// Power setting of the parameter record: bits 0-9 the voltage in 10 mV, bits 10-15 the mode.
enum class PowerMode : uint8_t { Self = 0, Max30mA = 1, Max100mA = 2 };
constexpr uint16_t PackPower(PowerMode m, uint16_t centiVolts) {
  return static_cast<uint16_t>((static_cast<uint16_t>(m) << 10) | (centiVolts & 0x3FF));
}

struct MemImage {
  uint32_t base = 0;  // byte address of data[0] in the memory space
  std::vector<uint8_t> data;
  uint32_t End() const { return base + static_cast<uint32_t>(data.size()); }
};

// Length of the parameter record the programmer sends for 'A'.
inline constexpr size_t kParamRecordSize = 195;
inline constexpr size_t kMaxProjectName = 14;
inline constexpr size_t kMaxProjectInfo = 18;

// Packed date and time: high half the date (year-1980, month, day), low half the time
// (hour, minute, seconds/2). 0 when the year is outside 1980..2107.
int32_t PackDateTime(int year, int month, int day, int hour, int minute, int second);
// Days since 30 December 1899, in hundredths.
int32_t Date100(int year, int month, int day);

struct Project {
  // Shown by the parameter report.
  std::string name;  // at most 14 characters
  std::string info;  // at most 18 characters
  int32_t fileDate = 0;
  int32_t date100 = 0;
  // Sets fileDate and date100 from `t` in local time.
  void StampDate(std::time_t t);
  int32_t frequency = 0;  // target clock for the interface, Hz
  Interface iface = Interface::SPI;
  uint16_t power = 0;
  bool optionFlag = false;  // verify after programming

  // The target the project is made for.
  std::string device;
  std::array<uint8_t, 3> signature{};
  uint32_t flashSize = 0, eepromSize = 0, usrRowSize = 0;
  uint16_t pageSize = 0;

  std::optional<MemImage> flash, eeprom, usrRow;
  std::map<int, uint8_t> fuses;  // fuse byte index -> value
  std::optional<uint8_t> lockBits;

  // Protection features: AES (encrypted images), PWDprot (password), Quantity (a limit
  // on the number of devices programmed).
  TAES protection{};
  uint16_t quantity = 0;
  std::string password;

  const std::optional<MemImage>& Image(tMemType m) const;
  // The record that 'A' sends, kParamRecordSize bytes.
  std::array<uint8_t, kParamRecordSize> ParamRecord() const;
  // The whole file.
  std::vector<uint8_t> Serialize() const;
  // Reads a file; nullopt with the reason in `err` when it is not a whole, valid project.
  static std::optional<Project> Parse(std::span<const uint8_t> file, std::string* err);
  // Checks what Serialize needs and Parse would refuse; empty when fine.
  std::string Validate() const;
};

uint32_t Crc32(std::span<const uint8_t> data);

}  // namespace nurva::sim
