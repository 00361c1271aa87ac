#include <cstddef>

#include "api/NURVA_DLL.h"
#include "tools/cli/CallLog.h"
#include "tools/cli/Host.h"

namespace nurva::cli {

namespace {

// The report is twelve short lines; the name and info text add at most 32 characters.
constexpr size_t kReportText = 4096;

struct LineName {
  const char* key;
  const char* label;
};
// The report's lines in their order.
constexpr LineName kLines[] = {
    {"name", "name"},
    {"fileDate", "file date"},
    {"date", "date"},
    {"info", "info"},
    {"frequency", "target clock"},
    {"sizeA", "size A (Flash)"},
    {"sizeB", "size B (EEprom)"},
    {"sizeC", "size C (user row)"},
    {"option", "verify option"},
    {"interface", "interface"},
    {"protection", "protection"},
    {"power", "power"},
};

}  // namespace

Result CallGetProjParams(int channel, const std::string& name) {
  Result r{"GetProjParams", -1, {}};
  std::string text(kReportText, '\0');
  CallLog log(r, "channel=" + std::to_string(channel) + ", name=" + Quoted(name));
  GetProjParams(channel, name.c_str(), &r.res, text.data());
  r.text = text.c_str();
  log.Done();
  return r;
}

std::vector<ReportLine> ParamsReportLines(const std::string& text) {
  std::vector<ReportLine> lines;
  size_t pos = 0;
  for (const LineName& l : kLines) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) return {};
    lines.push_back({l.key, l.label, text.substr(pos, end - pos)});
    pos = end + 2;
  }
  if (pos != text.size()) return {};
  return lines;
}

}  // namespace nurva::cli
