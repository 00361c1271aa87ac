// Output of `nurva`: lines for people, or one JSON object for scripts; progress notes
// only when standard error is a terminal.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/cli/Host.h"

namespace nurva::cli {

using Json = nlohmann::ordered_json;

// -q: text output only for what failed (on standard error), no progress notes. Set once,
// before the command runs; JSON output is not affected.
void SetQuiet(bool on);
bool Quiet();

class Output {
 public:
  explicit Output(bool asJson);

  bool JsonMode() const { return json_; }
  // The JSON object printed at the end (in JSON mode).
  Json& Doc() { return doc_; }

  // A line of text (text mode only; not with -q).
  void Line(const std::string& s);
  // A line that tells of a failure (text mode only): on standard output, or on standard
  // error with -q.
  void Problem(const std::string& s);
  // One export's answer as a step: "  label  text  [res name]".
  void Step(const std::string& label, const Result& r, bool ok);
  Json StepJson(const std::string& label, const Result& r, bool ok) const;
  // The error of a command, with the programmers it could have meant.
  int Fail(int exit, const std::string& error, const std::vector<Programmer>& candidates = {});
  // Prints the JSON object with "ok" and "exit" set; returns `exit`.
  int Finish(int exit);

  // A note on standard error while something slow runs; gone again with Clear().
  void Progress(const std::string& what);
  void Clear();

 private:
  bool json_;
  bool tty_;
  bool progressShown_ = false;
  Json doc_ = Json::object();
};

Json ProgrammerJson(const Programmer& p);

// A fuse selector as JSON: the character when it is printable ASCII, else "0xNN".
Json SelectorJson(uint8_t selector);
// A fuse value for people: "fuse 'l' = 0x62".
std::string FuseText(uint8_t selector, int32_t fuse);

}  // namespace nurva::cli
