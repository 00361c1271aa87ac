#include "tools/sim/Project.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace nurva::sim {

namespace {

constexpr char kMagic[8] = {'N', 'U', 'R', 'V', 'A', 'P', 'R', 'J'};
constexpr uint16_t kVersion = 1;
constexpr size_t kHeaderSize = 12;  // magic, version, reserved
constexpr size_t kTrailerSize = 4;  // CRC-32

using Tag = std::array<char, 4>;
constexpr Tag kInfo{'I', 'N', 'F', 'O'};
constexpr Tag kTarg{'T', 'A', 'R', 'G'};
constexpr Tag kFlsh{'F', 'L', 'S', 'H'};
constexpr Tag kEepr{'E', 'E', 'P', 'R'};
constexpr Tag kUsrr{'U', 'S', 'R', 'R'};
constexpr Tag kFuse{'F', 'U', 'S', 'E'};
constexpr Tag kLock{'L', 'O', 'C', 'K'};
constexpr Tag kProt{'P', 'R', 'O', 'T'};

class Writer {
 public:
  void U8(uint8_t v) { b_.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Str(const std::string& s) {
    U8(static_cast<uint8_t>(s.size()));
    b_.insert(b_.end(), s.begin(), s.end());
  }
  void Raw(std::span<const uint8_t> d) { b_.insert(b_.end(), d.begin(), d.end()); }
  void Chunk(const Tag& tag, const Writer& body) {
    b_.insert(b_.end(), tag.begin(), tag.end());
    U32(static_cast<uint32_t>(body.b_.size()));
    Raw(body.b_);
  }
  std::vector<uint8_t>& Bytes() { return b_; }

 private:
  std::vector<uint8_t> b_;
};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> d) : d_(d) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == d_.size(); }
  uint8_t U8() {
    if (pos_ + 1 > d_.size()) return Fail<uint8_t>();
    return d_[pos_++];
  }
  uint16_t U16() {
    uint16_t lo = U8();
    return static_cast<uint16_t>(lo | (U8() << 8));
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  std::string Str(size_t maxLen) {
    size_t n = U8();
    if (n > maxLen || pos_ + n > d_.size()) return Fail<std::string>();
    std::string s(reinterpret_cast<const char*>(d_.data() + pos_), n);
    pos_ += n;
    return s;
  }
  std::span<const uint8_t> Rest() {
    auto r = d_.subspan(pos_);
    pos_ = d_.size();
    return r;
  }

 private:
  template <class T>
  T Fail() {
    ok_ = false;
    pos_ = d_.size();
    return T{};
  }
  std::span<const uint8_t> d_;
  size_t pos_ = 0;
  bool ok_ = true;
};

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v));
  Put16(p + 2, static_cast<uint16_t>(v >> 16));
}

// Days from 1 January 1970 (civil calendar, proleptic Gregorian).
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

const char* InterfaceName(Interface i) {
  switch (i) {
    case Interface::SPI: return "SPI";
    case Interface::JTAG: return "JTAG";
    case Interface::PDI: return "PDI";
    case Interface::TPI: return "TPI";
  }
  return "?";
}

std::optional<Interface> ParseInterface(std::string_view s) {
  std::string u(s);
  for (auto& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (auto i : {Interface::SPI, Interface::JTAG, Interface::PDI, Interface::TPI})
    if (u == InterfaceName(i)) return i;
  return std::nullopt;
}

int32_t PackDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980 || year > 2107) return 0;
  uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return static_cast<int32_t>((date << 16) | time);
}

int32_t Date100(int year, int month, int day) {
  // 30 December 1899 is day 0.
  int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  return static_cast<int32_t>(days * 100);
}

void Project::StampDate(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  fileDate = PackDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  date100 = Date100(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

uint32_t Crc32(std::span<const uint8_t> data) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t b : data) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

const std::optional<MemImage>& Project::Image(tMemType m) const {
  static const std::optional<MemImage> none;
  switch (m) {
    case tMemType::isFlash: return flash;
    case tMemType::isEEprom: return eeprom;
    case tMemType::isUsrRow: return usrRow;
    default: return none;
  }
}

std::array<uint8_t, kParamRecordSize> Project::ParamRecord() const {
  std::array<uint8_t, kParamRecordSize> r{};
  uint8_t* p = r.data();
  Put16(p + 0, static_cast<uint16_t>(kParamRecordSize));
  const size_t nameLen = std::min(name.size(), kMaxProjectName);
  p[2] = static_cast<uint8_t>(nameLen);
  std::memcpy(p + 3, name.data(), nameLen);
  Put32(p + 17, static_cast<uint32_t>(fileDate));
  const size_t infoLen = std::min(info.size(), kMaxProjectInfo);
  p[21] = static_cast<uint8_t>(infoLen);
  std::memcpy(p + 22, info.data(), infoLen);
  Put32(p + 40, static_cast<uint32_t>(frequency));
  const size_t usrSize = usrRow ? usrRow->data.size() : 0;
  p[44] = static_cast<uint8_t>(std::min<size_t>(usrSize / 4, 255));
  p[49] = usrRow ? 1 : 0;
  p[58] = flash ? 1 : 0;
  p[59] = eeprom ? 1 : 0;
  p[61] = optionFlag ? 1 : 0;
  Put32(p + 66, static_cast<uint32_t>(eeprom ? eeprom->data.size() : 0));
  Put32(p + 70, static_cast<uint32_t>(flash ? flash->data.size() : 0));
  // The target the record is for, where the report does not look.
  std::memcpy(p + 74, signature.data(), 3);
  Put32(p + 164, static_cast<uint32_t>(date100));
  p[188] = static_cast<uint8_t>(iface);
  Put16(p + 189, power);
  return r;
}

std::string Project::Validate() const {
  if (name.size() > kMaxProjectName) return "project name longer than 14 characters";
  if (info.size() > kMaxProjectInfo) return "info text longer than 18 characters";
  if (device.size() > 255) return "device name too long";
  if (password.size() > 64) return "password longer than 64 characters";
  struct Mem {
    const char* what;
    const std::optional<MemImage>& img;
    uint32_t size;
  };
  for (const Mem& m : {Mem{"Flash", flash, flashSize}, Mem{"EEprom", eeprom, eepromSize},
                       Mem{"user row", usrRow, usrRowSize}}) {
    if (!m.img) continue;
    if (m.img->data.empty()) return std::string(m.what) + " image is empty";
    if (static_cast<uint64_t>(m.img->base) + m.img->data.size() > m.size)
      return std::string(m.what) + " image does not fit the device's " + std::to_string(m.size) + " bytes";
  }
  for (const auto& [index, value] : fuses) {
    (void)value;
    if (index < 0 || index > 9) return "fuse byte index outside 0..9";
  }
  return {};
}

std::vector<uint8_t> Project::Serialize() const {
  Writer w;
  w.Raw({reinterpret_cast<const uint8_t*>(kMagic), sizeof kMagic});
  w.U16(kVersion);
  w.U16(0);

  Writer info_;
  info_.Str(name);
  info_.Str(info);
  info_.U32(static_cast<uint32_t>(fileDate));
  info_.U32(static_cast<uint32_t>(date100));
  info_.U32(static_cast<uint32_t>(frequency));
  info_.U8(static_cast<uint8_t>(iface));
  info_.U16(power);
  info_.U8(optionFlag ? 1 : 0);
  w.Chunk(kInfo, info_);

  Writer targ;
  targ.Str(device);
  targ.Raw(signature);
  targ.U32(flashSize);
  targ.U32(eepromSize);
  targ.U32(usrRowSize);
  targ.U16(pageSize);
  w.Chunk(kTarg, targ);

  for (auto [tag, img] : {std::pair{kFlsh, &flash}, std::pair{kEepr, &eeprom}, std::pair{kUsrr, &usrRow}}) {
    if (!*img) continue;
    Writer m;
    m.U32((*img)->base);
    m.Raw((*img)->data);
    w.Chunk(tag, m);
  }
  if (!fuses.empty()) {
    Writer f;
    for (const auto& [index, value] : fuses) {
      f.U8(static_cast<uint8_t>(index));
      f.U8(value);
    }
    w.Chunk(kFuse, f);
  }
  if (lockBits) {
    Writer l;
    l.U8(*lockBits);
    w.Chunk(kLock, l);
  }
  if (protection.bits != 0 || quantity != 0 || !password.empty()) {
    Writer p;
    p.U8(protection.bits);
    p.U16(quantity);
    p.Str(password);
    w.Chunk(kProt, p);
  }
  auto& bytes = w.Bytes();
  uint32_t crc = Crc32(bytes);
  w.U32(crc);
  return std::move(bytes);
}

std::optional<Project> Project::Parse(std::span<const uint8_t> file, std::string* err) {
  auto fail = [&](std::string why) -> std::optional<Project> {
    if (err) *err = std::move(why);
    return std::nullopt;
  };
  if (file.size() < kHeaderSize + kTrailerSize) return fail("too short for a project file");
  if (std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) return fail("not a project file");
  Reader tail(file.subspan(file.size() - kTrailerSize));
  const uint32_t crc = tail.U32();
  auto body = file.first(file.size() - kTrailerSize);
  if (Crc32(body) != crc) return fail("checksum mismatch (file damaged or incomplete)");

  Reader head(body.subspan(sizeof kMagic));
  if (uint16_t v = head.U16(); v != kVersion) return fail("unsupported format version " + std::to_string(v));

  Project p;
  bool haveInfo = false, haveTarg = false;
  Reader chunks(body.subspan(kHeaderSize));
  while (!chunks.AtEnd()) {
    Tag tag{};
    for (auto& c : tag) c = static_cast<char>(chunks.U8());
    const uint32_t len = chunks.U32();
    if (!chunks.ok()) return fail("chunk header cut off");
    auto rest = chunks.Rest();
    if (len > rest.size()) return fail("chunk runs past the end of the file");
    Reader c(rest.first(len));
    chunks = Reader(rest.subspan(len));
    std::string what(tag.begin(), tag.end());

    if (tag == kInfo) {
      p.name = c.Str(kMaxProjectName);
      p.info = c.Str(kMaxProjectInfo);
      p.fileDate = static_cast<int32_t>(c.U32());
      p.date100 = static_cast<int32_t>(c.U32());
      p.frequency = static_cast<int32_t>(c.U32());
      const uint8_t iface = c.U8();
      if (iface > 3) return fail("unknown interface " + std::to_string(iface));
      p.iface = static_cast<Interface>(iface);
      p.power = c.U16();
      p.optionFlag = c.U8() != 0;
      haveInfo = true;
    } else if (tag == kTarg) {
      p.device = c.Str(255);
      for (auto& b : p.signature) b = c.U8();
      p.flashSize = c.U32();
      p.eepromSize = c.U32();
      p.usrRowSize = c.U32();
      p.pageSize = c.U16();
      haveTarg = true;
    } else if (tag == kFlsh || tag == kEepr || tag == kUsrr) {
      MemImage m;
      m.base = c.U32();
      auto d = c.Rest();
      m.data.assign(d.begin(), d.end());
      (tag == kFlsh ? p.flash : tag == kEepr ? p.eeprom : p.usrRow) = std::move(m);
    } else if (tag == kFuse) {
      if (len % 2 != 0) return fail("FUSE chunk of odd length");
      for (uint32_t i = 0; i < len / 2; ++i) {
        int index = c.U8();
        p.fuses[index] = c.U8();
      }
    } else if (tag == kLock) {
      p.lockBits = c.U8();
    } else if (tag == kProt) {
      p.protection.bits = static_cast<uint8_t>(c.U8() & 0x07);
      p.quantity = c.U16();
      p.password = c.Str(64);
    } else {
      continue;  // a chunk of a later format revision: skipped
    }
    if (!c.ok()) return fail(what + " chunk cut off or malformed");
  }
  if (!haveInfo) return fail("no INFO chunk");
  if (!haveTarg) return fail("no TARG chunk");
  if (std::string why = p.Validate(); !why.empty()) return fail(why);
  return p;
}

}  // namespace nurva::sim
