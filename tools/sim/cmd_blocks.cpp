// Block transfers and read back, all after 'Q' 'u': program blocks and over blocks
// written into the target, file blocks into the open project's memory images (and its
// file on the card), up-file blocks fetched from them, and read back from the target.
//
// 'Q' 'u' is answered NAK without a usable card and an open project, else ACK; the next
// packet selects: 'U' read back, 'D' program block, 'P' over block, 'f'/'e'/'u' file block,
// 'r' up-file block. Addresses are byte addresses in the memory.
#include <algorithm>
#include <optional>

#include "tools/sim/Firmware.h"

namespace nurva::sim {

namespace {

constexpr uint8_t kTargetComm = 7;  // the target does not answer on its interface
constexpr uint8_t kVerifyFailed = 6;
constexpr uint8_t kStatusOk = 0;  // no fault (any code outside the fault codes reads so)
constexpr uint32_t kBlock = 256;
constexpr uint32_t kMaxOverBlock = 32;
constexpr int64_t kPage = 256;

// The memory a letter names: lower case for program, file, up-file and read-back blocks,
// capitals for over blocks.
std::optional<tMemType> MemoryOf(uint8_t letter) {
  switch (letter) {
    case 'f': case 'F': return tMemType::isFlash;
    case 'e': case 'E': return tMemType::isEEprom;
    case 'u': case 'U': return tMemType::isUsrRow;
    default: return std::nullopt;
  }
}

bool Refused(const State& st, BlockStage s) { return st.faults.blockRefuse.count(s) > 0; }

// Encrypted projects never hand out or take image data.
bool Encrypted(const State& st) {
  const bool claimed = st.faults.protectedProject && (*st.faults.protectedProject & 1u);
  return st.open->protection.Has(TAESen::AES) || claimed;
}

// The target's state before a block: the fault codes 1, 3, 4 and 7 stop the command.
uint8_t TargetStatus(const State& st) {
  if (st.faults.targetComm) return kTargetComm;
  return CheckTarget(st.target, st.open->signature);
}
bool Stops(uint8_t status) {
  return status == kTargetPowerDown || status == kTargetWrongId || status == kTargetProtected || status == kTargetComm;
}

uint16_t Sum(std::span<const uint8_t> b) {
  uint32_t s = 0;
  for (uint8_t x : b) s += x;
  return static_cast<uint16_t>(s);
}

// `n` data bytes, one packet each, and the checksum word after them.
std::optional<Bytes> ArgData(Exchange& ex, uint32_t n) {
  Bytes data;
  data.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    auto b = ex.ArgChar();
    if (!b) return std::nullopt;
    data.push_back(*b);
  }
  auto sum = ex.ArgWord();
  if (!sum) return std::nullopt;
  if (*sum != Sum(data)) {
    ex.Note("checksum " + std::to_string(*sum) + " does not match the data's " + std::to_string(Sum(data)));
    return std::nullopt;
  }
  return data;
}

bool Fits(int64_t dest, int64_t n, size_t size) { return dest >= 0 && dest + n <= static_cast<int64_t>(size); }

// ---- into the target

// 'D': two status characters (the second counts), then letter, address, (EEprom: count),
// the data and the checksum; CR once the data is in, then the result: 0 done, 1 low
// voltage, 3 wrong device, 4 protected, 6 verify error.
void ProgramBlock(Exchange& ex) {
  State& st = ex.st;
  const uint8_t before = st.faults.targetComm || !st.faults.lateTargetFault ? TargetStatus(st) : kStatusOk;
  ex.Reply(kAck);
  ex.Reply(before);
  if (Stops(before)) return ex.Note("target not ready: status " + std::to_string(before));
  auto letter = ex.ArgChar();
  auto dest = letter ? ex.ArgLong() : std::nullopt;
  if (!dest) return;
  const std::optional<tMemType> m = MemoryOf(*letter);
  uint32_t n = kBlock;
  if (m == tMemType::isEEprom) {
    auto count = ex.ArgWord();
    if (!count) return;
    n = *count;
  }
  auto data = ArgData(ex, n);
  Bytes* mem = m ? st.target.Memory(*m) : nullptr;
  if (!data || !mem || !Fits(*dest, n, mem->size()) || st.faults.blockNoCr) {
    ex.Note(!data ? "data not taken" : !mem ? "no such memory" : "block outside the memory or not confirmed");
    return ex.Reply(kNak);
  }
  ex.Reply(kCr);
  if (st.faults.lateTargetFault) {
    const uint8_t after = CheckTarget(st.target, st.open->signature);
    if (Stops(after)) return ex.Reply(after);
  }
  std::copy(data->begin(), data->end(), mem->begin() + *dest);
  if (st.target.verifyFault && n > 0) {
    (*mem)[static_cast<size_t>(*dest)] ^= 0x01;
    ex.Note("block written, a cell reads back wrong");
    return ex.Reply(kVerifyFailed);
  }
  ex.Note(std::to_string(n) + " bytes written at " + std::to_string(*dest));
  ex.Reply(kStatusOk);
}

// 'P' and a capital letter: ACK; address and count: ACK when the block lies in one page
// of the memory; data and checksum: ACK once written.
void OverBlock(Exchange& ex) {
  State& st = ex.st;
  auto letter = ex.ArgChar();
  if (!letter) return;
  const std::optional<tMemType> m = MemoryOf(*letter);
  Bytes* mem = m && *letter >= 'A' && *letter <= 'Z' ? st.target.Memory(*m) : nullptr;
  if (!mem || Refused(st, BlockStage::Over) || Stops(TargetStatus(st))) {
    ex.Note("over block refused");
    return ex.Reply(kNak);
  }
  ex.Reply(kAck);
  auto dest = ex.ArgLong();
  auto count = dest ? ex.ArgChar() : std::nullopt;
  if (!count) return;
  const uint32_t n = *count;
  const int64_t first = *dest, last = first + n - 1;
  if (n == 0 || n > kMaxOverBlock || !Fits(first, n, mem->size()) || first / kPage != last / kPage) {
    ex.Note("over block outside one page of the memory");
    return ex.Reply(kNak);
  }
  ex.Reply(kAck);
  auto data = ArgData(ex, n);
  if (!data || st.faults.blockChecksum) return ex.Reply(kNak);
  std::copy(data->begin(), data->end(), mem->begin() + *dest);
  if (st.target.verifyFault) {
    (*mem)[static_cast<size_t>(*dest)] ^= 0x01;
    ex.Note("over block written, a cell reads back wrong");
    return ex.Reply(kNak);
  }
  ex.Note(std::to_string(n) + " bytes written over at " + std::to_string(*dest));
  ex.Reply(kAck);
}

// ---- the open project's images

std::optional<MemImage>& ImageOf(Project& p, tMemType m) {
  return m == tMemType::isEEprom ? p.eeprom : m == tMemType::isUsrRow ? p.usrRow : p.flash;
}

uint32_t SizeOf(const Project& p, tMemType m) {
  return m == tMemType::isEEprom ? p.eepromSize : m == tMemType::isUsrRow ? p.usrRowSize : p.flashSize;
}

// The image's byte at `a`: erased outside what the image holds.
uint8_t ImageByte(const std::optional<MemImage>& img, uint32_t a) {
  if (!img || a < img->base || a >= img->End()) return 0xFF;
  return img->data[a - img->base];
}

void WriteImage(std::optional<MemImage>& img, uint32_t dest, const Bytes& data) {
  if (data.empty()) return;
  const uint32_t end = dest + static_cast<uint32_t>(data.size());
  if (!img) img = MemImage{dest, {}};
  const uint32_t base = std::min(img->base, dest), last = std::max(img->End(), end);
  if (base != img->base || last != img->End()) {
    MemImage grown{base, Bytes(last - base, 0xFF)};
    std::copy(img->data.begin(), img->data.end(), grown.data.begin() + (img->base - base));
    img = std::move(grown);
  }
  std::copy(data.begin(), data.end(), img->data.begin() + (dest - img->base));
}

// The memory letter: ACK unless the project is encrypted; address and count: CR when the
// block lies within the chip's memory; data and checksum: CR once stored in the image and
// in the project's file on the card.
void FileBlock(Exchange& ex, uint8_t letter) {
  State& st = ex.st;
  if (Encrypted(st) || Refused(st, BlockStage::File)) {
    ex.Note("project encrypted: no file blocks");
    return ex.Reply(kNak);
  }
  ex.Reply(kAck);
  auto dest = ex.ArgLong();
  auto count = dest ? ex.ArgWord() : std::nullopt;
  if (!count) return;
  const tMemType m = *MemoryOf(letter);
  if (!Fits(*dest, *count, SizeOf(*st.open, m)) || st.faults.blockNoCr) {
    ex.Note("file block outside the chip's memory or not confirmed");
    return ex.Reply(kNak);
  }
  ex.Reply(kCr);
  auto data = ArgData(ex, *count);
  if (!data || st.faults.blockChecksum) return ex.Reply(kNak);
  Project changed = *st.open;
  WriteImage(ImageOf(changed, m), static_cast<uint32_t>(*dest), *data);
  std::string err;
  if (st.openName && !ex.card.Write(*st.openName, changed.Serialize(), &err)) {
    ex.Note("project file not written: " + err);
    return ex.Reply(kNak);
  }
  st.open = std::move(changed);
  ex.Note(std::to_string(*count) + " bytes into the project image at " + std::to_string(*dest));
  ex.Reply(kCr);
}

// 'r': ACK unless encrypted; letter, address, count: CR when within the chip's memory;
// then the bytes, one packet each, and their checksum.
void UpFileBlock(Exchange& ex) {
  State& st = ex.st;
  if (Encrypted(st) || Refused(st, BlockStage::UpFile)) {
    ex.Note("project encrypted: no up-file blocks");
    return ex.Reply(kNak);
  }
  ex.Reply(kAck);
  auto letter = ex.ArgChar();
  auto dest = letter ? ex.ArgLong() : std::nullopt;
  auto count = dest ? ex.ArgWord() : std::nullopt;
  if (!count) return;
  const std::optional<tMemType> m = MemoryOf(*letter);
  if (!m || !Fits(*dest, *count, SizeOf(*st.open, *m)) || st.faults.blockNoCr) {
    ex.Note("up-file block outside the chip's memory or not confirmed");
    return ex.Reply(kNak);
  }
  ex.Reply(kCr);
  const std::optional<MemImage>& img = ImageOf(*st.open, *m);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < *count; ++i) {
    if (st.faults.dataStops >= 0 && i >= static_cast<uint32_t>(st.faults.dataStops))
      return ex.Note("data stops after " + std::to_string(i) + " bytes");
    const uint8_t b = ImageByte(img, static_cast<uint32_t>(*dest) + i);
    sum += b;
    ex.Reply(b);
  }
  ex.ReplyWord(static_cast<uint16_t>(sum + (st.faults.blockChecksum ? 1 : 0)));
}

// ---- read back

// 'U': ACK unless encrypted, the target's state; then letter, address, (EEprom: count);
// the block in one packet and its checksum. A block that starts outside the memory gets
// no answer; one that runs past its end is cut there.
void ReadBack(Exchange& ex) {
  State& st = ex.st;
  if (Encrypted(st) || Refused(st, BlockStage::ReadBack)) {
    ex.Note("read back refused");
    return ex.Reply(kNak);
  }
  ex.Reply(kAck);
  const uint8_t status = TargetStatus(st);
  ex.Reply(status);
  if (Stops(status)) return ex.Note("target not ready: status " + std::to_string(status));
  auto letter = ex.ArgChar();
  auto addr = letter ? ex.ArgLong() : std::nullopt;
  if (!addr) return;
  const std::optional<tMemType> m = MemoryOf(*letter);
  uint32_t length = kBlock;
  if (m == tMemType::isEEprom) {
    auto count = ex.ArgWord();
    if (!count) return;
    length = std::min<uint32_t>(*count, kBlock);
  }
  const Bytes* mem = m ? st.target.Memory(*m) : nullptr;
  if (!mem || *addr < 0 || static_cast<size_t>(*addr) >= mem->size())
    return ex.Note("no such memory or address past its end: no block");
  const size_t from = static_cast<size_t>(*addr);
  const size_t n = std::min<size_t>(length, mem->size() - from);
  const std::span<const uint8_t> block(mem->data() + from, n);
  const Faults& f = st.faults;
  if (f.dataStops >= 0) {
    const size_t sent = std::min<size_t>(n, static_cast<size_t>(f.dataStops));
    if (sent > 0) ex.ReplyBytes(block.first(sent));
    return ex.Note("data stops after " + std::to_string(sent) + " bytes, no checksum");
  }
  ex.ReplyBytes(f.blockShort >= 0 ? block.first(std::min<size_t>(n, static_cast<size_t>(f.blockShort))) : block);
  ex.ReplyWord(static_cast<uint16_t>(Sum(block) + (f.blockChecksum ? 1 : 0)));
}

// ---- 'Q' 'u'

void Blocks(Exchange& ex) {
  State& st = ex.st;
  if (!st.CardUsable() || !st.open || Refused(st, BlockStage::Open)) {
    ex.Note("no open project: block commands refused");
    return ex.Reply(kNak);
  }
  ex.Reply(kAck);
  auto sub = ex.ArgChar();
  if (!sub) return;
  switch (*sub) {
    case 'U': return ReadBack(ex);
    case 'D': return ProgramBlock(ex);
    case 'P': return OverBlock(ex);
    case 'f':
    case 'e':
    case 'u': return FileBlock(ex, *sub);
    case 'r': return UpFileBlock(ex);
    default:
      ex.Note("unknown block command");
      return ex.Reply(kNak);
  }
}

}  // namespace

void AddBlockCommands(CommandSet& set) { set.AddQ('u', "blocks and read back", Blocks); }

}  // namespace nurva::sim
