#include "tools/sim/Card.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace nurva::sim {

namespace fs = std::filesystem;

namespace {

constexpr char kTempPrefix[] = ".~";

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string LowerCopy(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void SetErr(std::string* err, std::string what) {
  if (err) *err = std::move(what);
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

void SyncDir(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

Card::Card(fs::path dir) : dir_(std::move(dir)) {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  if (!fs::is_directory(dir_, ec)) {
    error_ = "cannot make card directory " + dir_.string() + (ec ? ": " + ec.message() : "");
    return;
  }
  mounted_ = true;
  for (const auto& e : fs::directory_iterator(dir_, ec)) {
    const std::string n = e.path().filename().string();
    if (IsTemp(n)) fs::remove(e.path(), ec);
  }
}

bool Card::IsTemp(const std::string& fileName) { return fileName.rfind(kTempPrefix, 0) == 0; }

bool Card::ValidName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\' || c == 0x7F;
  });
}

std::vector<std::string> Card::List() const {
  std::vector<std::string> r;
  std::error_code ec;
  if (!mounted_) return r;
  for (const auto& e : fs::directory_iterator(dir_, ec)) {
    const std::string n = e.path().filename().string();
    if (e.is_regular_file(ec) && ValidName(n)) r.push_back(n);
  }
  std::sort(r.begin(), r.end(), [](const std::string& a, const std::string& b) {
    return LowerCopy(a) < LowerCopy(b) || (LowerCopy(a) == LowerCopy(b) && a < b);
  });
  return r;
}

std::optional<std::string> Card::Find(std::string_view name) const {
  if (!ValidName(name)) return std::nullopt;
  for (const auto& n : List())
    if (n == name) return n;
  for (const auto& n : List())
    if (EqualNoCase(n, name)) return n;
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> Card::Read(std::string_view name) const {
  auto found = Find(name);
  if (!found) return std::nullopt;
  std::ifstream in(dir_ / *found, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

bool Card::Remove(std::string_view name) {
  auto found = Find(name);
  if (!found) return false;
  std::error_code ec;
  bool ok = fs::remove(dir_ / *found, ec);
  SyncDir(dir_);
  return ok;
}

std::unique_ptr<Card::Writer> Card::Create(std::string_view name, std::string* err) {
  if (!mounted_) {
    SetErr(err, error_);
    return nullptr;
  }
  if (!ValidName(name)) {
    SetErr(err, "invalid card file name '" + std::string(name) + "'");
    return nullptr;
  }
  std::string tmpl = (dir_ / (std::string(kTempPrefix) + std::string(name) + ".XXXXXX")).string();
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) {
    SetErr(err, "cannot create a file on the card: " + std::string(std::strerror(errno)));
    return nullptr;
  }
  return std::unique_ptr<Writer>(new Writer(*this, std::string(name), tmpl, fd));
}

bool Card::Write(std::string_view name, std::span<const uint8_t> data, std::string* err) {
  auto w = Create(name, err);
  if (!w) return false;
  if (!w->Append(data)) {
    SetErr(err, "write to the card failed");
    return false;
  }
  return w->Commit(err);
}

bool Card::Install(const fs::path& temp, const std::string& name, std::string* err) {
  // Replace a file whose name differs only in case, as the card's file system would.
  std::optional<std::string> old = Find(name);
  std::error_code ec;
  fs::rename(temp, dir_ / name, ec);
  if (ec) {
    SetErr(err, "cannot store " + name + ": " + ec.message());
    return false;
  }
  if (old && *old != name) fs::remove(dir_ / *old, ec);
  SyncDir(dir_);
  return true;
}

Card::Writer::Writer(Card& card, std::string name, fs::path temp, int fd)
    : card_(card), name_(std::move(name)), temp_(std::move(temp)), fd_(fd) {}

Card::Writer::~Writer() { Discard(); }

void Card::Writer::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
  }
}

bool Card::Writer::Append(std::span<const uint8_t> data) {
  if (fd_ < 0 || failed_) return false;
  if (!WriteAll(fd_, data.data(), data.size())) {
    failed_ = true;
    return false;
  }
  size_ += data.size();
  return true;
}

bool Card::Writer::Commit(std::string* err) {
  if (fd_ < 0 || failed_) {
    SetErr(err, "the file was not written completely");
    Discard();
    return false;
  }
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  if (!ok) {
    SetErr(err, "cannot flush the file to the card");
    Discard();
    return false;
  }
  if (!card_.Install(temp_, name_, err)) {
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

}  // namespace nurva::sim
