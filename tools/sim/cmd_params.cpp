// Project parameters: the protection features of the open project ('a') and the
// parameter record of a project file on the card ('A' and the file's name).
#include <algorithm>
#include <optional>

#include "tools/sim/Firmware.h"

namespace nurva::sim {

namespace {

// The protection reply when there is no project to tell about.
constexpr uint8_t kProtectionUnknown = '?';

// 'a': the open project's protection features as one character and its device limit as
// a word; '?' and 0 without an open project. The fault protected-project claims its own
// features.
void Protection(Exchange& ex) {
  const bool open = ex.st.CardUsable() && ex.st.open;
  const uint16_t quantity = open ? ex.st.open->quantity : 0;
  if (ex.st.faults.protectedProject) {
    ex.Note("protection claimed by fault");
    ex.Reply(*ex.st.faults.protectedProject);
    ex.ReplyWord(quantity);
    return;
  }
  if (!open) {
    ex.Note("no open project");
    ex.Reply(kProtectionUnknown);
    ex.ReplyWord(0);
    return;
  }
  ex.Reply(ex.st.open->protection.bits);
  ex.ReplyWord(quantity);
}

// 'A' name: ACK when the file is on the card (else NAK), ACK when it is a whole project
// (else NAK), ACK when the record can be sent (else NAK: fault params-refused), then the
// record's length and the record in one packet (cut short by the fault params-short).
void ParamRecord(Exchange& ex) {
  auto name = ex.ArgString();
  if (!name) return;
  std::optional<std::vector<uint8_t>> file;
  if (ex.st.CardUsable()) file = ex.card.Read(*name);
  if (!file) {
    ex.Note("no file " + *name + " on the card");
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  std::string why;
  const std::optional<Project> project = Project::Parse(*file, &why);
  if (!project) {
    ex.Note(*name + ": " + why);
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  if (ex.st.faults.paramsRefused) {
    ex.Note("record refused (fault)");
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  const auto record = project->ParamRecord();
  ex.Reply(static_cast<uint8_t>(record.size()));
  size_t n = record.size();
  if (ex.st.faults.paramsShort >= 0) {
    n = std::min(n, static_cast<size_t>(ex.st.faults.paramsShort));
    ex.Note("record cut to " + std::to_string(n) + " bytes (fault)");
  }
  ex.ReplyBytes({record.data(), n});
}

}  // namespace

void AddParamsCommands(CommandSet& set) {
  set.Add(TCmdTyp::TESKcmd, 'a', "project protection", Protection);
  set.Add(TCmdTyp::TESKcmd, 'A', "project parameters", ParamRecord);
}

}  // namespace nurva::sim
