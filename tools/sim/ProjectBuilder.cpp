#include "tools/sim/ProjectBuilder.h"
#include "tools/sim/ParseNumber.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <fstream>
#include <sstream>

#include "tools/sim/Model.h"

namespace nurva::sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool EndsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void SetErr(std::string* err, std::string why) {
  if (err) *err = std::move(why);
}

}  // namespace

std::optional<MemImage> ParseIntelHex(std::string_view text, std::string* err) {
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
    auto fail = [&](const std::string& why) -> std::optional<MemImage> {
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
      case 0x00:
        for (size_t i = 0; i < count; ++i) {
          const uint32_t a = upper + ((offset + static_cast<uint32_t>(i)) & 0xFFFF);
          if (!bytes.emplace(a, data[i]).second) return fail("address written twice");
        }
        break;
      case 0x01: ended = true; break;
      case 0x02:
        if (count != 2) return fail("segment address record needs 2 bytes");
        upper = static_cast<uint32_t>((data[0] << 8) | data[1]) << 4;
        break;
      case 0x04:
        if (count != 2) return fail("linear address record needs 2 bytes");
        upper = static_cast<uint32_t>((data[0] << 8) | data[1]) << 16;
        break;
      case 0x03:
      case 0x05: break;
      default: return fail("unknown record type " + std::to_string(type));
    }
  }
  if (bytes.empty()) {
    SetErr(err, "no data in the HEX file");
    return std::nullopt;
  }
  MemImage img;
  img.base = bytes.begin()->first;
  const uint32_t last = bytes.rbegin()->first;
  if (last - img.base >= (64u << 20)) {
    SetErr(err, "HEX data spread over more than 64 MiB");
    return std::nullopt;
  }
  img.data.assign(last - img.base + 1, 0xFF);
  for (const auto& [a, b] : bytes) img.data[a - img.base] = b;
  return img;
}

std::optional<MemImage> LoadImage(const std::string& source, std::string* err) {
  std::string path = source;
  std::optional<uint32_t> at;
  if (size_t p = source.rfind('@'); p != std::string::npos) {
    uint64_t v = 0;
    if (!ParseNumber(std::string_view(source).substr(p + 1), v) || v > 0xFFFFFFFFu) {
      SetErr(err, "bad address in '" + source + "'");
      return std::nullopt;
    }
    at = static_cast<uint32_t>(v);
    path = source.substr(0, p);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    SetErr(err, "cannot read " + path);
    return std::nullopt;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  const std::string content = ss.str();
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".hex") || EndsWith(lower, ".ihx") || EndsWith(lower, ".ihex")) {
    std::string why;
    auto img = ParseIntelHex(content, &why);
    if (!img) {
      SetErr(err, path + ": " + why);
      return std::nullopt;
    }
    if (at) img->base = *at;
    return img;
  }
  if (content.empty()) {
    SetErr(err, path + " is empty");
    return std::nullopt;
  }
  MemImage img;
  img.base = at.value_or(0);
  img.data.assign(content.begin(), content.end());
  return img;
}

bool ParseFuseSpec(std::string_view spec, int& index, uint8_t& value, std::string* err) {
  const size_t eq = spec.find('=');
  if (eq == std::string_view::npos) {
    SetErr(err, "fuse '" + std::string(spec) + "' needs the form NAME=VALUE");
    return false;
  }
  const std::string key = Lower(spec.substr(0, eq));
  if (key == "l" || key == "low") {
    index = 0;
  } else if (key == "h" || key == "high") {
    index = 1;
  } else if (key == "e" || key == "ext" || key == "extended") {
    index = 2;
  } else if (key.size() == 1 && key[0] >= '0' && key[0] <= '9') {
    index = key[0] - '0';
  } else {
    SetErr(err, "unknown fuse '" + key + "' (use low, high, ext or 0..9)");
    return false;
  }
  std::string_view v = spec.substr(eq + 1);
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) v.remove_prefix(2);
  unsigned parsed = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), parsed, 16);
  if (v.empty() || ec != std::errc() || p != v.data() + v.size() || parsed > 0xFF) {
    SetErr(err, "fuse value '" + std::string(spec.substr(eq + 1)) + "' is not a hexadecimal byte");
    return false;
  }
  value = static_cast<uint8_t>(parsed);
  return true;
}

std::optional<std::array<uint8_t, 3>> ParseSignature(std::string_view s) {
  std::string digits;
  for (char c : s) {
    if (c == ' ' || c == '-' || c == ':') continue;
    if (HexDigit(c) < 0) return std::nullopt;
    digits += c;
  }
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
  if (digits.size() != 6) return std::nullopt;
  std::array<uint8_t, 3> sig{};
  for (size_t i = 0; i < 3; ++i) sig[i] = static_cast<uint8_t>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
  return sig;
}

std::optional<Project> BuildProject(const BuildOptions& o, std::string* err) {
  Project p;
  const DevicePreset* preset = FindPreset(o.device);
  if (!preset && (!o.signature || !o.flashSize)) {
    std::string known;
    for (const auto& d : DevicePresets()) known += std::string(known.empty() ? "" : ", ") + d.name;
    SetErr(err, "unknown device '" + o.device + "' (known: " + known +
                    "; or give its signature and memory sizes)");
    return std::nullopt;
  }
  p.device = preset ? preset->name : o.device;
  p.signature = o.signature.value_or(preset ? preset->signature : std::array<uint8_t, 3>{});
  p.flashSize = o.flashSize.value_or(preset ? preset->flashSize : 0);
  p.eepromSize = o.eepromSize.value_or(preset ? preset->eepromSize : 0);
  p.usrRowSize = o.usrRowSize.value_or(preset ? preset->usrRowSize : 0);
  p.pageSize = preset ? preset->pageSize : 128;
  p.iface = o.iface.value_or(preset ? preset->iface : Interface::SPI);
  p.name = o.name.empty() ? p.device.substr(0, kMaxProjectName) : o.name;
  p.info = o.info;
  p.frequency = o.frequency.value_or(p.iface == Interface::PDI || p.iface == Interface::JTAG ? 2000000 : 1000000);
  if (o.powerMode != PowerMode::Self && (o.centiVolts == 0 || o.centiVolts > 1023)) {
    SetErr(err, "a supply from the programmer needs a voltage from 0.01 to 10.23 V");
    return std::nullopt;
  }
  p.power = PackPower(o.powerMode, o.powerMode == PowerMode::Self ? 0 : o.centiVolts);
  p.optionFlag = o.verify;

  struct Src {
    const char* what;
    const std::optional<std::string>& source;
    std::optional<MemImage>& into;
  };
  for (Src s : {Src{"Flash", o.flash, p.flash}, Src{"EEprom", o.eeprom, p.eeprom}, Src{"user row", o.usrRow, p.usrRow}}) {
    if (!s.source) continue;
    std::string why;
    s.into = LoadImage(*s.source, &why);
    if (!s.into) {
      SetErr(err, std::string(s.what) + " image: " + why);
      return std::nullopt;
    }
  }
  p.fuses = o.fuses;
  p.lockBits = o.lockBits;
  if (o.aes) p.protection.Include(TAESen::AES);
  if (!o.password.empty()) {
    p.protection.Include(TAESen::PWDprot);
    p.password = o.password;
  }
  if (o.quantity) {
    p.protection.Include(TAESen::Quantity);
    p.quantity = *o.quantity;
  }

  const std::time_t t = o.unixTime ? static_cast<std::time_t>(*o.unixTime) : std::time(nullptr);
  p.StampDate(t);

  if (std::string why = p.Validate(); !why.empty()) {
    SetErr(err, why);
    return std::nullopt;
  }
  return p;
}

}  // namespace nurva::sim
