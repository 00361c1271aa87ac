// Block transfers: blocks written into the target (program and over blocks), into the
// open project's memory image (file blocks), and fetched from that image (up-file blocks).
// Every exchange opens with 'Q' 'u'; every data byte travels as a packet of its own and
// every block is followed by its 16-bit additive checksum.
#include <algorithm>

#include "transport/RdrList.h"

namespace nurva {

namespace {

// What tells the three memory spaces apart.
struct BlockSpace {
  tMemType mem;
  char letter;          // program, file and up-file blocks
  char overLetter;      // over blocks
  TPrgResult errCode;   // the memory's transfer error
  int32_t programSize;  // bytes of a program block; 0: the caller's Count
};
constexpr BlockSpace kSpaces[] = {
    {tMemType::isFlash, 'f', 'F', TPrgResult::dwnLoadErrF, 256},
    {tMemType::isEEprom, 'e', 'E', TPrgResult::dwnLoadErrE, 0},
    {tMemType::isUsrRow, 'u', 'U', TPrgResult::dwnLoadErrU, 256},
};

// The space of `m`; anything that is not EEprom or user row counts as Flash.
const BlockSpace& SpaceOf(tMemType m) {
  for (const auto& s : kSpaces)
    if (s.mem == m) return s;
  return kSpaces[0];
}

// Characters of the exchanges.
constexpr char kBlockPrefix = 'u';   // after 'Q': the block commands
constexpr char kProgBlockCmd = 'D';
constexpr char kOverBlockCmd = 'P';
constexpr char kUpFileCmd = 'r';

// Status replies of the program block, before and after the data.
constexpr char kStatusPowerDown = 1;
constexpr char kStatusWrongId = 3;
constexpr char kStatusProtected = 4;
constexpr char kStatusVerifyError = 6;
constexpr char kStatusTargetComm1 = 7;
constexpr char kStatusTargetComm2 = 8;

constexpr uint32_t kOpeningPauseMs = 200;
constexpr uint32_t kHeaderPauseMs = 10;
constexpr uint32_t kFileChecksumPauseMs = 200;
constexpr uint32_t kUpFileHeaderPauseMs = 100;

std::string Answer(int32_t& res, TPrgResult code, const char* text) {
  res = Ord(code);
  return text;
}

uint16_t Checksum(const uint8_t* Block, int32_t Count) {
  uint32_t sum = 0;
  for (int32_t i = 0; i < Count; ++i) sum += Block[i];
  return static_cast<uint16_t>(sum);
}

}  // namespace

// ---------------------------------------------------------------- link commands

// The opening every block command shares: presence check, 'Q' 'u', and the programmer's
// go-ahead. False with the answer in `text` and `res` when the command cannot go on.
bool TUSBreader::BlockOpening(bool markAbsent, bool pause, std::string& text, int32_t& res) {
  if (!PresenceCheck(text, res)) {
    if (markAbsent) Fres = TPrgResult::noProg;
    return false;
  }
  FlushBuffer();
  TxCmd(TCmdTyp::TESKcmd, 'Q');
  TxChar(kBlockPrefix);
  if (pause) LinkPause(kOpeningPauseMs);
  char ch;
  RxChar(ch);
  if (ch == kNAK) {
    text = Answer(res, TPrgResult::FileErr, "File error");
    return false;
  }
  return true;
}

// Sends the first `Count` bytes of `Block`, one packet each, then their checksum.
void TUSBreader::TxBlockData(const uint8_t* Block, int32_t Count) {
  // A byte the programmer did not take has cost the whole write limit; the rest would cost
  // it again for every byte (hours for a long block), so the block ends at the first one.
  for (int32_t i = 0; i < Count; ++i)
    if (!TxByte(Block[i])) return;
  TxWord(Checksum(Block, std::max<int32_t>(Count, 0)));
}

std::string TUSBreader::DoDownProgBlockF(const uint8_t* Block, int32_t dest, int32_t& res) {
  const BlockSpace& s = SpaceOf(tMemType::isFlash);
  return DoDownProgBlock(s.letter, s.errCode, Block, dest, 0, res);
}

std::string TUSBreader::DoDownProgBlockE(const uint8_t* Block, int32_t dest, int32_t Count, int32_t& res) {
  const BlockSpace& s = SpaceOf(tMemType::isEEprom);
  return DoDownProgBlock(s.letter, s.errCode, Block, dest, Count, res);
}

std::string TUSBreader::DoDownProgBlockU(const uint8_t* Block, int32_t dest, int32_t& res) {
  const BlockSpace& s = SpaceOf(tMemType::isUsrRow);
  return DoDownProgBlock(s.letter, s.errCode, Block, dest, 0, res);
}

std::string TUSBreader::DoDownProgBlock(char letter, TPrgResult errCode, const uint8_t* Block, int32_t dest,
                                        int32_t Count, int32_t& res) {
  std::string text;
  if (!BlockOpening(true, true, text, res)) return text;
  TxChar(kProgBlockCmd);
  char ignored, s;
  RxChar(ignored);
  RxChar(s);
  switch (s) {
    case kStatusPowerDown: return Answer(res, TPrgResult::PwrDownErr, "device power down");
    case kStatusWrongId: return Answer(res, TPrgResult::SignatureErr, "wrong device ID");
    case kStatusProtected: return Answer(res, TPrgResult::ProtectedErr, "device protected");
    case kStatusTargetComm1:
    case kStatusTargetComm2: return Answer(res, TPrgResult::dwnLoadErrF, "communication error1");
    default: break;
  }
  int32_t size = 0;
  for (const auto& sp : kSpaces)
    if (sp.letter == letter) size = sp.programSize;
  TxChar(letter);
  TxLongWord(dest);
  if (size == 0) {
    size = Count;
    TxWord(static_cast<uint16_t>(Count));
  }
  TxBlockData(Block, size);
  char ch;
  RxChar(ch);
  if (ch != kCR) return Answer(res, errCode, "communication error3");
  char r;
  RxChar(r);
  switch (r) {
    case kStatusPowerDown: return Answer(res, TPrgResult::PwrSupplyErr, "low voltage");
    case kStatusWrongId: return Answer(res, TPrgResult::SignatureErr, "wrong device");
    case kStatusProtected: return Answer(res, TPrgResult::ProtectedErr, "device protected");
    case kStatusVerifyError: return Answer(res, TPrgResult::VerifyErr, "verify error");
    default: return Answer(res, TPrgResult::resOk, "ok");
  }
}

std::string TUSBreader::DoDownOverBlock(tMemType MemType, const uint8_t* Block, int32_t dest, int32_t Count,
                                        int32_t& res) {
  const BlockSpace& s = SpaceOf(MemType);
  std::string text;
  if (!BlockOpening(false, false, text, res)) return text;
  auto refused = [&] { return Answer(res, TPrgResult::progTimeOutErr, "communication error"); };
  TxChar(kOverBlockCmd);
  TxChar(s.overLetter);
  char ch;
  RxChar(ch);
  if (ch != kACK) return refused();
  TxLongWord(dest);
  TxByte(static_cast<uint8_t>(Count));
  RxChar(ch);
  if (ch != kACK) return refused();
  TxBlockData(Block, Count);
  RxChar(ch);
  if (ch != kACK) return refused();
  return Answer(res, TPrgResult::resOk, "ok");
}

std::string TUSBreader::DoDownFileBlock(tMemType MemType, const uint8_t* Block, int32_t dest, int32_t Count,
                                        int32_t& res) {
  const BlockSpace& s = SpaceOf(MemType);
  std::string text;
  if (!BlockOpening(true, true, text, res)) return text;
  TxChar(s.letter);
  LinkPause(kHeaderPauseMs);
  char ch;
  RxChar(ch);
  if (ch != kACK) return Answer(res, s.errCode, "file is encrypted");
  TxLongWord(dest);
  LinkPause(kHeaderPauseMs);
  TxWord(static_cast<uint16_t>(Count));
  LinkPause(kHeaderPauseMs);
  RxChar(ch);
  if (ch != kCR) return Answer(res, s.errCode, "communication error");
  TxBlockData(Block, Count);
  LinkPause(kFileChecksumPauseMs);
  RxChar(ch);
  if (ch != kCR) return Answer(res, s.errCode, "checksum error");
  return Answer(res, TPrgResult::resOk, "ok");
}

std::string TUSBreader::DoUpFileBlock(tMemType MemType, uint8_t* Block, int32_t dest, int32_t Count, int32_t& res) {
  const BlockSpace& s = SpaceOf(MemType);
  std::string text;
  if (!BlockOpening(true, true, text, res)) return text;
  TxChar(kUpFileCmd);
  char ch;
  RxChar(ch);
  if (ch == kNAK) return Answer(res, TPrgResult::FileErr, "File error");
  TxChar(s.letter);
  LinkPause(kHeaderPauseMs);
  TxLongWord(dest);
  LinkPause(kHeaderPauseMs);
  TxWord(static_cast<uint16_t>(Count));
  LinkPause(kHeaderPauseMs);
  RxChar(ch);
  LinkPause(kUpFileHeaderPauseMs);
  if (ch != kCR) return Answer(res, s.errCode, "communication error");
  uint32_t sum = 0;
  for (int32_t i = 0; i < Count; ++i) {
    if (!RxChar(ch)) {
      // The programmer stopped sending: waiting a receive limit for each of the bytes
      // still missing could hold the call for hours. The rest reads as NAK, as a missing
      // byte does, and the block cannot be confirmed.
      std::fill(Block + i, Block + Count, static_cast<uint8_t>(kNAK));
      return Answer(res, s.errCode, "checksum error");
    }
    Block[i] = static_cast<uint8_t>(ch);
    sum += Block[i];
  }
  uint16_t w = 0;
  if (!RxWord(w) || w != static_cast<uint16_t>(sum)) return Answer(res, s.errCode, "checksum error");
  return Answer(res, TPrgResult::resOk, "ok");
}

// ---------------------------------------------------------------- list methods

std::string TUSBRdrLst::DownProgBlockF(uint8_t Channel, const uint8_t* Block, int32_t dest, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoDownProgBlockF(Block, dest, res); });
}

std::string TUSBRdrLst::DownProgBlockE(uint8_t Channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                       int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent,
                [&](TUSBreader& l) { return l.DoDownProgBlockE(Block, dest, Count, res); });
}

std::string TUSBRdrLst::DownProgBlockU(uint8_t Channel, const uint8_t* Block, int32_t dest, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoDownProgBlockU(Block, dest, res); });
}

std::string TUSBRdrLst::DownOverBlock(uint8_t Channel, tMemType MemType, const uint8_t* Block, int32_t dest,
                                      int32_t Count, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent,
                [&](TUSBreader& l) { return l.DoDownOverBlock(MemType, Block, dest, Count, res); });
}

std::string TUSBRdrLst::DownFileBlock(uint8_t Channel, tMemType MemType, const uint8_t* Block, int32_t dest,
                                      int32_t Count, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent,
                [&](TUSBreader& l) { return l.DoDownFileBlock(MemType, Block, dest, Count, res); });
}

std::string TUSBRdrLst::UpFileBlock(uint8_t Channel, tMemType MemType, uint8_t* Block, int32_t dest, int32_t Count,
                                    int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent,
                [&](TUSBreader& l) { return l.DoUpFileBlock(MemType, Block, dest, Count, res); });
}

}  // namespace nurva
