// The steps of `nurva demo`. Each step is a function on the running demo; the command
// families add theirs in demo_<family>.cpp and list them in Demo.cpp's table of steps.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/cli/Host.h"
#include "tools/cli/Output.h"

namespace nurva::cli {

// The demo as it runs: where its output goes, the programmer it works on, and the exit
// status of the first failure.
struct DemoJob {
  DemoJob(Output& o, std::filesystem::path ws) : out(o), workspace(std::move(ws)) {}

  Output& out;
  std::filesystem::path workspace;  // temporary directory of the demo (bus, card, files)
  std::string serial;               // of the virtual programmer, 8 hex digits
  std::string project;              // the project the steps work on: the one on the card that is open, or just downloaded
  int channel = 0;                  // set by the discovery step
  std::string stepName;
  int step = 0;
  int steps = 0;
  int exit = 0;

  // The heading of the next step: "[n/N] what".
  void Header(const std::string& what);
  // One export's answer; false (and the first failure's exit status kept) when it is not
  // `wanted`.
  bool Expect(const std::string& label, const Result& r, int32_t wanted);
  // A failure found by the demo itself (not an export's code).
  void Fail(const std::string& why);
};

// One step: its heading and what it does. A step returns false when the demo cannot go
// on (the later steps are skipped).
struct DemoStep {
  const char* heading;
  std::function<bool(DemoJob&)> run;
};

// Steps of the families (demo_<family>.cpp).
bool DemoDiscovery(DemoJob& job);
bool DemoSerialNumbers(DemoJob& job);
bool DemoProgrammerCheck(DemoJob& job);
bool DemoInitChannel(DemoJob& job);
bool DemoCheckDevice(DemoJob& job);
bool DemoTargetVoltage(DemoJob& job);
bool DemoLowFuse(DemoJob& job);
bool DemoReleaseTarget(DemoJob& job);
// Project files on the card and the download (demo_files.cpp).
bool DemoDownloadProject(DemoJob& job);
bool DemoListCard(DemoJob& job);
bool DemoOpenProject(DemoJob& job);
bool DemoFileState(DemoJob& job);
// Project parameters report (demo_params.cpp).
bool DemoProjectParams(DemoJob& job);
// Erase, program and verify (demo_jobs.cpp).
bool DemoErase(DemoJob& job);
bool DemoProgram(DemoJob& job);
bool DemoVerify(DemoJob& job);
bool DemoJobResult(DemoJob& job);
// Block transfers and read back (demo_blocks.cpp).
bool DemoReadBackCompare(DemoJob& job);
bool DemoOverBlock(DemoJob& job);

}  // namespace nurva::cli
