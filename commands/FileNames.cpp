#include "commands/FileNames.h"

#include "common/uGlobals.h"

namespace nurva {

namespace {

constexpr size_t kNameLimit = TString64::kCapacity;
constexpr size_t kCardBaseLength = 8;

bool IsSeparator(char c) { return c == '\\' || c == ':' || c == '/'; }

std::string_view FileNamePart(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return path.substr(i);
  return path;
}

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

}  // namespace

std::string TrimName(std::string_view s) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string PcExtension(std::string_view path) {
  const std::string_view name = FileNamePart(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return Upper(name.substr(dot, kNameLimit));
}

bool IsDownloadExtension(std::string_view ext) {
  return ext == ".PACK" || ext == ".PAC" || ext.starts_with(".EN") || ext.starts_with(".PK");
}

std::string CardFileName(std::string_view path, std::string_view upperExt) {
  std::string_view name = FileNamePart(path).substr(0, kNameLimit);
  if (size_t dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(0, dot);
  std::string base;
  for (char c : name)
    if (c != ' ') base += c;
  base.resize(base.size() < kCardBaseLength ? base.size() : kCardBaseLength);
  if (size_t dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
  base += upperExt;
  if (base.size() > kNameLimit) base.resize(kNameLimit);
  return base;
}

}  // namespace nurva
