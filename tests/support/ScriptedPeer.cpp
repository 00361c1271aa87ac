#include "tests/support/ScriptedPeer.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "usbio/vusb/VusbProtocol.h"
#ifdef _WIN32
#include "tools/vusb/FakeDriver.h"
#endif

namespace nurva::test {

#ifdef _WIN32

// The bus is in memory: the directory is only a name that groups this test's devices, and
// the stand-in driver serves them while the bus exists.
TestBus::TestBus() : driver_(std::make_shared<vusb::fake::Binding>()) {
  static std::atomic<int> counter{0};
  dir_ = "nurva-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
  if (const char* p = std::getenv(vusb::kEnvDir)) {
    previous_ = p;
    hadPrevious_ = true;
  }
  ::_putenv_s(vusb::kEnvDir, dir_.c_str());
}

TestBus::~TestBus() { ::_putenv_s(vusb::kEnvDir, hadPrevious_ ? previous_.c_str() : ""); }

#else

TestBus::TestBus() {
  char tmpl[] = "/tmp/nurva-test-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  if (const char* p = std::getenv(vusb::kEnvDir)) {
    previous_ = p;
    hadPrevious_ = true;
  }
  ::setenv(vusb::kEnvDir, dir_.c_str(), 1);
}

TestBus::~TestBus() {
  if (hadPrevious_)
    ::setenv(vusb::kEnvDir, previous_.c_str(), 1);
  else
    ::unsetenv(vusb::kEnvDir);
  std::string cmd = "rm -rf '" + dir_ + "'";
  [[maybe_unused]] int r = std::system(cmd.c_str());
}

#endif

Pkt::Pkt(Bytes payload) : transfer(std::move(payload)) {
  const size_t n = transfer.size();
  const uint8_t head[2] = {static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
  transfer.insert(transfer.begin(), head, head + 2);
}

Pkt Pkt::Raw(Bytes t) {
  Pkt p{Bytes{}};
  p.transfer = std::move(t);
  return p;
}

TDeviceRec ProgrammerRec(std::string_view name, uint32_t serial, bool firmwareLost) {
  TDeviceRec r{};
  r.DevName.Assign(name);
  r.SW_rev = 0x0102;
  r.HW_rev = 0x0003;
  r.VID = 0x1234;
  r.PID = 0x5678;
  r.SerNum = serial;
  r.Date.Assign("261210");
  r.FirmwLost = firmwareLost ? 1 : 0;
  return r;
}

Bytes RecBytes(const TDeviceRec& rec) {
  const auto* p = reinterpret_cast<const uint8_t*>(&rec);
  return Bytes(p, p + sizeof rec);
}

ScriptedPeer::ScriptedPeer(const TestBus& bus, std::string name) : dev_(bus.Dir(), std::move(name), *this) {
  worker_ = std::thread([this] { Worker(); });
  if (!dev_.Start()) throw std::runtime_error(dev_.Error());
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = true;
  }
  cv_.notify_all();
  worker_.join();
  dev_.Unplug();
}

ScriptedPeer::Rule& ScriptedPeer::On(Bytes payload) {
  std::lock_guard<std::mutex> g(m_);
  rules_.push_back(std::make_unique<Rule>());
  rules_.back()->match_ = std::move(payload);
  return *rules_.back();
}

void ScriptedPeer::Identify(const TDeviceRec& rec) {
  On({0x00, 'I'}).Always().Send({Pkt(RecBytes(rec))});
}

void ScriptedPeer::Push(std::vector<Pkt> pkts) {
  std::lock_guard<std::mutex> g(m_);
  Schedule(pkts);
}

void ScriptedPeer::SilentAfter(int n) {
  std::lock_guard<std::mutex> g(m_);
  silentAfter_ = n;
}

void ScriptedPeer::UnplugAfter(int n) {
  std::lock_guard<std::mutex> g(m_);
  unplugAfter_ = n;
  if (outCount_ >= n) unplugWanted_ = true;
  cv_.notify_all();
}

void ScriptedPeer::FailRequest(uint32_t code, uint32_t status) {
  std::lock_guard<std::mutex> g(m_);
  requestFaults_[code] = status;
}

void ScriptedPeer::SilenceRequest(uint32_t code) {
  std::lock_guard<std::mutex> g(m_);
  requestFaults_[code] = std::nullopt;
}

void ScriptedPeer::DelayRequestOnce(uint32_t code, uint32_t ms) {
  std::lock_guard<std::mutex> g(m_);
  requestDelays_[code] = ms;
}

void ScriptedPeer::Unplug() { dev_.Unplug(); }

void ScriptedPeer::Schedule(const std::vector<Pkt>& pkts) {
  // Replies keep their order: each one is due after its delay, counted from the later
  // of now and the previous reply.
  auto t = std::max(Clock::now(), lastDue_);
  for (const auto& p : pkts) {
    t += std::chrono::milliseconds(p.delayMs);
    outbox_.push_back({t, p.transfer});
  }
  lastDue_ = t;
  cv_.notify_all();
}

vusb::RequestReply ScriptedPeer::OnRequest(uint32_t code, std::span<const uint8_t> input) {
  std::unique_lock<std::mutex> g(m_);
  log_.push_back({Event::Kind::Request, Clock::now(), code, Bytes(input.begin(), input.end())});
  cv_.notify_all();
  vusb::RequestReply reply = vusb::RequestReply::Default();
  if (auto it = requestFaults_.find(code); it != requestFaults_.end())
    reply = it->second ? vusb::RequestReply::Answer(*it->second) : vusb::RequestReply::Silent();
  if (auto d = requestDelays_.find(code); d != requestDelays_.end()) {
    uint32_t ms = d->second;
    requestDelays_.erase(d);
    g.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));  // holds up the whole device, as a busy one would
  }
  return reply;
}

void ScriptedPeer::OnOut(std::span<const uint8_t> frame) {
  std::lock_guard<std::mutex> g(m_);
  log_.push_back({Event::Kind::Out, Clock::now(), 0, Bytes(frame.begin(), frame.end())});
  ++outCount_;
  cv_.notify_all();
  if (unplugAfter_ >= 0 && outCount_ >= unplugAfter_) {
    unplugWanted_ = true;
    return;
  }
  if (silentAfter_ >= 0 && outCount_ > silentAfter_) return;
  Bytes payload = frame.size() >= 2 ? Bytes(frame.begin() + 2, frame.end()) : Bytes();
  for (auto& r : rules_) {
    if (r->uses_ == 0 || r->match_ != payload) continue;
    if (r->uses_ > 0) --r->uses_;
    Schedule(r->replies_);
    return;
  }
}

void ScriptedPeer::Worker() {
  std::unique_lock<std::mutex> g(m_);
  for (;;) {
    if (stop_) return;
    if (unplugWanted_) {
      unplugWanted_ = false;
      outbox_.clear();
      g.unlock();
      dev_.Unplug();
      g.lock();
      continue;
    }
    if (outbox_.empty()) {
      cv_.wait(g);
      continue;
    }
    if (Clock::now() < outbox_.front().due) {
      cv_.wait_until(g, outbox_.front().due);
      continue;
    }
    Timed t = std::move(outbox_.front());
    outbox_.pop_front();
    log_.push_back({Event::Kind::In, Clock::now(), 0, t.transfer});
    g.unlock();
    dev_.SendIn(t.transfer);
    g.lock();
  }
}

std::vector<Event> ScriptedPeer::Log() const {
  std::lock_guard<std::mutex> g(m_);
  return log_;
}

std::vector<Bytes> ScriptedPeer::OutPayloads() const {
  std::lock_guard<std::mutex> g(m_);
  std::vector<Bytes> r;
  for (const auto& e : log_)
    if (e.kind == Event::Kind::Out) r.push_back(e.Payload());
  return r;
}

std::vector<uint32_t> ScriptedPeer::RequestCodes() const {
  std::lock_guard<std::mutex> g(m_);
  std::vector<uint32_t> r;
  for (const auto& e : log_)
    if (e.kind == Event::Kind::Request) r.push_back(e.code);
  return r;
}

int ScriptedPeer::OutCount() const {
  std::lock_guard<std::mutex> g(m_);
  return outCount_;
}

bool ScriptedPeer::WaitForOut(int n, uint32_t ms) const {
  std::unique_lock<std::mutex> g(m_);
  return cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return outCount_ >= n; });
}

bool ScriptedPeer::WaitForInBound(uint32_t ms) const {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!dev_.InBound()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void ScriptedPeer::ClearLog() {
  std::lock_guard<std::mutex> g(m_);
  log_.clear();
  outCount_ = 0;
}

}  // namespace nurva::test
