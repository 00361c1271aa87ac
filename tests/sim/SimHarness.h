// A virtual programmer on a private bus, with a card in a temporary directory, for tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/sim/BusClient.h"
#include "tests/support/ScriptedPeer.h"
#include "tools/sim/Sample.h"
#include "tools/sim/VirtualProgrammer.h"

namespace nurva::test {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/nurva-simtest-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Collects the firmware's log lines.
class LogSink {
 public:
  sim::VirtualProgrammer::LogFn Fn() {
    return [this](const std::string& l) {
      std::lock_guard<std::mutex> g(m_);
      lines_.push_back(l);
    };
  }
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> g(m_);
    return lines_;
  }

 private:
  mutable std::mutex m_;
  std::vector<std::string> lines_;
};

// A configuration with the sample project on its card and open.
inline sim::ProgrammerConfig SampleConfig(const std::filesystem::path& cardDir, uint32_t serial = 0x12345678) {
  sim::ProgrammerConfig cfg;
  cfg.identity.serial = serial;
  cfg.cardDir = cardDir;
  sim::Card card(cardDir);
  card.Write(sim::kSampleFile, sim::MakeSampleProject().Serialize());
  cfg.openProject = sim::kSampleFile;
  return cfg;
}

class SimHarness {
 public:
  TestBus bus;
  TempDir cards;
  LogSink log;
  std::unique_ptr<sim::VirtualProgrammer> prog;
  BusClient host;

  std::filesystem::path CardDir(const std::string& name = "card") const { return cards.Path() / name; }

  // Starts a programmer made from `cfg` and connects the bare host to it (unless the
  // library is to connect instead).
  void Start(sim::ProgrammerConfig cfg, bool connectHost = true) {
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), std::move(cfg), log.Fn());
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
    if (connectHost) {
      ASSERT_TRUE(host.Open(prog->Device().Path(), &err)) << err;
    }
  }
  void Stop() {
    host.Close();
    if (prog) prog->Stop();
    prog.reset();
  }
  template <class F>
  auto With(F&& f) {
    return prog->Fw().With(std::forward<F>(f));
  }
};

}  // namespace nurva::test
