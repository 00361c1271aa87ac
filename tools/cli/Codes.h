// Result codes of the library by name, and the exit statuses of `nurva`.
#pragma once

#include <cstdint>
#include <string>

namespace nurva::cli {

// Exit statuses, documented in tools/cli/README.md.
enum Exit : int {
  kExitOk = 0,           // the command did what was asked
  kExitFault = 1,        // the programmer or the target reported a fault
  kExitUsage = 2,        // bad option or argument
  kExitNoProgrammer = 3, // no programmer found, or none matches --channel / --serial
  kExitAmbiguous = 4,    // --serial (or no selection) fits more than one programmer
  kExitNoAnswer = 5,     // the programmer did not answer or the channel is unusable
  kExitDemoSetup = 6,    // `nurva demo` could not start its virtual programmer
};

// "MMCok" for 39; "code 99" outside the table.
std::string CodeName(int32_t res);
// The exit status for a result code that is not the one the command wanted.
int ExitForFailure(int32_t res);

}  // namespace nurva::cli
