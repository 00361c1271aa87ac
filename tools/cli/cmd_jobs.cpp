// Subcommands of erase, program and verify: erase, program, verify. Each follows its job
// with GetProgStatus to the end; with --all the job runs on every programmer at once, one
// thread per channel.
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define NURVA_ISATTY _isatty
#define NURVA_STDOUT 1
#else
#include <unistd.h>
#define NURVA_ISATTY isatty
#define NURVA_STDOUT STDOUT_FILENO
#endif

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/Commands.h"
#include "tools/cli/JobRunner.h"

namespace nurva::cli {

namespace {

struct JobOptions {
  bool x = false, usr = false;                                      // erase
  bool flash = false, eeprom = false, usrrow = false, fuses = false, lock = false;  // program, verify
  bool all = false;
  std::string log;
  double timeout = 300;
};

const JobKind kErase{"erase", CallEraseDevice, false};
const JobKind kEraseX{"erase --x", CallEraseDeviceX, false};
const JobKind kEraseUsr{"erase --usr", CallEraseDeviceUsr, false};
const JobKind kProgram{"program", CallProgDevice, true};
const JobKind kProgramFlash{"program --flash", CallProgFlash, true};
const JobKind kProgramEEprom{"program --eeprom", CallProgEEprom, true};
const JobKind kProgramUsrRow{"program --usrrow", CallProgUsrRow, true};
const JobKind kProgramFuses{"program --fuses", CallProgFuses, false};
const JobKind kProgramLock{"program --lock", CallProgLockBits, false};
const JobKind kVerify{"verify", CallVerifyDevice, true};
const JobKind kVerifyFlash{"verify --flash", CallVerifyFlashOnly, true};
const JobKind kVerifyEEprom{"verify --eeprom", CallVerifyEEpromOnly, true};

std::string StatusText(const Result& r) {
  return (r.text.empty() ? "(no text)" : r.text) + " [" + (r.res < 0 ? "no code" : std::to_string(r.res) + " " + CodeName(r.res)) + "]";
}

std::string Seconds(double ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f s", ms / 1000.0);
  return b;
}

// Writes the record of a finished job when --log is given; a failed write fails the
// command, its reason in `why` (and on standard error in text mode).
int Log(const Common& c, const JobOptions& o, const Programmer& p, const JobKind& kind, const JobOutcome& outcome,
        std::mutex& errLock, std::string& why) {
  if (o.log.empty()) return kExitOk;
  LogRecord rec{p.serial, OpenProjectName(p.channel), kind.command, outcome};
  std::string err;
  if (AppendLine(o.log, LogLine(rec), &err)) return kExitOk;
  why = "log: " + err;
  if (!c.json) {
    std::lock_guard<std::mutex> g(errLock);
    std::cerr << "nurva: " << why << "\n";
  }
  return kExitFault;
}

// One programmer: the job with a live line on a terminal, a plain line per status
// otherwise, or one JSON object per status.
int RunOne(const Common& c, const JobKind& kind, const JobOptions& o) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  const bool live = !c.json && !Quiet() && NURVA_ISATTY(NURVA_STDOUT);
  const auto t0 = std::chrono::steady_clock::now();
  auto onStatus = [&](const Result& r) {
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (c.json) {
      Json j = StatusJson(r, ms);
      j["serial"] = p->serial;
      std::cout << j.dump() << std::endl;
    } else if (Quiet()) {
    } else if (live) {
      std::cout << "\r  " << StatusText(r) << "\033[K" << std::flush;
    } else {
      std::cout << "  " << StatusText(r) << std::endl;
    }
  };
  JobOutcome outcome = RunJob(p->channel, kind, onStatus, static_cast<int>(o.timeout * 1000));
  if (live) std::cout << "\n";
  std::mutex errLock;
  std::string logError;
  const int logExit = Log(c, o, *p, kind, outcome, errLock, logError);
  exit = outcome.exit != kExitOk ? outcome.exit : logExit;
  const std::string result = outcome.timedOut ? "no final status within " + Seconds(o.timeout * 1000) : outcome.final.text;
  if (c.json) {
    Json j{{"programmer", ProgrammerJson(*p)}, {"command", kind.command}, {"start", StatusJson(outcome.start, 0)},
           {"final", StatusJson(outcome.final, outcome.ms)}, {"ms", static_cast<int64_t>(outcome.ms + 0.5)},
           {"ok", exit == kExitOk}, {"exit", exit}};
    if (outcome.timedOut)
      j["error"] = result;
    else if (!logError.empty())
      j["error"] = logError;
    std::cout << j.dump() << std::endl;
  } else if (!outcome.ok) {
    (Quiet() ? std::cerr : std::cout) << "FAILED: " << result << " (" << Seconds(outcome.ms) << ")" << std::endl;
  } else if (!Quiet()) {
    std::cout << "done: " << result << " (" << Seconds(outcome.ms) << ")" << std::endl;
  }
  return exit;
}

// Every programmer at once, one thread each.
int RunAll(const Common& c, const JobKind& kind, const JobOptions& o) {
  Output out(c.json);
  Discovery d = Find(out);
  if (d.programmers.empty()) return out.Fail(kExitNoProgrammer, "no programmer found");
  const size_t n = d.programmers.size();
  const bool live = !c.json && !Quiet() && NURVA_ISATTY(NURVA_STDOUT);
  std::mutex outLock;
  std::vector<std::string> lines(n);
  auto label = [&](size_t i) {
    const Programmer& p = d.programmers[i];
    return (p.serial.empty() ? "channel " + std::to_string(p.channel) : p.serial);
  };
  auto redraw = [&] {
    std::cout << "\033[" << n << "A";
    for (size_t i = 0; i < n; ++i) std::cout << "\r  " << label(i) << "  " << lines[i] << "\033[K\n";
    std::cout << std::flush;
  };
  if (live) {
    for (size_t i = 0; i < n; ++i) std::cout << "  " << label(i) << "  starting\n";
    std::cout << std::flush;
  }
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<JobOutcome> outcomes(n);
  std::vector<int> logExits(n, kExitOk);
  std::vector<std::string> logErrors(n);
  std::mutex errLock;
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      const Programmer& p = d.programmers[i];
      auto onStatus = [&](const Result& r) {
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        std::lock_guard<std::mutex> g(outLock);
        if (c.json) {
          Json j = StatusJson(r, ms);
          j["channel"] = p.channel;
          j["serial"] = p.serial;
          std::cout << j.dump() << std::endl;
        } else if (Quiet()) {
        } else if (live) {
          lines[i] = StatusText(r);
          redraw();
        } else {
          std::cout << "  " << label(i) << "  " << StatusText(r) << std::endl;
        }
      };
      outcomes[i] = RunJob(p.channel, kind, onStatus, static_cast<int>(o.timeout * 1000));
      logExits[i] = Log(c, o, p, kind, outcomes[i], errLock, logErrors[i]);
    });
  }
  for (auto& t : threads) t.join();

  int exit = kExitOk;
  Json slots = Json::array();
  for (size_t i = 0; i < n; ++i) {
    const Programmer& p = d.programmers[i];
    const JobOutcome& oc = outcomes[i];
    const int e = oc.exit != kExitOk ? oc.exit : logExits[i];
    if (e != kExitOk && exit == kExitOk) exit = e;
    const std::string result = oc.timedOut ? "no final status within " + Seconds(o.timeout * 1000) : oc.final.text;
    if (c.json) {
      Json j = ProgrammerJson(p);
      j["final"] = StatusJson(oc.final, oc.ms);
      j["ms"] = static_cast<int64_t>(oc.ms + 0.5);
      j["ok"] = e == kExitOk;
      j["exit"] = e;
      if (oc.timedOut)
        j["error"] = result;
      else if (!logErrors[i].empty())
        j["error"] = logErrors[i];
      slots.push_back(j);
    } else {
      char line[256];
      std::snprintf(line, sizeof line, "%-9s %-6s %-32s %s", label(i).c_str(), e == kExitOk ? "ok" : "FAILED",
                    result.c_str(), Seconds(oc.ms).c_str());
      if (e != kExitOk)
        (Quiet() ? std::cerr : std::cout) << line << std::endl;
      else if (!Quiet())
        std::cout << line << std::endl;
    }
  }
  if (c.json) {
    std::cout << Json{{"command", kind.command}, {"slots", slots}, {"ok", exit == kExitOk}, {"exit", exit}}.dump()
              << std::endl;
  } else {
    size_t failed = 0;
    for (size_t i = 0; i < n; ++i) failed += outcomes[i].exit != kExitOk || logExits[i] != kExitOk;
    if (failed)
      (Quiet() ? std::cerr : std::cout) << failed << " of " << n << " failed" << std::endl;
    else if (!Quiet())
      std::cout << "all " << n << " done" << std::endl;
  }
  return exit;
}

int Run(const Common& c, const JobKind& kind, const JobOptions& o) {
  return o.all ? RunAll(c, kind, o) : RunOne(c, kind, o);
}

void CommonJobOptions(CLI::App* app, JobOptions& o) {
  app->add_flag("--all", o.all, "run on every programmer found, at once");
  app->add_option("--log", o.log, "append one JSON line per finished job to this file");
  app->add_option("--timeout", o.timeout, "give up following the job after this many seconds (default 300)")
      ->check(CLI::Range(0.1, 86400.0));
}

}  // namespace

void AddJobCommands(CLI::App& app, const Common& c, Subcommands& out) {
  auto o = std::make_shared<JobOptions>();

  auto* erase = app.add_subcommand("erase", "erase the target");
  auto* x = erase->add_flag("--x", o->x, "the erase variant that also clears the user row");
  erase->add_flag("--usr", o->usr, "erase the user signature row only")->excludes(x);
  CommonJobOptions(erase, *o);
  out.push_back({erase, [&c, o] { return Run(c, o->x ? kEraseX : o->usr ? kEraseUsr : kErase, *o); }});

  auto* program = app.add_subcommand("program", "program the target from the open project and follow the job");
  auto* f = program->add_flag("--flash", o->flash, "Flash only");
  auto* e = program->add_flag("--eeprom", o->eeprom, "EEprom only");
  auto* u = program->add_flag("--usrrow", o->usrrow, "user signature row only");
  auto* fu = program->add_flag("--fuses", o->fuses, "fuses only");
  auto* l = program->add_flag("--lock", o->lock, "lock bits only");
  const std::vector<CLI::Option*> one = {f, e, u, fu, l};
  for (auto* a : one)
    for (auto* b : one)
      if (a != b) a->excludes(b);
  CommonJobOptions(program, *o);
  out.push_back({program, [&c, o] {
                   const JobKind& k = o->flash    ? kProgramFlash
                                      : o->eeprom ? kProgramEEprom
                                      : o->usrrow ? kProgramUsrRow
                                      : o->fuses  ? kProgramFuses
                                      : o->lock   ? kProgramLock
                                                  : kProgram;
                   return Run(c, k, *o);
                 }});

  auto* verify = app.add_subcommand("verify", "verify the target against the open project and follow the job");
  auto* vf = verify->add_flag("--flash", o->flash, "Flash only");
  auto* ve = verify->add_flag("--eeprom", o->eeprom, "EEprom only");
  vf->excludes(ve);
  CommonJobOptions(verify, *o);
  out.push_back({verify, [&c, o] { return Run(c, o->flash ? kVerifyFlash : o->eeprom ? kVerifyEEprom : kVerify, *o); }});
}

}  // namespace nurva::cli
