// Subcommands of the programmer check and target control: list, check, voltage, fuse.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/Commands.h"

namespace nurva::cli {

namespace {

using json = Json;

// A channel whose check finds no programmer to work with: the link has no device open
// (the one discovery ended at) or the programmer did not answer.
bool Unusable(const Result& check) { return check.res != NURVA_RES_MMCok && ExitForFailure(check) == kExitNoAnswer; }

int List(const Common& c) {
  Output out(c.json);
  Discovery d = Find(out);
  out.Doc()["strangers"] = d.strangers;
  out.Doc()["programmers"] = json::array();
  out.Doc()["endedAt"] = nullptr;
  out.Doc()["notes"] = json::array();
  auto note = [&](const std::string& s) {
    out.Line(s);
    out.Doc()["notes"].push_back(s);
  };
  // AbortAll only says that at least one device was dropped, not which or how many.
  const std::string dropped =
      "dropped: at least one device that answered with another model name (which and how many is not known)";
  if (d.programmers.empty()) {
    if (d.strangers) note(dropped);
    return out.Fail(kExitNoProgrammer, d.strangers ? "no programmer found; " + dropped : "no programmer found");
  }
  out.Line("channel  serial    check");
  std::vector<int> unusable;
  std::optional<int> endedAt;
  for (const auto& p : d.programmers) {
    out.Progress("checking channel " + std::to_string(p.channel));
    Result r = CallCheckProgrammer(p.channel);
    json j = ProgrammerJson(p);
    j["check"] = out.StepJson("programmer check", r, r.res == NURVA_RES_MMCok);
    j["usable"] = !Unusable(r);
    out.Doc()["programmers"].push_back(j);
    char line[256];
    std::snprintf(line, sizeof line, "%-8d %-9s %s [%d %s]", p.channel, p.serial.empty() ? "-" : p.serial.c_str(),
                  r.text.c_str(), r.res, CodeName(r.res).c_str());
    out.Line(line);
    if (Unusable(r)) unusable.push_back(p.channel);
    // Discovery keeps the device that never answered its identification as the last link,
    // without an open device: there it ended.
    if (r.res == NURVA_RES_MMCnoProg && p.channel == d.programmers.back().channel) endedAt = p.channel;
  }
  if (endedAt) {
    // Without drops the device number is the channel; each dropped device before it
    // moves it one further.
    const std::string device = d.strangers ? std::to_string(*endedAt + 1) + " or later" : std::to_string(*endedAt);
    note("discovery ended at device " + device + ": no answer; later devices were not probed");
    out.Doc()["endedAt"] = {{"channel", *endedAt}, {"device", d.strangers ? json(nullptr) : json(*endedAt)}};
  }
  if (d.strangers) note(dropped);
  if (!unusable.empty()) {
    std::string which;
    for (int ch : unusable) which += (which.empty() ? "" : ", ") + std::to_string(ch);
    return out.Fail(kExitNoAnswer,
                    std::string(unusable.size() == 1 ? "channel " : "channels ") + which + " without a usable programmer");
  }
  return out.Finish(kExitOk);
}

int Check(const Common& c, bool target) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  exit = Record(out, "programmer check", CallCheckProgrammer(p->channel), NURVA_RES_MMCok);
  if (exit == kExitOk) exit = Record(out, "init channel", CallInitChannel(p->channel), NURVA_RES_progFound);
  if (exit == kExitOk && target) exit = Record(out, "target check", CallCheckDevice(p->channel), NURVA_RES_resOk);
  return out.Finish(exit);
}

int Voltage(const Common& c, std::optional<double> min, std::optional<double> max, bool allowOff) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  int32_t volt = 0;
  Result r = CallGetTargVolt(p->channel, volt);
  out.Doc()["steps"] = json::array();
  exit = Record(out, "target voltage", r, NURVA_RES_resOk);
  const double volts = volt / 100.0;
  out.Doc()["volt"] = volt;
  out.Doc()["volts"] = volts;
  if (exit != kExitOk) return out.Finish(exit);
  out.Line("  " + r.text + " V");
  if (volt == 0 && !allowOff)
    return out.Fail(kExitFault, "target voltage 0 V: the target is not powered (--allow-off accepts this)");
  if ((min && volts < *min) || (max && volts > *max)) {
    char why[128];
    if (min && volts < *min)
      std::snprintf(why, sizeof why, "target voltage %.2f V below %.2f V", volts, *min);
    else
      std::snprintf(why, sizeof why, "target voltage %.2f V above %.2f V", volts, *max);
    return out.Fail(kExitFault, why);
  }
  return out.Finish(kExitOk);
}

bool ParseSelector(const std::string& s, uint8_t& sel) {
  if (s.size() == 1) {
    sel = static_cast<uint8_t>(s[0]);
    return true;
  }
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    char* end = nullptr;
    unsigned long v = std::strtoul(s.c_str() + 2, &end, 16);
    if (*end || v > 0xFF) return false;
    sel = static_cast<uint8_t>(v);
    return true;
  }
  return false;
}

int Fuse(const Common& c, const std::string& selector, const std::string& expect) {
  Output out(c.json);
  uint8_t sel = 0;
  if (!ParseSelector(selector, sel)) return out.Fail(kExitUsage, "the selector is one character or 0xNN");
  std::optional<int> wanted;
  if (!expect.empty()) {
    char* end = nullptr;
    unsigned long v = std::strtoul(expect.c_str(), &end, 16);
    if (*end || v > 0xFF) return out.Fail(kExitUsage, "--expect needs a hexadecimal byte");
    wanted = static_cast<int>(v);
  }
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  int32_t fuse = 255;
  Result r = CallGetFuses(p->channel, sel, fuse);
  out.Doc()["steps"] = json::array();
  out.Doc()["selector"] = SelectorJson(sel);
  exit = Record(out, "fuse read", r, NURVA_RES_resOk);
  if (exit != kExitOk) return out.Finish(exit);
  out.Doc()["fuse"] = fuse;
  out.Line("  " + FuseText(sel, fuse));
  if (wanted && fuse != *wanted) {
    char why[96];
    std::snprintf(why, sizeof why, "fuse is 0x%02X, expected 0x%02X", fuse, *wanted);
    return out.Fail(kExitFault, why);
  }
  return out.Finish(kExitOk);
}

}  // namespace

void AddCheckCommands(CLI::App& app, const Common& c, Subcommands& out) {
  struct Options {
    bool target = false;
    std::optional<double> vmin, vmax;
    bool allowOff = false;
    std::string selector, expect;
  };
  auto o = std::make_shared<Options>();
  auto* list = app.add_subcommand("list", "find the programmers, with serial number and check of each");
  out.push_back({list, [&c] { return List(c); }});
  auto* check = app.add_subcommand("check", "check the programmer and its card, and prepare the channel");
  check->add_flag("--target", o->target, "also check the target device against the open project");
  out.push_back({check, [&c, o] { return Check(c, o->target); }});
  auto* voltage = app.add_subcommand("voltage", "read the target supply voltage");
  voltage->add_option("--min", o->vmin, "fail below this many volts");
  voltage->add_option("--max", o->vmax, "fail above this many volts");
  voltage->add_flag("--allow-off", o->allowOff, "accept 0 V, a target without supply");
  out.push_back({voltage, [&c, o] { return Voltage(c, o->vmin, o->vmax, o->allowOff); }});
  auto* fuse = app.add_subcommand("fuse", "read one fuse byte of the target");
  fuse->add_option("selector", o->selector,
                   "fuse selector: one character (the virtual programmer knows l, h, e, 0-9, k and L, H, E, K) or 0xNN")
      ->required();
  fuse->add_option("--expect", o->expect, "fail unless the fuse has this value (hex)");
  out.push_back({fuse, [&c, o] { return Fuse(c, o->selector, o->expect); }});
}

}  // namespace nurva::cli
