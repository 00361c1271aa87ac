// Subcommand of the project parameters report: params NAME.
#include <cstdio>
#include <memory>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/Commands.h"

namespace nurva::cli {

namespace {

using json = Json;

// The text as valid UTF-8 for JSON: the programmer's name and info bytes may be in any
// 8-bit code page; a byte that starts no valid sequence becomes U+FFFD.
std::string Utf8(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    bool valid = n > 0 && i + n <= s.size() && !(n == 2 && b < 0xC2);
    for (size_t k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (valid) {
      out.append(s, i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

int Params(const Common& c, const std::string& name) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["file"] = Utf8(name);
  out.Doc()["steps"] = json::array();
  const Result r = CallGetProjParams(p->channel, name);
  const bool ok = r.res == NURVA_RES_resOk;
  Result shown = r;
  if (ok) shown.text = "report of " + name;
  out.Step("project parameters", shown, ok);
  Result recorded = r;
  recorded.text = Utf8(r.text);
  out.Doc()["steps"].push_back(out.StepJson("project parameters", recorded, ok));
  if (!ok) return out.Finish(ExitForFailure(r));

  const std::vector<ReportLine> lines = ParamsReportLines(r.text);
  if (lines.empty()) return out.Fail(kExitFault, "the report does not have its twelve lines");
  json fields = json::object();
  for (const ReportLine& l : lines) {
    fields[l.key] = Utf8(l.value);
    char label[32];
    std::snprintf(label, sizeof label, "  %-19s ", l.label.c_str());
    out.Line(label + l.value);
  }
  out.Doc()["params"] = fields;
  return out.Finish(kExitOk);
}

}  // namespace

void AddParamsCommands(CLI::App& app, const Common& c, Subcommands& out) {
  auto name = std::make_shared<std::string>();
  auto* params = app.add_subcommand("params", "show the settings of a project file on the programmer's card");
  params->add_option("name", *name, "the project file's name on the card")->required();
  out.push_back({params, [&c, name] { return Params(c, *name); }});
}

}  // namespace nurva::cli
