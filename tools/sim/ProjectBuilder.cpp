#include "tools/sim/ProjectBuilder.h"
#include "tools/sim/ParseNumber.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <fstream>
#include <sstream>

#include "tools/common/IntelHex.h"
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

void SetErr(std::string* err, std::string why) {
  if (err) *err = std::move(why);
}

}  // namespace

std::optional<MemImage> ParseIntelHex(std::string_view text, std::string* err) {
  auto img = hex::Parse(text, err);
  if (!img) return std::nullopt;
  MemImage m;
  m.base = img->base;
  m.data = std::move(img->data);
  return m;
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
  if (hex::IsHexName(path)) {
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
