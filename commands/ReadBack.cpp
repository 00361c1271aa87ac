// Read back: one block of the target's Flash, EEprom or user row, read by the programmer
// and sent as one packet with its 16-bit checksum, straight into the host's memory.
#include <algorithm>

#include "transport/RdrList.h"

namespace nurva {

namespace {

// What tells the three memory spaces apart.
struct ReadSpace {
  tMemType mem;
  char letter;
  bool lengthFromHost;  // the block is PageCount bytes (sent as a word) instead of kFixedBlock
};
constexpr ReadSpace kSpaces[] = {
    {tMemType::isFlash, 'f', false},
    {tMemType::isEEprom, 'e', true},
    {tMemType::isUsrRow, 'u', false},
};
constexpr int32_t kFixedBlock = 256;
constexpr int32_t kMaxBlock = 256;

constexpr char kBlockPrefix = 'u';  // after 'Q': the block commands
constexpr char kReadBackCmd = 'U';

// Target status (reply 3).
constexpr char kStatusPowerDown = 1;
constexpr char kStatusWrongId = 3;
constexpr char kStatusProtected = 4;
constexpr char kStatusTargetComm1 = 7;
constexpr char kStatusTargetComm2 = 8;

constexpr uint32_t kOpeningPauseMs = 150;
constexpr uint32_t kLengthPauseMs = 20;

const ReadSpace& SpaceOf(tMemType m) {
  for (const auto& s : kSpaces)
    if (s.mem == m) return s;
  return kSpaces[0];
}

}  // namespace

// ---------------------------------------------------------------- link commands

std::string TUSBreader::DoReadBackChipF(uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res) {
  return DoReadBackChip(SpaceOf(tMemType::isFlash).letter, pDestAddr, ChipAddr, 0, res);
}

std::string TUSBreader::DoReadBackChipE(uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount, int32_t& res) {
  return DoReadBackChip(SpaceOf(tMemType::isEEprom).letter, pDestAddr, ChipAddr, PageCount, res);
}

std::string TUSBreader::DoReadBackChipU(uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res) {
  return DoReadBackChip(SpaceOf(tMemType::isUsrRow).letter, pDestAddr, ChipAddr, 0, res);
}

std::string TUSBreader::DoReadBackChip(char letter, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount,
                                       int32_t& res) {
  RxLimit limit(*this, kDefaultRxTimeOutMs);
  auto answer = [&](TPrgResult code, TPrgResult fres, const char* text) {
    res = Ord(code);
    Fres = fres;
    return std::string(text);
  };
  auto stop = [&](TPrgResult code, const char* text) {
    res = Ord(code);
    return std::string(text);
  };
  std::string text;
  if (!PresenceCheck(text, res)) {
    Fres = TPrgResult::noProg;
    return text;
  }
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar(kBlockPrefix);
  LinkPause(kOpeningPauseMs);
  char ch;
  RxChar(ch);
  if (ch == kNAK) return answer(TPrgResult::FileErr, TPrgResult::FileErr, "File error");
  TxChar(kReadBackCmd);
  RxChar(ch);
  if (ch == kNAK) return answer(TPrgResult::FileErr, TPrgResult::FileErr, "file encrypted");
  RxChar(ch);
  const bool statusCame = !stopped;
  switch (ch) {
    case kStatusPowerDown: return stop(TPrgResult::PwrDownErr, "device power down");
    case kStatusWrongId: return stop(TPrgResult::SignatureErr, "wrong device ID");
    case kStatusProtected: return stop(TPrgResult::ProtectedErr, "device protected");
    case kStatusTargetComm1:
    case kStatusTargetComm2: return stop(TPrgResult::dwnLoadErrF, "communication error");
    default: break;
  }

  bool lengthFromHost = false;
  for (const auto& s : kSpaces)
    if (s.letter == letter) lengthFromHost = s.lengthFromHost;
  // Never more than a block, whatever a caller behind the export passes.
  const int32_t length = lengthFromHost ? std::clamp(PageCount, 0, kMaxBlock) : kFixedBlock;
  TxChar(letter);
  TxLongWord(ChipAddr);
  if (lengthFromHost) {
    LinkPause(kLengthPauseMs);
    TxWord(static_cast<uint16_t>(PageCount));
  }

  // The block lands in the host's memory as it comes, whether or not its checksum matches.
  uint16_t taken = static_cast<uint16_t>(length);
  const bool blockCame = RxPacket(pDestAddr, taken) && taken > 0;
  if (!blockCame) taken = 0;
  uint32_t sum = 0;
  for (uint16_t i = 0; i < taken; ++i) sum += pDestAddr[i];

  // Only a block and a checksum word that both came, and agree, confirm the read.
  uint16_t expected = 0;
  const bool wordCame = blockCame && statusCame && RxWord(expected);
  if (wordCame && expected == static_cast<uint16_t>(sum))
    return answer(TPrgResult::resOk, TPrgResult::resOk, "resOK");
  return answer(TPrgResult::dwnLoadErrF, TPrgResult::dwnLoadErrF, "checksum error");
}

// ---------------------------------------------------------------- list methods

std::string TUSBRdrLst::ReadBackChipF(int32_t Channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed,
                [&](TUSBreader& l) { return l.DoReadBackChipF(pDestAddr, ChipAddr, res); });
}

std::string TUSBRdrLst::ReadBackChipE(int32_t Channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount,
                                      int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed,
                [&](TUSBreader& l) { return l.DoReadBackChipE(pDestAddr, ChipAddr, PageCount, res); });
}

std::string TUSBRdrLst::ReadBackChipU(int32_t Channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res) {
  return OnLink(Channel, res, NoLink::Closed,
                [&](TUSBreader& l) { return l.DoReadBackChipU(pDestAddr, ChipAddr, res); });
}

}  // namespace nurva
