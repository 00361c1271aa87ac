// Programmer check and target control: card state, release, target check, voltage and
// fuse reads.
#include <optional>

#include "tools/sim/Firmware.h"

namespace nurva::sim {

namespace {

// 'G': the card state as one character, 0 usable, 1 no card, 2 init, 3 reset or
// 4 check failed.
void CardStatus(Exchange& ex) { ex.Reply(static_cast<uint8_t>(ex.st.card)); }

// 'r': the programmer lets go of the target and confirms.
void Release(Exchange& ex) {
  ex.Note("target released");
  ex.Reply(kAck);
}

// 'Q' 'c': ACK and the target's state against the open project; NAK alone when there
// is no open project to check against.
void CheckDevice(Exchange& ex) {
  if (!ex.st.CardUsable() || !ex.st.open) {
    ex.Note("no open project");
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  ex.Reply(CheckTarget(ex.st.target, ex.st.open->signature));
}

// 'T': the measured target supply in 10 mV, 0 without power.
void Voltage(Exchange& ex) { ex.ReplyWord(ex.st.target.powered ? ex.st.target.voltage : 0); }

// The fuse selector: 'l', 'h', 'e' name fuse bytes 0, 1, 2, the digits '0' to '9' fuse
// byte N and 'k' the lock bits. These compare the target with the open project before
// the read. The capitals 'L', 'H', 'E', 'K' read the target directly, without a project.
struct Selector {
  int index;  // -1: lock bits
  bool direct;
};

std::optional<Selector> ParseSelector(uint8_t c) {
  switch (c) {
    case 'l': return Selector{0, false};
    case 'h': return Selector{1, false};
    case 'e': return Selector{2, false};
    case 'k': return Selector{-1, false};
    case 'L': return Selector{0, true};
    case 'H': return Selector{1, true};
    case 'E': return Selector{2, true};
    case 'K': return Selector{-1, true};
    default:
      if (c >= '0' && c <= '9') return Selector{c - '0', false};
      return std::nullopt;
  }
}

// 'Q' 'g' selector. A read checked against the project refuses before it starts: NAK and
// 0 (no project), 1 (no power) or 3 (wrong ID). Once started (CR), a failed read is NAK
// and 1, 3, 4 (protected) or 2 (no such fuse); a good one ACK and the value.
void ReadFuse(Exchange& ex) {
  auto c = ex.ArgChar();
  if (!c) return;
  const std::optional<Selector> sel = ParseSelector(*c);
  const Target& t = ex.st.target;
  const bool direct = sel && sel->direct;
  auto refuse = [&](uint8_t code) {
    ex.Reply(kNak);
    ex.Reply(code);
  };

  if (!direct) {
    if (!ex.st.CardUsable() || !ex.st.open) {
      ex.Note("no open project");
      return refuse(0);
    }
    if (!t.powered) return refuse(kTargetPowerDown);
    if (t.ReadId() != ex.st.open->signature) return refuse(kTargetWrongId);
  }
  ex.Reply(kCr);
  if (!t.powered) return refuse(kTargetPowerDown);
  if (t.ReadId() != t.signature) return refuse(kTargetWrongId);
  if (t.locked) return refuse(kTargetProtected);
  std::optional<uint8_t> value;
  if (sel && sel->index < 0) {
    value = t.lockBits;
  } else if (sel) {
    if (auto it = t.fuses.find(sel->index); it != t.fuses.end()) value = it->second;
  }
  if (!value) {
    ex.Note("no such fuse");
    return refuse(2);
  }
  ex.Reply(kAck);
  ex.Reply(*value);
}

}  // namespace

void AddCheckCommands(CommandSet& set) {
  set.Add(TCmdTyp::TESKcmd, 'G', "card state", CardStatus);
  set.Add(TCmdTyp::TESKcmd, 'r', "release target", Release);
  set.Add(TCmdTyp::TESKcmd, 'T', "target voltage", Voltage);
  set.AddQ('c', "check device", CheckDevice);
  set.AddQ('g', "read fuse", ReadFuse);
}

}  // namespace nurva::sim
