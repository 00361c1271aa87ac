#include "tools/cli/Commands.h"

#include "tools/cli/Codes.h"

namespace nurva::cli {

Discovery Find(Output& out) {
  out.Progress("searching for programmers");
  Discovery d = Discover();
  out.Clear();
  return d;
}

std::optional<Programmer> Select(Output& out, const Common& c, int& exit) {
  Discovery d = Find(out);
  Chosen ch = Choose(d, {c.channel, c.serial});
  if (!ch.programmer) {
    exit = out.Fail(ch.exit, ch.error, ch.candidates);
    return std::nullopt;
  }
  out.Doc()["programmer"] = ProgrammerJson(*ch.programmer);
  out.Line("channel " + std::to_string(ch.programmer->channel) + ", serial " +
           (ch.programmer->serial.empty() ? "(unknown)" : ch.programmer->serial));
  return ch.programmer;
}

int Record(Output& out, const std::string& label, const Result& r, int32_t wanted) {
  const bool ok = r.res == wanted;
  out.Step(label, r, ok);
  out.Doc()["steps"].push_back(out.StepJson(label, r, ok));
  return ok ? kExitOk : ExitForFailure(r);
}

}  // namespace nurva::cli
