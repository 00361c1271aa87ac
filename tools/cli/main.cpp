// nurva: the command-line host for NURVA programmers, on the library's public header.
//
//   nurva list
//   nurva [--channel N | --serial S] check [--target]
//   nurva [--channel N | --serial S] voltage [--min V] [--max V]
//   nurva [--channel N | --serial S] fuse SELECTOR [--expect HEX]
//   nurva demo
// --json on any of them prints one JSON object; the exit statuses are in Codes.h.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/Demo.h"
#include "tools/cli/Host.h"
#include "tools/cli/Output.h"

using namespace nurva::cli;
using json = nurva::cli::Json;

namespace {

struct Common {
  bool json = false;
  std::optional<int> channel;
  std::optional<std::string> serial;
  std::string bus;
};

void UseBus(const std::string& dir) {
  if (dir.empty()) return;
#ifdef _WIN32
  _putenv_s("NURVA_VUSB_DIR", dir.c_str());
#else
  ::setenv("NURVA_VUSB_DIR", dir.c_str(), 1);
#endif
}

Discovery Find(Output& out) {
  out.Progress("searching for programmers");
  Discovery d = Discover();
  out.Clear();
  return d;
}

// Discovery and the choice of one programmer; nullopt after reporting the error.
std::optional<Programmer> Select(Output& out, const Common& c, int& exit) {
  Discovery d = Find(out);
  Chosen ch = Choose(d, {c.channel, c.serial});
  if (!ch.programmer) {
    exit = out.Fail(ch.exit, ch.error, ch.candidates);
    return std::nullopt;
  }
  out.Doc()["programmer"] = ProgrammerJson(*ch.programmer);
  out.Line("channel " + std::to_string(ch.programmer->channel) + ", serial " +
           (ch.programmer->serial.empty() ? "(unknown)" : ch.programmer->serial));
  return ch.programmer;
}

// Records one step; returns the exit status it stands for.
int Record(Output& out, const std::string& label, const Result& r, int32_t wanted) {
  const bool ok = r.res == wanted;
  out.Step(label, r, ok);
  out.Doc()["steps"].push_back(out.StepJson(label, r, ok));
  return ok ? kExitOk : ExitForFailure(r.res);
}

int List(const Common& c) {
  Output out(c.json);
  Discovery d = Find(out);
  out.Doc()["strangers"] = d.strangers;
  out.Doc()["programmers"] = json::array();
  if (d.programmers.empty()) return out.Fail(kExitNoProgrammer, "no programmer found");
  out.Line("channel  serial    check");
  for (const auto& p : d.programmers) {
    out.Progress("checking channel " + std::to_string(p.channel));
    Result r = CallCheckProgrammer(p.channel);
    json j = ProgrammerJson(p);
    j["check"] = out.StepJson("programmer check", r, r.res == NURVA_RES_MMCok);
    out.Doc()["programmers"].push_back(j);
    char line[256];
    std::snprintf(line, sizeof line, "%-8d %-9s %s [%d %s]", p.channel, p.serial.empty() ? "-" : p.serial.c_str(),
                  r.text.c_str(), r.res, CodeName(r.res).c_str());
    out.Line(line);
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

int Voltage(const Common& c, std::optional<double> min, std::optional<double> max) {
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
  out.Doc()["selector"] = std::string(1, static_cast<char>(sel));
  exit = Record(out, "fuse read", r, NURVA_RES_resOk);
  if (exit != kExitOk) return out.Finish(exit);
  out.Doc()["fuse"] = fuse;
  if (wanted && fuse != *wanted) {
    char why[96];
    std::snprintf(why, sizeof why, "fuse is %02X, expected %02X", fuse, *wanted);
    return out.Fail(kExitFault, why);
  }
  return out.Finish(kExitOk);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"nurva: command-line host for NURVA device programmers.\n"
               "Select a programmer with --channel or --serial when more than one is attached."};
  app.require_subcommand(0, 1);
  app.fallthrough();
  Common c;
  app.add_flag("--json", c.json, "print one JSON object instead of text");
  app.add_option("-c,--channel", c.channel, "the programmer at this channel (from 0, see nurva list)")
      ->check(CLI::Range(0, NURVA_MAX_PROGRAMMERS - 1));
  app.add_option("-s,--serial", c.serial, "the programmer whose serial number ends in this");
#ifndef _WIN32
  app.add_option("--bus", c.bus, "virtual bus directory (sets NURVA_VUSB_DIR)");
#endif

  auto* list = app.add_subcommand("list", "find the programmers, with serial number and check of each");
  bool target = false;
  auto* check = app.add_subcommand("check", "check the programmer and its card, and prepare the channel");
  check->add_flag("--target", target, "also check the target device against the open project");
  std::optional<double> vmin, vmax;
  auto* voltage = app.add_subcommand("voltage", "read the target supply voltage");
  voltage->add_option("--min", vmin, "fail below this many volts");
  voltage->add_option("--max", vmax, "fail above this many volts");
  std::string selector, expect;
  auto* fuse = app.add_subcommand("fuse", "read one fuse byte of the target");
  fuse->add_option("selector", selector,
                   "fuse selector: one character (the virtual programmer knows l, h, e, 0-9, k and L, H, E, K) or 0xNN")
      ->required();
  fuse->add_option("--expect", expect, "fail unless the fuse has this value (hex)");
  DemoOptions demo;
  auto* demoCmd = app.add_subcommand("demo", "run the job on an in-process virtual programmer");
  demoCmd->add_flag("-v,--verbose", demo.verbose, "show the virtual programmer's traffic");
  demoCmd->add_flag("--keep", demo.keep, "keep the temporary bus and card directory");
  demoCmd->add_option("--fault", demo.faults, "fault for the virtual programmer to show (see nurva-sim --help)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }
  UseBus(c.bus);

  if (*list) return List(c);
  if (*check) return Check(c, target);
  if (*voltage) return Voltage(c, vmin, vmax);
  if (*fuse) return Fuse(c, selector, expect);
  if (*demoCmd) {
    demo.json = c.json;
    return RunDemo(demo);
  }
  std::cerr << "nurva: a subcommand is required (list, check, voltage, fuse, demo)\nRun with --help for more information.\n";
  return kExitUsage;
}
