// Project file download: a file from the PC goes onto the programmer's card under a
// short name, in blocks of at most 128 bytes, each with a checksum and acknowledged.
#include "commands/ProjDownload.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "commands/FileNames.h"
#include "transport/RdrList.h"
#include "usbio/OsThread.h"

namespace nurva {

namespace {

constexpr int32_t kBlockSize = 128;
// The host's pending window messages are dispatched after every this many blocks.
constexpr int kBlocksPerMessagePass = 32;
constexpr int kBlockReplyAttempts = 10;
constexpr uint32_t kFinalReplyPauseMs = 100;

constexpr int kFirstYear = 1980;
constexpr int kLastYear = 2107;

// The whole file, or false when it does not exist or cannot be read.
bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  data.clear();
  uint8_t buf[16384];
  bool ok = true;
  for (;;) {
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    data.insert(data.end(), buf, buf + n);
    if (n < sizeof buf) {
      ok = std::ferror(f) == 0;  // a directory, or a read error
      break;
    }
  }
  std::fclose(f);
  return ok;
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
#ifdef _WIN32
  localtime_s(&t, &now);
#else
  localtime_r(&now, &t);
#endif
  return t;
}

}  // namespace

uint8_t BlockChecksum(const uint8_t* data, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return sum;
}

uint32_t PackedDateTime(const std::tm& t) {
  const int year = t.tm_year + 1900;
  if (year < kFirstYear || year > kLastYear) return 0;
  const uint32_t date = (static_cast<uint32_t>(year - kFirstYear) << 9) | (static_cast<uint32_t>(t.tm_mon + 1) << 5) |
                        static_cast<uint32_t>(t.tm_mday);
  const uint32_t time = (static_cast<uint32_t>(t.tm_hour) << 11) | (static_cast<uint32_t>(t.tm_min) << 5) |
                        static_cast<uint32_t>(t.tm_sec / 2);
  return (date << 16) | (time & 0xFFFF);
}

TimeWords DownloadTimeWords(uint32_t packed) {
  return {static_cast<uint16_t>(packed & 0xFF), static_cast<uint16_t>((packed & 0xFFFF) >> 8)};
}

// ---------------------------------------------------------------- link command

std::string TUSBreader::DoDownLdFile(const std::string& FName, int32_t& res) {
  // The check's outcome stays in Msg and Fres; only a missing programmer stops here.
  DoCheckProgrammer(res);
  if (res == Ord(TPrgResult::MMCnoProg)) {
    res = Ord(TPrgResult::noProg);
    return "TESK not found";
  }
  const std::string path = TrimName(FName);
  const std::string ext = PcExtension(path);
  if (!IsDownloadExtension(ext)) {
    res = Ord(TPrgResult::invFName);
    return "invalid file name";
  }
  // Read before anything is sent, so a file that exists but cannot be read leaves no
  // file on the card.
  std::vector<uint8_t> data;
  if (!ReadPcFile(path, data)) {
    res = Ord(TPrgResult::invFName);
    return "File not found";
  }
  TString64 cardName{};
  cardName.Assign(CardFileName(path, ext));

  const TimeWords words = DownloadTimeWords(PackedDateTime(LocalNow()));
  TxCmd(TCmdTyp::TESKcmd, 'D');
  TxWord(words.low);
  TxWord(words.high);
  char r;
  RxChar(r);
  if (r != kACK) {
    res = Ord(TPrgResult::progComErr);
    return "communication error";
  }
  TxCmd(TCmdTyp::TESKcmd, 'd');
  TxString(cardName);
  RxChar(r);
  if (r == kNAK) {
    res = Ord(TPrgResult::FileExist);
    return "File exists";
  }
  RxChar(r);
  if (r == kNAK) {
    res = Ord(TPrgResult::FileErr);
    return "File create failed";
  }

  size_t pos = 0;
  size_t remaining = data.size();
  bool ok = true;
  int blocks = 0;
  do {
    const size_t n = remaining >= static_cast<size_t>(kBlockSize) ? static_cast<size_t>(kBlockSize) : remaining;
    remaining -= n;
    TxByte(static_cast<uint8_t>(n));
    uint8_t checksum = 0;
    if (n > 0) {
      std::copy(data.begin() + static_cast<std::ptrdiff_t>(pos), data.begin() + static_cast<std::ptrdiff_t>(pos + n),
                FTxBlock);
      FTxCount = static_cast<int32_t>(n);
      checksum = BlockChecksum(FTxBlock, n);
      pos += n;
    }
    FlushTxBlock();
    if (++blocks % kBlocksPerMessagePass == 0) usbio::DispatchPendingWindowMessages();
    TxByte(checksum);
    char reply = kNAK;
    AwaitReply(kBlockReplyAttempts, 0, [&] {
      RxChar(reply);
      return reply != kNAK;
    });
    if (reply != kACK) {
      ok = false;
      remaining = 0;
    }
  } while (remaining > 0);

  std::vector<uint8_t>().swap(data);
  LinkPause(kFinalReplyPauseMs);
  char last;
  RxChar(last);
  if (ok && last != kNAK) {
    res = Ord(TPrgResult::resOk);
    return "ok";
  }
  res = Ord(TPrgResult::FileDwnErr);
  return "filesize mismatch";
}

// ---------------------------------------------------------------- list method

std::string TUSBRdrLst::DownLdFile(uint8_t Channel, const std::string& FName, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) { return l.DoDownLdFile(FName, res); });
}

}  // namespace nurva
