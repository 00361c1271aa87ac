// Every export `nurva` calls goes through a CallLog: it times the call into the Result
// (the exit status reads the duration, see Codes.h) and, with -v, prints the call with
// its arguments, its answer and how long it took on standard error.
#pragma once

#include <chrono>
#include <string>

#include "tools/cli/Host.h"

namespace nurva::cli {

// -v: print each export call. Set once, before the first call.
void SetCallTrace(bool on);
bool CallTrace();

// One line of the trace, "nurva: NAME(ARGS) -> ANSWER  [MS ms]"; safe from several threads.
void TraceLine(const std::string& call, const std::string& args, const std::string& answer, double ms);

// A text as the trace shows it: quoted, control and 8-bit bytes as \r, \n, \xNN.
std::string Quoted(const std::string& text);
// "res 1 resOk, text \"62\"" (or "no code" when the export wrote none).
std::string Answer(const Result& r);

// Times one export call: made just before the call, Done() right after it.
class CallLog {
 public:
  CallLog(Result& r, std::string args) : r_(r), args_(std::move(args)), t0_(std::chrono::steady_clock::now()) {}
  // Records the duration in the Result and prints the trace line; `extra` names what the
  // call wrote besides res and text ("volt 330").
  void Done(const std::string& extra = {});

 private:
  Result& r_;
  std::string args_;
  std::chrono::steady_clock::time_point t0_;
};

}  // namespace nurva::cli
