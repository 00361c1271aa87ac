// Demo steps of discovery, the programmer check and target control.
#include <chrono>

#include "api/NURVA_DLL.h"
#include "tools/cli/CallLog.h"
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
    out.Problem("  FAILED: no programmer found");
    job.exit = kExitNoAnswer;
    return false;
  }
  job.channel = d.programmers[0].channel;
  return true;
}

bool DemoSerialNumbers(DemoJob& job) {
  int32_t count = 0;
  std::string text(4096, '\0');
  const auto t0 = std::chrono::steady_clock::now();
  GetProgIDs(&count, text.data());
  Result r{"GetProgIDs", count, text.c_str()};
  if (CallTrace())
    TraceLine("GetProgIDs", "", "count " + std::to_string(count) + ", text " + Quoted(r.text),
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  const bool ok = count == 1 && r.text == job.serial;
  if (ok)
    job.out.Line("  " + std::to_string(count) + ": " + r.text);
  else
    job.out.Problem("  " + std::to_string(count) + ": " + r.text + "  FAILED");
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
  if (!job.Expect("GetTargVolt", CallGetTargVolt(job.channel, volt), NURVA_RES_resOk)) return true;
  // The same fields and the same judgement as `nurva voltage`.
  job.out.Doc()["volt"] = volt;
  job.out.Doc()["volts"] = volt / 100.0;
  if (volt == 0) job.Fail("target voltage 0 V: the target is not powered");
  return true;
}

bool DemoLowFuse(DemoJob& job) {
  int32_t fuse = 255;
  if (!job.Expect("GetFuses 'l'", CallGetFuses(job.channel, 'l', fuse), NURVA_RES_resOk)) return true;
  // The same fields as `nurva fuse`.
  job.out.Doc()["selector"] = SelectorJson('l');
  job.out.Doc()["fuse"] = fuse;
  job.out.Line("      " + FuseText('l', fuse));
  return true;
}

bool DemoReleaseTarget(DemoJob& job) {
  job.Expect("ReleaseTarget", CallReleaseTarget(job.channel), NURVA_RES_resOk);
  return true;
}

}  // namespace nurva::cli
