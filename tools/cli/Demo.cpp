#include "tools/cli/Demo.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/DemoJob.h"
#include "tools/cli/DemoSignals.h"
#include "tools/cli/Host.h"
#include "tools/cli/Output.h"

#ifdef NURVA_CLI_HAVE_SIM
#include <unistd.h>

#include "tools/sim/Sample.h"
#include "tools/sim/VirtualProgrammer.h"
#endif

namespace nurva::cli {

using json = Json;

void DemoJob::Header(const std::string& what) {
  ++step;
  stepName = what;
  out.Line("[" + std::to_string(step) + "/" + std::to_string(steps) + "] " + what);
}

bool DemoJob::Expect(const std::string& label, const Result& r, int32_t wanted) {
  const bool ok = r.res == wanted;
  out.Step(label, r, ok);
  out.Doc()["steps"].push_back(out.StepJson(stepName, r, ok));
  if (!ok && exit == kExitOk) exit = ExitForFailure(r);
  return ok;
}

void DemoJob::Fail(const std::string& why) {
  out.Problem("  FAILED: " + why);
  out.Doc()["steps"].push_back({{"step", stepName}, {"error", why}, {"ok", false}});
  if (exit == kExitOk) exit = kExitFault;
}

#ifndef NURVA_CLI_HAVE_SIM

int RunDemo(const DemoOptions& o) {
  Output out(o.json);
  return out.Fail(kExitDemoSetup, "this build of nurva has no virtual programmer");
}

#else

namespace fs = std::filesystem;

namespace {

// The temporary bus and card in $TMPDIR (else /tmp), removed at the end unless kept.
class Workspace {
 public:
  explicit Workspace(bool keep) : keep_(keep) {
    const char* dir = std::getenv("TMPDIR");
    std::string tmpl = (dir && *dir ? std::string(dir) : std::string("/tmp")) + "/nurva-demo-XXXXXX";
    if (::mkdtemp(tmpl.data())) root_ = tmpl;
  }
  ~Workspace() {
    std::error_code ec;
    if (!root_.empty() && !keep_) fs::remove_all(root_, ec);
  }
  bool Ok() const { return !root_.empty(); }
  fs::path Root() const { return root_; }

 private:
  fs::path root_;
  bool keep_;
};

// The demo's steps in the order they run.
const DemoStep kDemoSteps[] = {
    {"discovery", DemoDiscovery},
    {"serial numbers", DemoSerialNumbers},
    {"programmer check", DemoProgrammerCheck},
    {"init channel", DemoInitChannel},
    {"check device", DemoCheckDevice},
    {"target voltage", DemoTargetVoltage},
    {"low fuse", DemoLowFuse},
    {"download project", DemoDownloadProject},
    {"list the card", DemoListCard},
    {"project parameters", DemoProjectParams},
    {"open project", DemoOpenProject},
    {"file state", DemoFileState},
    {"erase", DemoErase},
    {"program", DemoProgram},
    {"verify", DemoVerify},
    {"job result", DemoJobResult},
    {"read back and compare", DemoReadBackCompare},
    {"block over a page", DemoOverBlock},
    {"release target", DemoReleaseTarget},
};

}  // namespace

int RunDemo(const DemoOptions& o) {
  Output out(o.json);
  DemoSignals signals;  // before the first thread starts
  Workspace ws(o.keep);
  if (!ws.Ok()) return out.Fail(kExitDemoSetup, "cannot make a temporary directory in $TMPDIR or /tmp");
  signals.Watch(ws.Root(), o.keep, o.json);
  const fs::path bus = ws.Root() / "bus", card = ws.Root() / "card";
  std::error_code ec;
  fs::create_directories(bus, ec);
  if (ec) return out.Fail(kExitDemoSetup, "cannot make " + bus.string() + ": " + ec.message());

  sim::ProgrammerConfig cfg;
  cfg.socketName = "nurva-demo-00";
  cfg.cardDir = card;
  cfg.openProject = sim::kSampleFile;
  for (const auto& f : o.faults) {
    std::string err;
    if (!sim::ParseFault(f, cfg.faults, &err)) return out.Fail(kExitUsage, err);
  }
  std::string err;
  if (!sim::Card(card).Write(sim::kSampleFile, sim::MakeSampleProject().Serialize(), &err))
    return out.Fail(kExitDemoSetup, "cannot put the sample project on the card: " + err);

  std::mutex logLock;
  sim::VirtualProgrammer::LogFn log;
  if (o.verbose && !o.json)
    log = [&](const std::string& l) {
      std::lock_guard<std::mutex> g(logLock);
      std::cout << "      | " << l << std::endl;
    };
  auto prog = std::make_unique<sim::VirtualProgrammer>(bus.string(), cfg, log);
  if (!prog->Start(&err)) return out.Fail(kExitDemoSetup, "cannot start the virtual programmer: " + err);
  ::setenv("NURVA_VUSB_DIR", bus.string().c_str(), 1);

  char serial[16];
  std::snprintf(serial, sizeof serial, "%08X", cfg.identity.serial);
  out.Doc()["workspace"] = ws.Root().string();
  out.Doc()["virtualProgrammer"] = {{"model", cfg.identity.model}, {"serial", serial}, {"card", card.string()},
                                    {"project", sim::kSampleFile}};
  out.Doc()["steps"] = json::array();
  out.Line("virtual programmer " + cfg.identity.model + " serial " + serial + " on bus " + bus.string());
  out.Line("card " + card.string() + " holds " + sim::kSampleFile + " (open)");

  DemoJob job{out, ws.Root()};
  job.serial = serial;
  job.project = sim::kSampleFile;
  job.steps = static_cast<int>(std::size(kDemoSteps));
  for (const DemoStep& step : kDemoSteps) {
    job.Header(step.heading);
    if (!step.run(job)) break;
  }

  // The library stops its links when it is unloaded; they take the unplug in their stride.
  prog->Stop();
  if (job.exit == kExitOk)
    out.Line("demo finished: every step answered as expected");
  else
    out.Problem("demo finished with failures (exit " + std::to_string(job.exit) + ")");
  if (o.keep) out.Line("kept " + ws.Root().string());
  return out.Finish(job.exit);
}

#endif

}  // namespace nurva::cli
