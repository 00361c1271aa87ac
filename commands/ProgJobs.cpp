// Erase, program and verify: the twelve 'Q' commands that erase the target or start a
// job from the open project. One table says how each one differs; one exchange runs them.
#include "transport/RdrList.h"

namespace nurva {

// How one command differs from the others.
struct TUSBreader::TJobCommand {
  enum class Outcome {
    Erase,  // three replies: ACK, ACK, then 0x00 for an erased chip
    Start,  // one answer, read by WaitProgResult
  };
  char letter;          // after 'Q'
  bool verifyByte;      // a 0x00 packet follows the letter
  Outcome outcome;
  bool flushFirst;      // drop what is still queued (statuses of an earlier job)
  bool acceptNotEmpty;  // "device not empty" counts as started
  bool presetOk;        // res is resOk before the exchange, so an unknown answer reads as started
  const char* successText;
  TOpMode modeAfter;
};

namespace {

using Cmd = TUSBreader::TJobCommand;
using Outcome = Cmd::Outcome;

constexpr uint32_t kStartAnswerMs = 3000;
constexpr char kErasedOk = 0x00;
constexpr char kVerifyArg = 0x00;

//                        letter verify outcome         flush  notEmpty preset text                 mode
constexpr Cmd kEraseDevice{'E', false, Outcome::Erase, false, false, false, nullptr, TOpMode::opIdle};
constexpr Cmd kEraseDeviceX{'G', false, Outcome::Erase, false, false, false, nullptr, TOpMode::opIdle};
constexpr Cmd kEraseDeviceUsr{'R', false, Outcome::Erase, false, false, false, nullptr, TOpMode::opIdle};
constexpr Cmd kProgDevice{'P', false, Outcome::Start, true, true, true, "programming", TOpMode::opProg};
constexpr Cmd kProgEEprom{'e', false, Outcome::Start, true, true, false, "prog EEprom", TOpMode::opProg};
constexpr Cmd kProgFlash{'f', false, Outcome::Start, true, false, false, "prog Flash", TOpMode::opProg};
constexpr Cmd kProgUsrRow{'U', false, Outcome::Start, true, true, false, "prog UsrRow", TOpMode::opProg};
constexpr Cmd kProgFuses{'F', false, Outcome::Start, true, true, false, "fuses programmed", TOpMode::opIdle};
constexpr Cmd kProgLockBits{'L', false, Outcome::Start, true, true, false, "locks programmed", TOpMode::opIdle};
constexpr Cmd kVerifyDevice{'V', true, Outcome::Start, true, false, false, "verifying", TOpMode::opVerify};
constexpr Cmd kVerifyEEpromOnly{'d', true, Outcome::Start, true, false, false, "verifying", TOpMode::opVerify};
constexpr Cmd kVerifyFlashOnly{'v', true, Outcome::Start, true, false, false, "verifying", TOpMode::opVerify};

// The programmer's answers to a start.
struct StartAnswer {
  char reply;
  const char* text;
  TPrgResult res;
};
constexpr StartAnswer kStartAnswers[] = {
    {kACK, "OK", TPrgResult::resOk},
    {kNAK, "File Error", TPrgResult::FileErr},  // also what silence reads as
    {0x01, "device power down", TPrgResult::PwrDownErr},
    {0x03, "wrong device ID", TPrgResult::SignatureErr},
    {0x04, "device protected", TPrgResult::ProtectedErr},
    {0x05, "device not empty", TPrgResult::NotEmptyErr},
    {0x08, "communication error", TPrgResult::progTimeOutErr},
};

// res before WaitProgResult when the command presets nothing: an answer outside the table
// leaves it here.
constexpr int32_t kNoAnswer = -1;

bool IsResultCode(int32_t r) { return r >= 0 && r < kPrgResultCount; }

}  // namespace

// ---------------------------------------------------------------- link commands

std::string TUSBreader::WaitProgResult(int32_t& res) {
  std::string text;
  OpMode = TOpMode::opIdle;
  char ch;
  {
    RxLimit limit(*this, kStartAnswerMs);
    RxChar(ch);
  }
  for (const auto& a : kStartAnswers) {
    if (ch != a.reply) continue;
    text = a.text;
    res = Ord(a.res);
    break;
  }
  if (IsResultCode(res)) Fres = static_cast<TPrgResult>(res);
  return text;
}

std::string TUSBreader::RunJobCommand(const TJobCommand& cmd, int32_t& res) {
  std::string text;
  if (!PresenceCheck(text, res)) return text;

  if (cmd.outcome == Outcome::Erase) {
    Fres = TPrgResult::resOk;
    TxCmd(TCmdTyp::TESKcmd, 'Q');
    TxChar(cmd.letter);
    char ch;
    RxChar(ch);
    if (ch != kACK) {
      res = Ord(TPrgResult::invFile);
      return "file error";
    }
    RxChar(ch);
    if (ch != kACK) {
      res = Ord(TPrgResult::PwrDownErr);
      return "power down";
    }
    RxChar(ch);
    if (ch != kErasedOk) {
      res = Ord(TPrgResult::NotEmptyErr);
      return "erased failed";
    }
    res = Ord(TPrgResult::resOk);
    return "chip erased";
  }

  if (cmd.flushFirst) FlushBuffer();
  int32_t r = cmd.presetOk ? Ord(TPrgResult::resOk) : kNoAnswer;
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar(cmd.letter);
  if (cmd.verifyByte) TxChar(kVerifyArg);
  text = WaitProgResult(r);
  if (r == kNoAnswer) {
    // An answer the programmer has no meaning for: no job was started.
    OpMode = TOpMode::opIdle;
    Fres = TPrgResult::progTimeOutErr;
    res = Ord(TPrgResult::progTimeOutErr);
    return "communication error";
  }
  const bool started =
      r == Ord(TPrgResult::resOk) || (cmd.acceptNotEmpty && r == Ord(TPrgResult::NotEmptyErr));
  if (started) {
    OpMode = cmd.modeAfter;
    text = cmd.successText;
    r = Ord(TPrgResult::resOk);
    Fres = TPrgResult::resOk;
  }
  res = r;
  return text;
}

std::string TUSBreader::DoEraseDevice(int32_t& res) { return RunJobCommand(kEraseDevice, res); }
std::string TUSBreader::DoEraseDeviceX(int32_t& res) { return RunJobCommand(kEraseDeviceX, res); }
std::string TUSBreader::DoEraseDeviceUsr(int32_t& res) { return RunJobCommand(kEraseDeviceUsr, res); }
std::string TUSBreader::DoProgDevice(int32_t& res) { return RunJobCommand(kProgDevice, res); }
std::string TUSBreader::DoProgEEprom(int32_t& res) { return RunJobCommand(kProgEEprom, res); }
std::string TUSBreader::DoProgFlash(int32_t& res) { return RunJobCommand(kProgFlash, res); }
std::string TUSBreader::DoProgUsrRow(int32_t& res) { return RunJobCommand(kProgUsrRow, res); }
std::string TUSBreader::DoProgFuses(int32_t& res) { return RunJobCommand(kProgFuses, res); }
std::string TUSBreader::DoProgLockBits(int32_t& res) { return RunJobCommand(kProgLockBits, res); }
std::string TUSBreader::DoVerifyDevice(int32_t& res) { return RunJobCommand(kVerifyDevice, res); }
std::string TUSBreader::DoVerifyEEpromOnly(int32_t& res) { return RunJobCommand(kVerifyEEpromOnly, res); }
std::string TUSBreader::DoVerifyFlashOnly(int32_t& res) { return RunJobCommand(kVerifyFlashOnly, res); }

// ---------------------------------------------------------------- list methods

std::string TUSBRdrLst::EraseDevice(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoEraseDevice(res); });
}

std::string TUSBRdrLst::EraseDeviceX(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoEraseDeviceX(res); });
}

std::string TUSBRdrLst::EraseDeviceUsr(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoEraseDeviceUsr(res); });
}

std::string TUSBRdrLst::ProgDevice(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoProgDevice(res); });
}

std::string TUSBRdrLst::ProgEEprom(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoProgEEprom(res); });
}

std::string TUSBRdrLst::ProgFlash(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoProgFlash(res); });
}

std::string TUSBRdrLst::ProgUsrRow(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoProgUsrRow(res); });
}

std::string TUSBRdrLst::ProgFuses(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoProgFuses(res); });
}

std::string TUSBRdrLst::ProgLockBits(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoProgLockBits(res); });
}

std::string TUSBRdrLst::VerifyDevice(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoVerifyDevice(res); });
}

std::string TUSBRdrLst::VerifyEEpromOnly(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoVerifyEEpromOnly(res); });
}

std::string TUSBRdrLst::VerifyFlashOnly(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoVerifyFlashOnly(res); });
}

}  // namespace nurva
