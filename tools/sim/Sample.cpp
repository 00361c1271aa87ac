#include "tools/sim/Sample.h"

#include <ctime>

#include "tools/sim/Model.h"

namespace nurva::sim {

Project MakeSampleProject() {
  const DevicePreset& d = *FindPreset("ATmega328P");
  Project p;
  p.name = "demo blink";
  p.info = "nurva sample";
  p.device = d.name;
  p.signature = d.signature;
  p.flashSize = d.flashSize;
  p.eepromSize = d.eepromSize;
  p.usrRowSize = d.usrRowSize;
  p.pageSize = d.pageSize;
  p.iface = d.iface;
  p.frequency = 1000000;
  p.power = PackPower(PowerMode::Max30mA, 330);
  p.optionFlag = true;

  // A vector table jumping to a loop that toggles PB5, then filler up to 1 KiB.
  MemImage flash;
  flash.data = {0x0C, 0x94, 0x34, 0x00, 0x0C, 0x94, 0x3E, 0x00, 0x25, 0x9A, 0x2D, 0x9A, 0x2D, 0x98, 0xFD, 0xCF};
  for (size_t i = flash.data.size(); i < 1024; ++i) flash.data.push_back(static_cast<uint8_t>(i * 7 + 3));
  p.flash = flash;
  MemImage ee;
  for (int i = 0; i < 64; ++i) ee.data.push_back(static_cast<uint8_t>(0x40 + i));
  p.eeprom = ee;
  p.fuses = {{0, 0xE2}, {1, 0xD9}, {2, 0xFF}};
  p.lockBits = 0xFC;

  p.StampDate(std::time(nullptr));
  return p;
}

}  // namespace nurva::sim
