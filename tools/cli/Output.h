// Output of `nurva`: lines for people, or one JSON object for scripts; progress notes
// only when standard error is a terminal.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/cli/Host.h"

namespace nurva::cli {

using Json = nlohmann::ordered_json;

class Output {
 public:
  explicit Output(bool asJson);

  bool JsonMode() const { return json_; }
  // The JSON object printed at the end (in JSON mode).
  Json& Doc() { return doc_; }

  // A line of text (text mode only).
  void Line(const std::string& s);
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

}  // namespace nurva::cli
