// nurva: the command-line host for NURVA programmers, on the library's public header.
//
//   nurva list
//   nurva [--channel N | --serial S] check [--target]
//   nurva [--channel N | --serial S] voltage [--min V] [--max V]
//   nurva [--channel N | --serial S] fuse SELECTOR [--expect HEX]
//   nurva [--channel N | --serial S] files | open NAME | close | delete NAME | state | download FILE
//   nurva [--channel N | --serial S] params NAME
//   nurva demo
// --json on any of them prints one JSON object; the exit statuses are in Codes.h. The
// subcommands of each command family live in cmd_<family>.cpp (see Commands.h).
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "api/NURVA_DLL.h"
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

  Subcommands subcommands;
  AddCheckCommands(app, c, subcommands);
  AddFileCommands(app, c, subcommands);
  AddParamsCommands(app, c, subcommands);
  AddJobCommands(app, c, subcommands);
  AddBlockCommands(app, c, subcommands);

  DemoOptions demo;
  auto* demoCmd = app.add_subcommand("demo", "run the job on an in-process virtual programmer");
  demoCmd->add_flag("-v,--verbose", demo.verbose, "show the virtual programmer's traffic");
  demoCmd->add_flag("--keep", demo.keep, "keep the temporary bus and card directory");
  demoCmd->add_option("--fault", demo.faults, "fault for the virtual programmer to show (see nurva-sim --help)");
  subcommands.push_back({demoCmd, [&] {
                           demo.json = c.json;
                           return RunDemo(demo);
                         }});

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }
  UseBus(c.bus);

  for (const auto& s : subcommands)
    if (*s.app) return s.run();
  std::string names;
  for (const auto& s : subcommands) names += (names.empty() ? "" : ", ") + s.app->get_name();
  std::cerr << "nurva: a subcommand is required (" << names << ")\nRun with --help for more information.\n";
  return kExitUsage;
}
