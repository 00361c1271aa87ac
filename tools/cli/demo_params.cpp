// Demo step of the project parameters report.
#include <cstdio>

#include "api/NURVA_DLL.h"
#include "tools/cli/DemoJob.h"

namespace nurva::cli {

bool DemoProjectParams(DemoJob& job) {
  Result r = CallGetProjParams(job.channel, job.project);
  const std::string report = r.text;
  if (r.res == NURVA_RES_resOk) r.text = "report of " + job.project;
  if (!job.Expect("GetProjParams", r, NURVA_RES_resOk)) return true;
  const std::vector<ReportLine> lines = ParamsReportLines(report);
  if (lines.empty()) {
    job.Fail("the report does not have its twelve lines");
    return true;
  }
  Json fields = Json::object();
  for (const ReportLine& l : lines) {
    fields[l.key] = l.value;
    char label[32];
    std::snprintf(label, sizeof label, "      %-19s ", l.label.c_str());
    job.out.Line(label + l.value);
  }
  job.out.Doc()["params"] = fields;
  return true;
}

}  // namespace nurva::cli
