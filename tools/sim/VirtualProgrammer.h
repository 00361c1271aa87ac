// One virtual programmer on the bus: the firmware model served by a virtual USB device.
//
//   ProgrammerConfig cfg;
//   cfg.identity.serial = 0x12345678;
//   cfg.cardDir = "/tmp/card";
//   cfg.openProject = "sample.pack";
//   VirtualProgrammer prog(busDir, cfg);
//   if (!prog.Start(&err)) ...
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tools/sim/Firmware.h"
#include "tools/vusb/VirtualDevice.h"

namespace nurva::sim {

struct ProgrammerConfig {
  std::string socketName = "nurva-sim-00";  // entry in the bus directory
  Identity identity;
  std::filesystem::path cardDir;
  std::optional<std::string> openProject;  // opened from the card at start
  // The chip in the socket, by preset name; empty: the open project's device (a chip
  // the project is made for), else ATmega328P.
  std::string targetDevice;
  std::optional<uint16_t> voltage;  // 10 mV units; default 330
  std::map<int, uint8_t> targetFuses;  // replaces the chip's factory values
  Faults faults;
  double jobSpeed = 1.0;
};

// The starting state for `cfg`, reading the open project from `card`. Problems that do
// not stop the programmer (a project that cannot be opened) go to `notes`.
State BuildState(const ProgrammerConfig& cfg, const Card& card, std::string* notes);

class VirtualProgrammer : public vusb::DeviceHandler {
 public:
  using LogFn = std::function<void(const std::string&)>;
  VirtualProgrammer(std::string busDir, ProgrammerConfig cfg, LogFn log = {},
                    CommandSet commands = DefaultCommands());
  ~VirtualProgrammer() override;

  // Plugs the device in; false with the reason in `err`.
  bool Start(std::string* err = nullptr);
  // Unplugs it and stops the firmware.
  void Stop();

  Firmware& Fw() { return *fw_; }
  vusb::VirtualDevice& Device() { return dev_; }
  const ProgrammerConfig& Config() const { return cfg_; }
  const std::string& Notes() const { return notes_; }

  vusb::RequestReply OnRequest(uint32_t code, std::span<const uint8_t> input) override;
  void OnOut(std::span<const uint8_t> frame) override;

 private:
  ProgrammerConfig cfg_;
  std::string notes_;
  std::unique_ptr<Firmware> fw_;
  vusb::VirtualDevice dev_;
  bool started_ = false;
};

}  // namespace nurva::sim
