#include "tools/common/IntelHex.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace nurva::hex {

namespace {

constexpr uint8_t kData = 0x00, kEnd = 0x01, kSegment = 0x02, kStartSegment = 0x03, kLinear = 0x04,
                  kStartLinear = 0x05;
// A file whose addresses spread wider than this is not taken for one image.
constexpr uint32_t kMaxSpread = 64u << 20;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void SetErr(std::string* err, std::string why) {
  if (err) *err = std::move(why);
}

void Record(std::string& out, uint16_t offset, uint8_t type, const uint8_t* data, size_t n) {
  char b[16];
  uint8_t sum = static_cast<uint8_t>(n + (offset >> 8) + (offset & 0xFF) + type);
  std::snprintf(b, sizeof b, ":%02X%04X%02X", static_cast<unsigned>(n), offset, type);
  out += b;
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", data[i]);
    out += b;
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  std::snprintf(b, sizeof b, "%02X\n", static_cast<uint8_t>(-sum) & 0xFF);
  out += b;
}

}  // namespace

std::optional<Image> Parse(std::string_view text, std::string* err) {
  std::map<uint32_t, uint8_t> bytes;
  uint32_t upper = 0;  // from record 02 or 04
  bool ended = false;
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size() && !ended) {
    size_t eol = text.find('\n', pos);
    std::string_view line = text.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
    pos = eol == std::string_view::npos ? text.size() : eol + 1;
    ++lineNo;
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.remove_suffix(1);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
    if (line.empty()) continue;
    auto fail = [&](const std::string& why) -> std::optional<Image> {
      SetErr(err, "line " + std::to_string(lineNo) + ": " + why);
      return std::nullopt;
    };
    if (line[0] != ':') return fail("does not start with ':'");
    line.remove_prefix(1);
    if (line.size() < 10 || line.size() % 2 != 0) return fail("record of odd or too short length");
    std::vector<uint8_t> rec;
    for (size_t i = 0; i < line.size(); i += 2) {
      int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
      if (hi < 0 || lo < 0) return fail("not a hexadecimal digit");
      rec.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    const size_t count = rec[0];
    if (rec.size() != count + 5) return fail("byte count does not match the record");
    uint8_t sum = 0;
    for (uint8_t b : rec) sum = static_cast<uint8_t>(sum + b);
    if (sum != 0) return fail("checksum error");
    const uint32_t offset = static_cast<uint32_t>((rec[1] << 8) | rec[2]);
    const uint8_t type = rec[3];
    const uint8_t* data = rec.data() + 4;
    switch (type) {
      case kData:
        for (size_t i = 0; i < count; ++i) {
          const uint32_t a = upper + ((offset + static_cast<uint32_t>(i)) & 0xFFFF);
          if (!bytes.emplace(a, data[i]).second) return fail("address written twice");
        }
        break;
      case kEnd: ended = true; break;
      case kSegment:
        if (count != 2) return fail("segment address record needs 2 bytes");
        upper = static_cast<uint32_t>((data[0] << 8) | data[1]) << 4;
        break;
      case kLinear:
        if (count != 2) return fail("linear address record needs 2 bytes");
        upper = static_cast<uint32_t>((data[0] << 8) | data[1]) << 16;
        break;
      case kStartSegment:
      case kStartLinear: break;
      default: return fail("unknown record type " + std::to_string(type));
    }
  }
  if (bytes.empty()) {
    SetErr(err, "no data in the HEX file");
    return std::nullopt;
  }
  Image img;
  img.base = bytes.begin()->first;
  const uint32_t last = bytes.rbegin()->first;
  if (last - img.base >= kMaxSpread) {
    SetErr(err, "HEX data spread over more than 64 MiB");
    return std::nullopt;
  }
  img.data.assign(last - img.base + 1, 0xFF);
  for (const auto& [a, b] : bytes) img.data[a - img.base] = b;
  return img;
}

std::string Format(const Image& img, size_t perRecord) {
  perRecord = std::clamp<size_t>(perRecord, 1, 255);
  std::string out;
  uint32_t upper = 0;
  size_t i = 0;
  while (i < img.data.size()) {
    const uint64_t address = static_cast<uint64_t>(img.base) + i;
    const auto high = static_cast<uint32_t>(address >> 16);
    if (high != upper) {
      const uint8_t ext[2] = {static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high)};
      Record(out, 0, kLinear, ext, 2);
      upper = high;
    }
    const auto low = static_cast<uint32_t>(address & 0xFFFF);
    const size_t n = std::min({perRecord, img.data.size() - i, static_cast<size_t>(0x10000 - low)});
    Record(out, static_cast<uint16_t>(low), kData, img.data.data() + i, n);
    i += n;
  }
  Record(out, 0, kEnd, nullptr, 0);
  return out;
}

bool IsHexName(std::string_view path) {
  std::string l(path);
  for (auto& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view ext : {".hex", ".ihx", ".ihex"})
    if (l.size() >= ext.size() && l.compare(l.size() - ext.size(), ext.size(), ext) == 0) return true;
  return false;
}

}  // namespace nurva::hex
