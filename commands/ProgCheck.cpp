// Programmer check and target control: is the programmer there and its card usable,
// prepare and release the target, the target's state, voltage and one fuse byte.
#include <cstdio>

#include "commands/TargetFaults.h"
#include "common/LocaleFacts.h"
#include "transport/RdrList.h"

namespace nurva {

namespace {

// Reply codes of the card check ('G').
constexpr char kCardNoMedia = 1;
constexpr char kCardInitFailed = 2;
constexpr char kCardResetFailed = 3;
constexpr char kCardCheckFailed = 4;

// Target states of the device check, beside the faults of TargetFaults.h.
constexpr char kTargetEmpty = 0;
constexpr char kTargetNotEmpty = 5;

constexpr int kReleaseAttempts = 5;
constexpr uint32_t kReplySettleMs = 5;

// A voltage in units of 10 mV as a decimal number in its shortest form.
std::string VoltText(uint16_t w, const std::string& sep) {
  std::string t = std::to_string(w / 100);
  unsigned frac = w % 100;
  if (frac == 0) return t;
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02u", frac);
  t += sep;
  t += digits[0];
  if (digits[1] != '0') t += digits[1];
  return t;
}

std::string Hex2(uint8_t b) {
  char t[3];
  std::snprintf(t, sizeof t, "%02X", b);
  return t;
}

}  // namespace

// ---------------------------------------------------------------- link commands

std::string TUSBreader::DoCheckProgrammer(int32_t& res) {
  Msg = "?";
  Fres = TPrgResult::resNone;
  if (!Connected()) {
    res = Ord(TPrgResult::MMCnoProg);
    Fres = TPrgResult::noProg;
    return "programmer not found! at Port " + GetSerNum();
  }
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'G');
  LinkPause(kReplySettleMs);
  char ch;
  RxChar(ch);
  struct CardFault {
    char reply;
    TPrgResult res, fres;
    const char* text;
  };
  static constexpr CardFault kFaults[] = {
      {kCardNoMedia, TPrgResult::MMCmissing, TPrgResult::MMCnoMedia, "TESK found, no flashcard"},
      {kCardInitFailed, TPrgResult::MMCinitFailed, TPrgResult::MMCinitFailed, "TESK found, MMC init failed"},
      {kCardResetFailed, TPrgResult::MMCresetFailed, TPrgResult::MMCresetFailed, "TESK found, MMC reset failed"},
      {kCardCheckFailed, TPrgResult::MMCcheckFailed, TPrgResult::MMCcheckFailed, "TESK found, MMC check failed"},
  };
  for (const auto& f : kFaults) {
    if (ch != f.reply) continue;
    res = Ord(f.res);
    Fres = f.fres;
    Msg = f.text;
    return f.text;
  }
  res = Ord(TPrgResult::MMCok);
  Fres = TPrgResult::progFound;
  Msg = "TESK found";
  return "TESK at Port " + GetSerNum();
}

std::string TUSBreader::DoInitChannel(int32_t& res) {
  FlushBuffer();
  if (Connected() && !FDeviceRec.FirmwLost) {
    res = Ord(TPrgResult::progFound);
    return "prog OK";
  }
  if (Connected()) {
    res = Ord(TPrgResult::progDefect);
    return "TESK lost Firmware";
  }
  Fres = TPrgResult::noProg;
  res = Ord(TPrgResult::noProg);
  return "Check Port";
}

std::string TUSBreader::DoReleaseTarget(int32_t& res) {
  std::string text;
  if (!PresenceCheck(text, res)) {
    Fres = TPrgResult::noProg;
    return text;
  }
  FlushBuffer();
  Fres = TPrgResult::resOk;
  TxCmd(TCmdTyp::TESKcmd, 'r');
  char ch;
  if (!AwaitReply(kReleaseAttempts, 0, [&] { return RxChar(ch); })) {
    res = Ord(TPrgResult::progTimeOutErr);
    return "communication error";
  }
  OpMode = TOpMode::opIdle;
  res = Ord(TPrgResult::resOk);
  return "target release";
}

std::string TUSBreader::DoCheckDevice(int32_t& res) {
  std::string text;
  if (!PresenceCheck(text, res)) return text;
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar('c');
  char first;
  RxChar(first);
  if (first == kNAK) {
    res = Ord(TPrgResult::FileErr);
    return "File error";
  }
  if (first != kACK) {
    res = Ord(TPrgResult::PwrDownErr);
    return "power down";
  }
  char state;
  RxChar(state);
  switch (state) {
    case kTargetEmpty:
      res = Ord(TPrgResult::resOk);
      return "empty";
    case kTargetPowerDown:
      res = Ord(TPrgResult::PwrDownErr);
      return "power down";
    case kTargetWrongId:
      res = Ord(TPrgResult::SignatureErr);
      return "wrong ID";
    case kTargetProtected:
      res = Ord(TPrgResult::ProtectedErr);
      return "protected";
    case kTargetNotEmpty:
      res = Ord(TPrgResult::NotEmptyErr);
      return "not empty";
    default:
      return {};  // no decision: res stays as the host set it
  }
}

std::string TUSBreader::DoGetTargVolt(int32_t& Volt, int32_t& res) {
  Volt = 0;
  std::string text;
  if (!PresenceCheck(text, res)) {
    Fres = TPrgResult::noProg;
    return text;
  }
  res = Ord(TPrgResult::resOk);
  Fres = TPrgResult::resOk;
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'T');
  uint16_t w = 0;
  if (!RxWord(w)) {
    // No voltage came: report the missing reply instead of a made-up value.
    res = Ord(TPrgResult::progTimeOutErr);
    return "communication error";
  }
  Volt = w;
  return VoltText(w, UserLocale().DecimalSeparator());
}

std::string TUSBreader::DoGetFuse(char selfuse, int32_t& fuse, int32_t& res) {
  fuse = 255;
  std::string text;
  if (!PresenceCheck(text, res)) return text;
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar('g');
  TxChar(selfuse);
  LinkPause(kReplySettleMs);
  char r1, r2, r3;
  RxChar(r1);
  if (r1 != kCR) {
    RxChar(r2);
    if (r2 == kTargetPowerDown) {
      res = Ord(TPrgResult::PwrDownErr);
      return "device power down";
    }
    if (r2 == kTargetWrongId) {
      res = Ord(TPrgResult::SignatureErr);
      return "wrong device ID";
    }
    res = Ord(TPrgResult::FileNotFound);
    return "File error";
  }
  RxChar(r2);
  RxChar(r3);
  if (r2 != kNAK) {
    fuse = static_cast<uint8_t>(r3);
    res = Ord(TPrgResult::resOk);
    return Hex2(static_cast<uint8_t>(r3));
  }
  std::string fault;
  if (TargetFaultAnswer(r3, res, fault)) return fault;
  res = Ord(TPrgResult::progTimeOutErr);
  return "communication error";
}

// ---------------------------------------------------------------- list methods

std::string TUSBRdrLst::CheckProgrammer(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoCheckProgrammer(res); });
}

std::string TUSBRdrLst::InitChannel(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoInitChannel(res); });
}

std::string TUSBRdrLst::ReleaseTarget(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoReleaseTarget(res); });
}

std::string TUSBRdrLst::CheckDevice(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoCheckDevice(res); });
}

std::string TUSBRdrLst::GetTargVolt(int32_t Channel, int32_t& Volt, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoGetTargVolt(Volt, res); });
}

std::string TUSBRdrLst::GetFuse(int32_t Channel, char selfuse, int32_t& fuse, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoGetFuse(selfuse, fuse, res); });
}

}  // namespace nurva
