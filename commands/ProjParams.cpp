// Project parameters report: the protection features of the open project, then the
// parameter record of one project file on the card, as twelve lines of text.
#include <algorithm>
#include <cstring>

#include "commands/ProjReport.h"
#include "common/LocaleFacts.h"
#include "transport/RdrList.h"

namespace nurva {

namespace {

constexpr char kCmdProtection = 'a';
constexpr char kCmdParamRecord = 'A';
// The protection reply when the programmer cannot tell.
constexpr char kProtectionUnknown = '?';
constexpr int32_t kQuantityUnknown = -1;

constexpr uint32_t kNameSettleMs = 10;
constexpr uint32_t kRecordSettleMs = 20;
// The file's replies take longer than the standing receive limit.
constexpr uint32_t kParamRxTimeOutMs = 4000;

// The name without leading and trailing spaces and control characters.
std::string Trimmed(const std::string& s) {
  auto keep = [](char c) { return static_cast<unsigned char>(c) > 0x20; };
  auto b = std::find_if(s.begin(), s.end(), keep);
  auto e = std::find_if(s.rbegin(), s.rend(), keep).base();
  return b < e ? std::string(b, e) : std::string();
}

}  // namespace

// ---------------------------------------------------------------- link command

std::string TUSBreader::DoGetProjParams(const std::string& FName, int32_t& res) {
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, kCmdProtection);
  char features = kNAK;
  uint16_t quantity = 0;
  RxChar(features);
  RxWord(quantity);
  if (features == kNAK || features == kProtectionUnknown) {
    AEStyp = TAES{};
    aQuantity = kQuantityUnknown;
  } else {
    AEStyp = TAES{static_cast<uint8_t>(features)};
    aQuantity = quantity;
  }

  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, kCmdParamRecord);
  LinkPause(kNameSettleMs);
  TString64 name{};
  name.Assign(Trimmed(FName));
  TxString(name);

  RxLimit limit(*this, kParamRxTimeOutMs);
  char reply;
  RxChar(reply);
  if (reply == kNAK) {
    res = Ord(TPrgResult::FileNotFound);
    return "File not found";
  }
  RxChar(reply);
  if (reply == kNAK) {
    res = Ord(TPrgResult::invFile);
    return "File check error";
  }
  RxChar(reply);
  if (reply == kNAK) {
    res = Ord(TPrgResult::progTimeOutErr);
    return "communication error1";
  }
  char announced = 0;
  RxChar(announced);
  const uint16_t length = static_cast<uint8_t>(announced);
  LinkPause(kRecordSettleMs);
  // Zeroed first: fields beyond the bytes that came read as zero. The packet is taken
  // even when the announcement is too long, so it cannot pass for a later reply.
  TProjParamRec rec;
  std::memset(&rec, 0, sizeof rec);
  uint16_t count = std::min<uint16_t>(length, sizeof rec);
  RxBlock(&rec, count);
  if (length > sizeof rec || count != length) {
    res = Ord(TPrgResult::progTimeOutErr);
    return "communication error2";
  }
  res = Ord(TPrgResult::resOk);
  return BuildProjReport(rec, AEStyp, UserLocale(), LocalNow());
}

// ---------------------------------------------------------------- list method

std::string TUSBRdrLst::GetProjParams(int32_t Channel, const std::string& FName, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoGetProjParams(FName, res); });
}

}  // namespace nurva
