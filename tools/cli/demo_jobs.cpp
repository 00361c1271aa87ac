// Demo steps of erase, program and verify: the job on the project open on the virtual
// programmer, each status printed as it changes, and the result with its times.
#include <cstdio>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/DemoJob.h"
#include "tools/cli/JobRunner.h"

namespace nurva::cli {

namespace {

constexpr int kDemoJobTimeoutMs = 60000;

std::string Seconds(double ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f s", ms / 1000.0);
  return b;
}

// Runs a followed job, printing the statuses; records it under jobs.<name>.
bool FollowedJob(DemoJob& job, const char* name, Result (*start)(int)) {
  Output& out = job.out;
  Json statuses = Json::array();
  const JobKind kind{name, start, true};
  JobOutcome o = RunJob(
      job.channel, kind,
      [&](const Result& r) {
        out.Step(r.call, r, JobRunning(r.res) || r.res == NURVA_RES_progDone);
        statuses.push_back(StatusJson(r, 0));
      },
      kDemoJobTimeoutMs);
  if (o.timedOut) out.Problem("  no final status within " + Seconds(kDemoJobTimeoutMs));
  if (o.ok)
    out.Line("  ended after " + Seconds(o.ms));
  else
    out.Problem("  FAILED after " + Seconds(o.ms));
  out.Doc()["jobs"][name] = {{"project", job.project}, {"statuses", statuses}, {"ok", o.ok},
                             {"ms", static_cast<int64_t>(o.ms + 0.5)}};
  out.Doc()["steps"].push_back(out.StepJson(job.stepName, o.final, o.ok));
  if (!o.ok && job.exit == kExitOk) job.exit = o.exit;
  return o.ok;
}

bool JobOk(DemoJob& job, const char* name) {
  const Json& jobs = job.out.Doc()["jobs"];
  return jobs.contains(name) && jobs[name]["ok"].get<bool>();
}

}  // namespace

bool DemoErase(DemoJob& job) {
  job.Expect("EraseDevice", CallEraseDevice(job.channel), NURVA_RES_resOk);
  return true;
}

bool DemoProgram(DemoJob& job) {
  job.out.Line("  project " + job.project);
  FollowedJob(job, "program", CallProgDevice);
  return true;
}

bool DemoVerify(DemoJob& job) {
  if (!JobOk(job, "program")) {
    job.Fail("not verified: the programming did not end well");
    return true;
  }
  FollowedJob(job, "verify", CallVerifyDevice);
  return true;
}

bool DemoJobResult(DemoJob& job) {
  Json& jobs = job.out.Doc()["jobs"];
  const bool ok = JobOk(job, "program") && JobOk(job, "verify");
  if (!ok) {
    job.Fail(job.project + " was not programmed and verified");
    return true;
  }
  const double prog = jobs["program"]["ms"].get<double>(), verify = jobs["verify"]["ms"].get<double>();
  job.out.Line("  " + job.project + " programmed and verified in " + Seconds(prog + verify) + " (program " +
               Seconds(prog) + ", verify " + Seconds(verify) + ")");
  job.out.Doc()["steps"].push_back({{"step", job.stepName}, {"ok", true}, {"ms", prog + verify}});
  return true;
}

}  // namespace nurva::cli
