// A job as `nurva` runs it: the start call, then GetProgStatus until the job ends, with
// each change of status handed to the caller; and the production log line of a finished
// job, appended in one write.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/cli/Host.h"
#include "tools/cli/Output.h"

namespace nurva::cli {

// What one command starts and how its end is known.
struct JobKind {
  const char* command;  // as the log names it: "erase", "program --flash", ...
  Result (*start)(int channel);
  bool follows;  // a job that runs on after the start and ends with its final status
};

struct JobOutcome {
  Result start;
  Result final;  // the last status of a followed job, else the start's answer
  bool ok = false;
  bool timedOut = false;
  double ms = 0;  // from the start call to the end
  int exit = 0;
};

// The codes of a job still running.
bool JobRunning(int32_t res);

// Starts the job on `channel` and, when it follows, polls until it ends or `timeoutMs`
// has passed. `onStatus` gets the start's answer and every change of status.
JobOutcome RunJob(int channel, const JobKind& kind, const std::function<void(const Result&)>& onStatus,
                  int timeoutMs);

// One status or the final answer as a JSON object.
Json StatusJson(const Result& r, double ms);

// The production record of one finished job.
struct LogRecord {
  std::string serial, project, command;
  JobOutcome outcome;
};
std::string LogLine(const LogRecord& rec);
// Appends `line` and a newline to `path` in one write, so lines of concurrent jobs never
// interleave. False with the reason in `err`.
bool AppendLine(const std::string& path, const std::string& line, std::string* err);

}  // namespace nurva::cli
