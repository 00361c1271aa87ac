#include "fuzz/FuzzHarness.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"
#include "tools/vusb/VirtualDevice.h"

namespace nurva::fuzz {

// ---------------------------------------------------------------- input

uint8_t FuzzInput::Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

uint16_t FuzzInput::Word() {
  const uint16_t lo = Byte();
  return static_cast<uint16_t>(lo | (Byte() << 8));
}

int32_t FuzzInput::Long() {
  const uint32_t lo = Word();
  return static_cast<int32_t>(lo | (static_cast<uint32_t>(Word()) << 16));
}

std::vector<uint8_t> FuzzInput::Bytes(size_t n) {
  const size_t k = n < RestSize() ? n : RestSize();
  std::vector<uint8_t> v(data_ + pos_, data_ + pos_ + k);
  pos_ += k;
  return v;
}

// ---------------------------------------------------------------- seam

namespace {

constexpr uint16_t kLengthMask = 0x1FF;
constexpr uint16_t kMoreFlag = 0x8000;
constexpr size_t kMaxPayload = 510;

}  // namespace

void ReplySeam::Load(const uint8_t* data, size_t size) {
  data_ = data;
  size_ = data ? size : 0;
  pos_ = 0;
}

void ReplySeam::Pause(uint32_t) {}

bool ReplySeam::PushNext(TMsgQueue& queue, bool& more) {
  while (size_ - pos_ >= 2) {
    const uint16_t tag = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    size_t n = tag & kLengthMask;
    if (n > kMaxPayload) n = kMaxPayload;
    if (n > size_ - pos_ - 2) n = size_ - pos_ - 2;
    const uint8_t* transfer = data_ + pos_;
    pos_ += 2 + n;
    if (n == 0) continue;  // header only: the receive loop queues nothing
    more = (tag & kMoreFlag) != 0;
    queue.Push(transfer, static_cast<uint16_t>(2 + n));
    return true;
  }
  pos_ = size_;
  return false;
}

bool ReplySeam::AwaitPacket(TMsgQueue& queue, uint32_t) {
  bool more = true;
  while (more && PushNext(queue, more)) {
  }
  return queue.Count() > 0;
}

void AppendPacket(std::vector<uint8_t>& stream, const std::vector<uint8_t>& payload, bool more) {
  const size_t n = payload.size() < kMaxPayload ? payload.size() : kMaxPayload;
  const uint16_t tag = static_cast<uint16_t>(n | (more ? kMoreFlag : 0));
  stream.push_back(static_cast<uint8_t>(tag & 0xFF));
  stream.push_back(static_cast<uint8_t>(tag >> 8));
  stream.insert(stream.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
}

// ---------------------------------------------------------------- harness

namespace {

// The programmer's side of the bus: OUT frames are taken and forgotten.
class Swallow : public vusb::DeviceHandler {
 public:
  void OnOut(std::span<const uint8_t>) override {}
};

std::vector<uint8_t> IdentifyReply() {
  TDeviceRec rec{};
  rec.DevName.Assign(kModelProg);
  rec.SerNum = 0x1234ABCD;
  std::vector<uint8_t> payload(sizeof rec);
  std::memcpy(payload.data(), &rec, sizeof rec);
  std::vector<uint8_t> stream;
  AppendPacket(stream, payload);
  return stream;
}

struct Bus {
  Swallow handler;
  std::unique_ptr<vusb::VirtualDevice> device;
};

}  // namespace

Harness::Harness() {
  char pattern[] = "/tmp/nurva-fuzz-XXXXXX";
  const char* d = ::mkdtemp(pattern);
  Require(d != nullptr, "setup", "cannot make a private directory");
  dir_ = d;
  const std::string busDir = dir_ + "/bus";
  ::setenv("NURVA_VUSB_DIR", busDir.c_str(), 1);
  // Lives to the end of the process: the link's pipes stay connected to it.
  static Bus bus;
  bus.device = std::make_unique<vusb::VirtualDevice>(busDir, "dev0", bus.handler);
  Require(bus.device->Start(), "setup", "cannot start the virtual programmer");
  SetTimeSeam(&seam_);
  const std::vector<uint8_t> id = IdentifyReply();
  Discover(id.data(), id.size());
  Require(api::RdrList && api::RdrList->GetCount() == 1 && Link().Connected(), "setup",
          "the virtual programmer was not found");
  std::atexit([] { std::filesystem::remove_all(Get().Dir()); });
}

Harness& Harness::Get() {
  // Never destroyed: the links' threads may still run while the process ends.
  static Harness* h = new Harness();
  return *h;
}

TUSBreader& Harness::Link() { return *api::RdrList->GetItem(0); }

uint8_t Harness::Discover(const uint8_t* stream, size_t size) {
  seam_.Load(stream, size);
  const uint8_t found = ::AbortAll();
  seam_.Load(nullptr, 0);
  return found;
}

void Harness::Reset(uint8_t selector) {
  static constexpr TPrgResult kStates[] = {TPrgResult::progFound, TPrgResult::resOk, TPrgResult::noProg,
                                           TPrgResult::resNone};
  static constexpr TOpMode kModes[] = {TOpMode::opIdle, TOpMode::opProg, TOpMode::opVerify, TOpMode::opIdle};
  static constexpr char kLastStatus[] = {0, 'F', 'c', static_cast<char>(0x08)};
  TUSBreader& l = Link();
  l.FlushBuffer();
  l.Fres = kStates[selector & 3];
  l.OpMode = kModes[(selector >> 2) & 3];
  l.FlastStat = kLastStatus[(selector >> 4) & 3];
  l.FDeviceRec.FirmwLost = (selector >> 6) & 1;
  l.Msg = "?";
  l.stopped = false;
  seam_.Load(nullptr, 0);
}

std::string Harness::PcFile(size_t size) {
  const std::string path = dir_ + "/p" + std::to_string(size) + ".pac";
  if (!std::filesystem::exists(path)) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Require(f != nullptr, "setup", "cannot write a PC file");
    for (size_t i = 0; i < size; ++i) std::fputc(static_cast<int>((i * 7 + 3) & 0xFF), f);
    std::fclose(f);
  }
  return path;
}

// ---------------------------------------------------------------- checks

void Require(bool ok, const char* call, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed in %s: %s\n", call, what);
  std::abort();
}

namespace {

constexpr char kUnwritten = 0x7F;

std::vector<char>& TextBuffer() {
  static std::vector<char>* buf = new std::vector<char>(Answer::kTextSize, kUnwritten);
  return *buf;
}

}  // namespace

Answer::Answer() : text_(TextBuffer()) {
  // Whatever the last call wrote, up to and with its NUL, is unwritten again.
  const void* nul = std::memchr(text_.data(), 0, text_.size());
  const size_t used = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text_.data()) + 1 : text_.size();
  std::memset(text_.data(), kUnwritten, used);
}

void Answer::Check(const char* call, bool onLink) {
  Require(std::memchr(text_.data(), 0, text_.size()) != nullptr, call, "no NUL-terminated text");
  Require(res_ == kHostRes || (res_ >= 0 && res_ < kPrgResultCount), call, "res is no result code");
  if (!onLink) return;
  TUSBreader& l = Harness::Get().Link();
  Require(!l.busy.load(), call, "the channel stays busy");
  Require(l.RxTimeOut() == kDefaultRxTimeOutMs, call, "the standing receive limit was not put back");
  Require(l.Connected(), call, "the link lost its connection");
}

namespace {

void RunRound(uint8_t first, size_t count, const std::vector<FamilyCall>& calls, const std::function<void()>& between) {
  const size_t n = calls.size();
  for (size_t i = 0; i < count && i < n; ++i) {
    const FamilyCall& c = calls[(first + i) % n];
    Answer a;
    c.run(a);
    a.Check(c.name);
    if (between) between();
  }
}

}  // namespace

void RunFamily(uint8_t first, const std::vector<FamilyCall>& calls, const std::function<void()>& between) {
  RunRound(first, calls.size(), calls, between);
}

void RunFamily(uint8_t first, size_t count, const std::vector<FamilyCall>& calls) { RunRound(first, count, calls, {}); }

}  // namespace nurva::fuzz

// The virtual programmer is found before the first input, so the setup is not counted
// against it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nurva::fuzz::Harness::Get();
  return 0;
}
