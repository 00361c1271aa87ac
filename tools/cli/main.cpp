// nurva: the command-line host for NURVA programmers, on the library's public header.
//
//   nurva list
//   nurva [--channel N | --serial S] check [--target]
//   nurva [--channel N | --serial S] voltage [--min V] [--max V]
//   nurva [--channel N | --serial S] fuse SELECTOR [--expect HEX]
//   nurva [--channel N | --serial S] files | open NAME | close | delete NAME | state | download FILE
//   nurva [--channel N | --serial S] params NAME
//   nurva demo
//   nurva --version
// --json on any of them prints one JSON object (errors of the command line included); -v
// traces every export call on standard error, -q leaves only the failures. The exit
// statuses are in Codes.h. The subcommands of each command family live in
// cmd_<family>.cpp (see Commands.h).
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "api/NURVA_DLL.h"
#include "tools/cli/CallLog.h"
#include "tools/cli/Codes.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Demo.h"

using namespace nurva::cli;

namespace {

void UseBus(const std::string& dir) {
  if (dir.empty()) return;
#ifdef _WIN32
  _putenv_s("NURVA_VUSB_DIR", dir.c_str());
#else
  ::setenv("NURVA_VUSB_DIR", dir.c_str(), 1);
#endif
}

// --json anywhere before a "--": known before the parse, so that an error of the command
// line itself can be reported as JSON.
bool WantsJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

int UsageError(bool json, const std::string& error) {
  if (json) {
    Json j{{"ok", false}, {"exit", kExitUsage}, {"error", error}};
    std::cout << j.dump(2) << std::endl;
  } else {
    std::cerr << "nurva: " << error << "\nRun with --help for more information.\n";
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"nurva: command-line host for NURVA device programmers.\n"
               "Select a programmer with --channel or --serial when more than one is attached."};
  app.require_subcommand(0, 1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("nurva ") + NURVA_VERSION, "print the version and exit");
  Common c;
  bool verbose = false, quiet = false;
  app.add_flag("--json", c.json, "print one JSON object instead of text (errors too)");
  app.add_flag("-v,--verbose", verbose,
               "print every library call with its arguments, answer and duration on standard error "
               "(demo: also the virtual programmer's traffic)");
  app.add_flag("-q,--quiet", quiet, "print nothing but failures");
  app.add_option("-c,--channel", c.channel, "the programmer at this channel (from 0, see nurva list)")
      ->check(CLI::Range(0, NURVA_MAX_PROGRAMMERS - 1));
  app.add_option("-s,--serial", c.serial, "the programmer whose serial number ends in this");
#ifndef _WIN32
  app.add_option("--bus", c.bus, "virtual bus directory (sets NURVA_VUSB_DIR)");
#endif

  Subcommands subcommands;
  AddCheckCommands(app, c, subcommands);
  AddFileCommands(app, c, subcommands);
  AddParamsCommands(app, c, subcommands);
  AddJobCommands(app, c, subcommands);
  AddBlockCommands(app, c, subcommands);

  DemoOptions demo;
  auto* demoCmd = app.add_subcommand("demo", "run the job on an in-process virtual programmer");
  demoCmd->add_flag("--keep", demo.keep, "keep the temporary bus and card directory");
  demoCmd->add_option("--fault", demo.faults, "fault for the virtual programmer to show (see nurva-sim --help)");
  subcommands.push_back({demoCmd, [&] {
                           demo.json = c.json;
                           demo.verbose = verbose;
                           return RunDemo(demo);
                         }});

  const bool json = WantsJson(argc, argv);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end the parse too, with status 0.
    if (e.get_exit_code() == 0 || !json) {
      const int rc = app.exit(e);
      return rc == 0 ? kExitOk : kExitUsage;
    }
    return UsageError(true, e.what());
  }
  if (verbose && quiet) return UsageError(json, "-v and -q exclude each other");
  UseBus(c.bus);
  SetCallTrace(verbose);
  SetQuiet(quiet);

  for (const auto& s : subcommands) {
    if (!*s.app) continue;
    try {
      return s.run();
    } catch (const std::exception& e) {
      // A fault of nurva itself; the library reports through result codes only.
      if (json) {
        std::cout << Json{{"ok", false}, {"exit", kExitFault}, {"error", std::string("internal error: ") + e.what()}}.dump(2)
                  << std::endl;
      } else {
        std::cerr << "nurva: internal error: " << e.what() << "\n";
      }
      return kExitFault;
    }
  }
  std::string names;
  for (const auto& s : subcommands) names += (names.empty() ? "" : ", ") + s.app->get_name();
  return UsageError(json, "a subcommand is required (" + names + ")");
}
