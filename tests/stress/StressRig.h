// Several virtual programmers on one private bus, plugged and unplugged by slot, for the
// stress tests. Slot i is the socket "prog-ii", so the plugged slots are found in slot order.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/sim/SimHarness.h"
#include "tools/sim/VirtualProgrammer.h"

namespace nurva::test {

inline uint32_t SlotSerial(int slot) { return 0x5E000100u + static_cast<uint32_t>(slot); }

inline std::string SerialText(uint32_t serial) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", serial);
  return buf;
}

// A count from the environment (an unset, empty or malformed value gives `fallback`).
inline int EnvCount(const char* name, int fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  long n = std::strtol(v, &end, 10);
  return (*end == '\0' && n > 0 && n < 1000000) ? static_cast<int>(n) : fallback;
}

class ProgrammerRack {
 public:
  explicit ProgrammerRack(int slots, double jobSpeed = 50.0) : progs_(static_cast<size_t>(slots)), speed_(jobSpeed) {}
  ~ProgrammerRack() {
    for (size_t i = 0; i < progs_.size(); ++i) Unplug(static_cast<int>(i));
  }

  const std::string& BusDir() const { return bus_.Dir(); }
  std::filesystem::path Scratch() const { return dirs_.Path(); }
  int Slots() const { return static_cast<int>(progs_.size()); }
  bool Plugged(int slot) const { return progs_[static_cast<size_t>(slot)] != nullptr; }
  sim::VirtualProgrammer& At(int slot) { return *progs_[static_cast<size_t>(slot)]; }

  // A programmer with the sample project on a card of its own and open.
  bool Plug(int slot, std::string* err = nullptr) {
    if (Plugged(slot)) return true;
    char name[16];
    std::snprintf(name, sizeof name, "prog-%02d", slot);
    const std::filesystem::path card = dirs_.Path() / (std::string("card-") + name + "-" + std::to_string(++plugs_));
    sim::ProgrammerConfig cfg = SampleConfig(card, SlotSerial(slot));
    cfg.socketName = name;
    cfg.jobSpeed = speed_;
    auto p = std::make_unique<sim::VirtualProgrammer>(bus_.Dir(), cfg);
    if (!p->Start(err)) return false;
    progs_[static_cast<size_t>(slot)] = std::move(p);
    return true;
  }
  void Unplug(int slot) {
    auto& p = progs_[static_cast<size_t>(slot)];
    if (p) p->Stop();
    p.reset();
  }

 private:
  TestBus bus_;
  TempDir dirs_;
  std::vector<std::unique_ptr<sim::VirtualProgrammer>> progs_;
  double speed_;
  int plugs_ = 0;
};

}  // namespace nurva::test
