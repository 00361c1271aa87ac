// What the subcommands of `nurva` share: the global options, discovery and the choice of
// one programmer, the record of one export's answer, and how a command family adds its
// subcommands (one source per family, cmd_<family>.cpp).
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli/Host.h"
#include "tools/cli/Output.h"

namespace nurva::cli {

// The options that come before the subcommand.
struct Common {
  bool json = false;
  std::optional<int> channel;
  std::optional<std::string> serial;
  std::string bus;
};

// Discovery with a progress note.
Discovery Find(Output& out);
// Discovery and the choice of one programmer; nullopt after reporting the error.
std::optional<Programmer> Select(Output& out, const Common& c, int& exit);
// Records one step; returns the exit status it stands for.
int Record(Output& out, const std::string& label, const Result& r, int32_t wanted);

// A subcommand and what runs it once the command line is parsed; `run` returns the exit
// status. Options live in state that `run` holds, so they outlive the parse.
struct Subcommand {
  CLI::App* app;
  std::function<int()> run;
};
using Subcommands = std::vector<Subcommand>;

// The families. Each adds its subcommands to `app`; `c` is filled in by the parse.
void AddCheckCommands(CLI::App& app, const Common& c, Subcommands& out);  // list, check, voltage, fuse
void AddParamsCommands(CLI::App& app, const Common& c, Subcommands& out);  // params
void AddFileCommands(CLI::App& app, const Common& c, Subcommands& out);    // files, open, close, delete, state, download
void AddJobCommands(CLI::App& app, const Common& c, Subcommands& out);    // erase, program, verify
void AddBlockCommands(CLI::App& app, const Common& c, Subcommands& out);  // read, write, compare

}  // namespace nurva::cli
