#include "tools/sim/Card.h"

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

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

// File primitives: a new file under a name no one else has, and writes that reach the
// medium before the file is renamed into place.
#ifdef _WIN32
int OpenNew(const std::string& path) {
  return ::_open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int WriteSome(int fd, const uint8_t* p, size_t n) { return ::_write(fd, p, static_cast<unsigned>(n)); }
int SyncFile(int fd) { return ::_commit(fd); }
int CloseFile(int fd) { return ::_close(fd); }
void SyncDir(const fs::path&) {}
#else
int OpenNew(const std::string& path) { return ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644); }
int WriteSome(int fd, const uint8_t* p, size_t n) { return static_cast<int>(::write(fd, p, n)); }
int SyncFile(int fd) { return ::fsync(fd); }
int CloseFile(int fd) { return ::close(fd); }
void SyncDir(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}
#endif

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    int w = WriteSome(fd, p, std::min<size_t>(n, 1 << 20));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// A temporary file beside the final one: ".~NAME.XXXXXX".
int OpenTemp(const fs::path& dir, std::string_view name, std::string& path) {
  static thread_local std::mt19937 rng{std::random_device{}()};
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (int i = 0; i < 6; ++i) suffix += digits[rng() % (sizeof digits - 1)];
    path = (dir / (std::string(kTempPrefix) + std::string(name) + "." + suffix)).string();
    int fd = OpenNew(path);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
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
  std::string tmpl;
  int fd = OpenTemp(dir_, name, tmpl);
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
    CloseFile(fd_);
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
  bool ok = SyncFile(fd_) == 0;
  ok = CloseFile(fd_) == 0 && ok;
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
