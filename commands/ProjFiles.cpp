// Project files on the card: list them, check one, open one, close the open one, delete
// one, and ask which one is open.
#include "commands/FileNames.h"
#include "commands/TargetFaults.h"
#include "transport/RdrList.h"

namespace nurva {

namespace {

constexpr char kListPattern[] = "*.*";
constexpr int kListEntries = 15;
constexpr int kNameAttempts = 10;
constexpr uint32_t kNamePauseMs = 100;
constexpr int kCloseAttempts = 5;

// The card check before a listing: the programmer answers one of these when it can list.
constexpr char kCardListable = 4;
constexpr char kCardListableToo = static_cast<char>(0xFF);

constexpr uint32_t kCardCheckSettleMs = 500;
constexpr uint32_t kListCmdPauseMs = 10;
constexpr uint32_t kListPatternPauseMs = 50;
constexpr uint32_t kCheckPauseMs = 50;
constexpr uint32_t kOpenPauseMs = 20;

// Communication faults the open command reports as its fourth reply, beside the target
// faults of TargetFaults.h.
constexpr char kOpenComFault1 = 7;
constexpr char kOpenComFault2 = 8;

constexpr char kLineEnd[] = "\r\n";

TString64 Name64(std::string_view name) {
  TString64 s{};
  s.Assign(name);  // a longer name goes out as its first 64 characters
  return s;
}

}  // namespace

// ---------------------------------------------------------------- link commands

std::string TUSBreader::DoGetProjNames(int32_t& res) {
  std::string text;
  if (!PresenceCheck(text, res)) return text;
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'C');
  LinkPause(kCardCheckSettleMs);
  char r;
  RxChar(r);
  if (r != kCardListable && r != kCardListableToo) {
    res = Ord(TPrgResult::FileErr);
    Fres = TPrgResult::FileErr;
    return "MMC check failed";
  }
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'l');
  LinkPause(kListCmdPauseMs);
  TxString(Name64(kListPattern));
  LinkPause(kListPatternPauseMs);
  SetRXTimeOut(kDefaultRxTimeOutMs);

  std::string list;
  char ch;
  for (int i = 1; i <= kListEntries; ++i) {
    TString64 name{};
    if (!AwaitReply(kNameAttempts, kNamePauseMs, [&] { return RxString(name); })) {
      // A programmer that stopped answering: the rest of the listing would only be
      // minutes of waiting for empty lines.
      res = Ord(TPrgResult::progTimeOutErr);
      return "communication error";
    }
    if (i < kListEntries) RxChar(ch);
    list += TrimName(name.View());
    list += kLineEnd;
  }
  RxChar(ch);
  res = Ord(TPrgResult::resOk);
  Fres = TPrgResult::resOk;
  return list;
}

std::string TUSBreader::DoCheckFile(const std::string& FName, int32_t& res) {
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'c');
  LinkPause(kCheckPauseMs);
  TxString(Name64(TrimName(FName)));
  LinkPause(kCheckPauseMs);
  char r1, r2;
  RxChar(r1);
  if (r1 == kNAK) {
    res = Ord(TPrgResult::FileExist);
    return "MMC File Exist";
  }
  LinkPause(kCheckPauseMs);
  RxChar(r2);
  if (r2 == kNAK) {
    res = Ord(TPrgResult::invFile);
    return "File check failed";
  }
  if (r2 == kACK) {
    res = Ord(TPrgResult::resOk);
    return "File check ok";
  }
  return {};  // no decision: res stays as the host set it
}

std::string TUSBreader::DoOpenAFile(const std::string& FName, int32_t& res) {
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar('O');
  LinkPause(kOpenPauseMs);
  TxString(Name64(FName));
  char r;
  RxChar(r);
  if (r == kNAK) {
    res = Ord(TPrgResult::FileNotFound);
    return "file not found";
  }
  for (int i = 0; i < 2; ++i) {
    RxChar(r);
    if (r == kNAK) {
      res = Ord(TPrgResult::invFile);
      return "invalide file";
    }
  }
  RxChar(r);  // a missing state reads as NAK, which counts as open
  std::string fault;
  if (TargetFaultAnswer(r, res, fault)) return fault;
  switch (r) {
    case kOpenComFault1:
    case kOpenComFault2:
      res = Ord(TPrgResult::progTimeOutErr);
      return "communication error";
    default:
      res = Ord(TPrgResult::resOk);
      return "file open";
  }
}

std::string TUSBreader::DoCloseAFile(int32_t& res) {
  std::string text;
  if (!PresenceCheck(text, res)) {
    Fres = TPrgResult::noProg;
    return text;
  }
  FlushBuffer();
  Fres = TPrgResult::resOk;
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar('C');
  char ch;
  if (!AwaitReply(kCloseAttempts, 0, [&] { return RxChar(ch); })) {
    res = Ord(TPrgResult::progTimeOutErr);
    return "communication error";
  }
  OpMode = TOpMode::opIdle;
  res = Ord(TPrgResult::resOk);
  return "file closed";
}

std::string TUSBreader::DoDeleteFile(const std::string& DelFName, int32_t& res) {
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'e');
  TxString(Name64(DelFName));
  char r;
  RxChar(r);
  if (r == kACK) {
    res = Ord(TPrgResult::resOk);
    return "File deleted";
  }
  res = Ord(TPrgResult::FileErr);
  return "delete failed";
}

std::string TUSBreader::DoGetFileState(int32_t& res) {
  std::string text;
  if (!PresenceCheck(text, res)) {
    Fres = TPrgResult::noProg;
    return text;
  }
  FlushBuffer();
  res = Ord(TPrgResult::resOk);
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar('s');
  char r;
  RxChar(r);
  if (r == kNAK) {
    res = Ord(TPrgResult::invFName);
    return "file closed";
  }
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar('N');
  RxChar(r);
  char ignored;
  if (r != kACK) {
    res = Ord(TPrgResult::FileNotFound);
    RxChar(ignored);
    return {};
  }
  RxChar(ignored);
  TString64 name{};
  if (!RxString(name)) {
    // The programmer said a file is open but sent no name: not a success.
    res = Ord(TPrgResult::progTimeOutErr);
    return "communication error";
  }
  return name.Str();
}

// ---------------------------------------------------------------- list methods

std::string TUSBRdrLst::GetProjNames(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoGetProjNames(res); });
}

std::string TUSBRdrLst::CheckFile(int32_t Channel, const std::string& FName, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoCheckFile(FName, res); });
}

std::string TUSBRdrLst::OpenAFile(int32_t Channel, const std::string& FName, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed, [&](TUSBreader& l) { return l.DoOpenAFile(FName, res); });
}

std::string TUSBRdrLst::CloseAFile(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoCloseAFile(res); });
}

std::string TUSBRdrLst::DeleteFile(uint8_t Channel, const std::string& DelFName, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoDeleteFile(DelFName, res); });
}

std::string TUSBRdrLst::GetFileState(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoGetFileState(res); });
}

}  // namespace nurva
