// Result codes of the library by name, and the exit statuses of `nurva`.
#pragma once

#include <cstdint>
#include <string>

#include "tools/cli/Host.h"

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
// A call that failed only after this long waited out the programmer's receive time limit
// (2000 ms, or 3000 and 4000 for the job starts): the programmer did not answer.
constexpr double kNoAnswerMs = 1500;

// The exit status for an answer that is not the one the command wanted: 5 when the
// channel has no programmer or the programmer did not answer, 1 when it answered with a
// refusal or a fault. A missing reply reads as a refusal inside the library, so a failure
// that took the receive time limit or longer counts as no answer, except for the calls
// that take long by their own work (the download, the listing, the file blocks).
int ExitForFailure(const Result& r);

}  // namespace nurva::cli
