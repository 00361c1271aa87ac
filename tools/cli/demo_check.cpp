// Demo steps of discovery, the programmer check and target control.
#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/DemoJob.h"

namespace nurva::cli {

bool DemoDiscovery(DemoJob& job) {
  Output& out = job.out;
  out.Progress("searching for programmers");
  Discovery d = Discover();
  out.Clear();
  out.Line("  found " + std::to_string(d.programmers.size()) + " programmer(s)");
  out.Doc()["found"] = d.programmers.size();
  if (d.programmers.empty()) {
    out.Doc()["error"] = "discovery found no programmer";
    out.Line("  FAILED: no programmer found");
    job.exit = kExitNoAnswer;
    return false;
  }
  job.channel = d.programmers[0].channel;
  return true;
}

bool DemoSerialNumbers(DemoJob& job) {
  int32_t count = 0;
  std::string text(4096, '\0');
  GetProgIDs(&count, text.data());
  Result r{"GetProgIDs", count, text.c_str()};
  const bool ok = count == 1 && r.text == job.serial;
  job.out.Line("  " + std::to_string(count) + ": " + r.text + (ok ? "" : "  FAILED"));
  job.out.Doc()["steps"].push_back(
      {{"step", job.stepName}, {"call", "GetProgIDs"}, {"count", count}, {"text", r.text}, {"ok", ok}});
  if (!ok && job.exit == kExitOk) job.exit = kExitFault;
  return true;
}

bool DemoProgrammerCheck(DemoJob& job) {
  job.Expect("CheckProgrammer", CallCheckProgrammer(job.channel), NURVA_RES_MMCok);
  return true;
}

bool DemoInitChannel(DemoJob& job) {
  job.Expect("InitChannel", CallInitChannel(job.channel), NURVA_RES_progFound);
  return true;
}

bool DemoCheckDevice(DemoJob& job) {
  job.Expect("CheckDevice", CallCheckDevice(job.channel), NURVA_RES_resOk);
  return true;
}

bool DemoTargetVoltage(DemoJob& job) {
  int32_t volt = 0;
  if (job.Expect("GetTargVolt", CallGetTargVolt(job.channel, volt), NURVA_RES_resOk)) job.out.Doc()["volt"] = volt;
  return true;
}

bool DemoLowFuse(DemoJob& job) {
  int32_t fuse = 255;
  if (job.Expect("GetFuses 'l'", CallGetFuses(job.channel, 'l', fuse), NURVA_RES_resOk)) job.out.Doc()["fuse"] = fuse;
  return true;
}

bool DemoReleaseTarget(DemoJob& job) {
  job.Expect("ReleaseTarget", CallReleaseTarget(job.channel), NURVA_RES_resOk);
  return true;
}

}  // namespace nurva::cli
