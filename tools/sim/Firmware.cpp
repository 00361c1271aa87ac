#include "tools/sim/Firmware.h"

#include <algorithm>
#include <cstdio>

namespace nurva::sim {

using Clock = std::chrono::steady_clock;

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 24 && bytes.size() > 32) {
      s += " ... (" + std::to_string(bytes.size()) + " bytes)";
      break;
    }
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    s += b;
  }
  return s;
}

bool IsProgressStatus(uint8_t s) {
  switch (s) {
    case 'c': case 'F': case 'f': case 'E': case 'e': case 'U': case 'u': return true;
    default: return false;
  }
}

// ---- CommandSet ----

void CommandSet::Add(TCmdTyp type, uint8_t ch, std::string name, Handler h) {
  top_[{static_cast<uint8_t>(type), ch}] = {std::move(name), std::move(h)};
}

void CommandSet::AddQ(uint8_t letter, std::string name, Handler h) { q_[letter] = {std::move(name), std::move(h)}; }

const CommandSet::Entry* CommandSet::Find(uint8_t type, uint8_t ch) const {
  auto it = top_.find({type, ch});
  return it == top_.end() ? nullptr : &it->second;
}

const CommandSet::Entry* CommandSet::FindQ(uint8_t letter) const {
  auto it = q_.find(letter);
  return it == q_.end() ? nullptr : &it->second;
}

CommandSet DefaultCommands() {
  CommandSet set;
  AddIdentCommands(set);
  AddCheckCommands(set);
  AddBlockCommands(set);
  AddJobCommands(set);
  AddParamsCommands(set);
  AddFileCommands(set);
  AddDownloadCommands(set);
  return set;
}

// ---- Exchange ----

Exchange::Exchange(Firmware& fw, std::unique_lock<std::mutex>& lock)
    : st(fw.state_), card(fw.card_), fw_(fw), lock_(lock), epoch_(fw.resetEpoch_) {}

bool Exchange::Interrupted() const {
  return fw_.stop_ || fw_.unplugWanted_ || fw_.unplugged_ || fw_.resetEpoch_ != epoch_;
}

std::optional<Bytes> Exchange::Arg(uint32_t ms) { return fw_.TakeArg(lock_, ms); }

std::optional<uint8_t> Exchange::ArgChar(uint32_t ms) {
  auto p = Arg(ms);
  if (!p || p->empty()) return std::nullopt;
  return (*p)[0];
}

std::optional<uint16_t> Exchange::ArgWord(uint32_t ms) {
  auto p = Arg(ms);
  if (!p || p->size() < 2) return std::nullopt;
  return static_cast<uint16_t>((*p)[0] | ((*p)[1] << 8));
}

std::optional<int32_t> Exchange::ArgLong(uint32_t ms) {
  auto p = Arg(ms);
  if (!p || p->size() < 4) return std::nullopt;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | (*p)[static_cast<size_t>(i)];
  return static_cast<int32_t>(v);
}

std::optional<std::string> Exchange::ArgString(uint32_t ms) {
  auto len = ArgWord(ms);
  if (!len) return std::nullopt;
  auto p = Arg(ms);
  if (!p || p->empty()) return std::nullopt;
  size_t n = std::min<size_t>({(*p)[0], p->size() - 1, 64});
  return std::string(reinterpret_cast<const char*>(p->data() + 1), n);
}

void Exchange::Reply(uint8_t c) { ReplyBytes({&c, 1}); }

void Exchange::ReplyWord(uint16_t w) {
  const uint8_t b[2] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)};
  ReplyBytes(b);
}

void Exchange::ReplyBytes(std::span<const uint8_t> payload) { fw_.SendReply(lock_, payload); }

void Exchange::ReplyString(std::string_view s) {
  Bytes b;
  const size_t n = std::min<size_t>(s.size(), 64);
  b.push_back(static_cast<uint8_t>(n));
  b.insert(b.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
  ReplyBytes(b);
}

void Exchange::Note(const std::string& line) { fw_.Log("   " + line); }

void Exchange::StartJob(Job job) { fw_.StartJobLocked(std::move(job)); }

// ---- Firmware ----

Firmware::Firmware(State initial, std::filesystem::path cardDir, CommandSet commands, FirmwareHooks hooks,
                   std::string logName)
    : state_(std::move(initial)),
      card_(std::move(cardDir)),
      commands_(std::move(commands)),
      hooks_(std::move(hooks)),
      logName_(std::move(logName)) {}

Firmware::~Firmware() { Stop(); }

void Firmware::Start() {
  std::lock_guard<std::mutex> g(m_);
  if (running_) return;
  running_ = true;
  stop_ = false;
  started_ = Clock::now();
  thread_ = std::thread([this] { Run(); });
}

void Firmware::Stop() {
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> g(m_);
  running_ = false;
}

void Firmware::Log(const std::string& line) {
  if (hooks_.log) hooks_.log(logName_ + " " + line);
}

void Firmware::Deliver(std::span<const uint8_t> frame) {
  std::lock_guard<std::mutex> g(m_);
  const int n = ++state_.count.outPackets;
  const bool unplugNow = state_.faults.unplugAfter >= 0 && n >= state_.faults.unplugAfter;
  if (state_.faults.dropPackets.count(n)) {
    Log("<- " + Hex(frame) + "   (packet " + std::to_string(n) + " lost)");
  } else if (frame.size() >= 2) {
    const size_t len = static_cast<size_t>(frame[0] | (frame[1] << 8));
    const size_t have = std::min(len, frame.size() - 2);
    inbox_.emplace_back(frame.begin() + 2, frame.begin() + 2 + static_cast<std::ptrdiff_t>(have));
  }
  if (unplugNow && !unplugged_) unplugWanted_ = true;
  cv_.notify_all();
}

void Firmware::VendorRequest() {
  std::lock_guard<std::mutex> g(m_);
  ++state_.count.vendorRequests;
  ++resetEpoch_;
  inbox_.clear();
  Log("<- vendor request: command state reset");
  cv_.notify_all();
}

std::optional<Bytes> Firmware::TakeArg(std::unique_lock<std::mutex>& g, uint32_t ms) {
  const uint64_t epoch = resetEpoch_;
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  // An unplug ends the wait too: the packet that asked for it is not served.
  cv_.wait_until(g, until, [&] { return stop_ || unplugWanted_ || epoch != resetEpoch_ || !inbox_.empty(); });
  if (stop_ || unplugWanted_ || epoch != resetEpoch_ || inbox_.empty()) {
    Log("   (argument missing: command abandoned)");
    return std::nullopt;
  }
  Bytes p = std::move(inbox_.front());
  inbox_.pop_front();
  Log("<- " + Hex(p));
  return p;
}

void Firmware::SendReply(std::unique_lock<std::mutex>& g, std::span<const uint8_t> payload) {
  const int n = ++state_.count.replies;
  Bytes transfer;
  transfer.reserve(payload.size() + 2);
  transfer.push_back(static_cast<uint8_t>(payload.size()));
  transfer.push_back(static_cast<uint8_t>(payload.size() >> 8));
  transfer.insert(transfer.end(), payload.begin(), payload.end());

  const Faults& f = state_.faults;
  if (f.silentAfter >= 0 && state_.count.outPackets > f.silentAfter) {
    Log("-> " + Hex(payload) + "   (silent)");
    return;
  }
  if (f.dropReplies.count(n)) {
    Log("-> " + Hex(payload) + "   (reply " + std::to_string(n) + " dropped)");
    return;
  }
  if (f.replyDelayMs > 0) {
    const auto until = Clock::now() + std::chrono::milliseconds(f.replyDelayMs);
    cv_.wait_until(g, until, [&] { return stop_; });
    if (stop_) return;
  }
  const bool ok = hooks_.sendIn && hooks_.sendIn(transfer);
  if (ok) ++state_.count.sent;
  Log("-> " + Hex(payload) + (ok ? "" : "   (not delivered: no IN connection)"));
}

bool Firmware::OpenProject(State& st, const std::string& name, std::string* why) {
  auto data = card_.Read(name);
  if (!data) {
    if (why) *why = "no file " + name + " on the card";
    return false;
  }
  std::string err;
  auto p = Project::Parse(*data, &err);
  if (!p) {
    if (why) *why = name + ": " + err;
    return false;
  }
  st.openName = card_.Find(name).value_or(name);
  st.open = std::move(*p);
  return true;
}

void Firmware::StartJob(Job job) {
  std::lock_guard<std::mutex> g(m_);
  StartJobLocked(std::move(job));
  cv_.notify_all();
}

void Firmware::StartJobLocked(Job job) {
  if (job_) Log("   job '" + job_->job.name + "' replaced");
  Log("   job '" + job.name + "' started, " + std::to_string(job.steps.size()) + " steps");
  RunningJob r;
  r.job = std::move(job);
  r.due = Clock::now();
  if (!r.job.steps.empty()) {
    const double speed = state_.jobSpeed > 0 ? state_.jobSpeed : 1.0;
    r.due += std::chrono::microseconds(static_cast<int64_t>(r.job.steps[0].ms * 1000.0 / speed));
  }
  job_ = std::move(r);
}

bool Firmware::JobRunning() const {
  std::lock_guard<std::mutex> g(m_);
  return job_.has_value();
}

std::optional<Clock::time_point> Firmware::NextTimer() const {
  std::optional<Clock::time_point> t;
  if (job_) t = job_->due;
  if (state_.faults.unplugAfterMs >= 0 && !unplugged_) {
    auto u = started_ + std::chrono::milliseconds(state_.faults.unplugAfterMs);
    if (!t || u < *t) t = u;
  }
  return t;
}

void Firmware::RunDueTimers(std::unique_lock<std::mutex>& g) {
  const auto now = Clock::now();
  if (state_.faults.unplugAfterMs >= 0 && !unplugged_ &&
      now >= started_ + std::chrono::milliseconds(state_.faults.unplugAfterMs))
    unplugWanted_ = true;
  // Once unplugged, the device stays unplugged: packets still in flight ask for nothing.
  if (unplugged_) unplugWanted_ = false;

  while (job_ && Clock::now() >= job_->due) {
    RunningJob& r = *job_;
    if (r.next >= r.job.steps.size()) {
      job_.reset();
      break;
    }
    JobStep& step = r.job.steps[r.next++];
    uint8_t status = step.status;
    if (step.work)
      if (auto s = step.work(state_)) status = *s;
    const bool last = r.next >= r.job.steps.size() || !IsProgressStatus(status);
    const std::string name = r.job.name;
    if (last) {
      job_.reset();
    } else {
      const double speed = state_.jobSpeed > 0 ? state_.jobSpeed : 1.0;
      r.due += std::chrono::microseconds(static_cast<int64_t>(r.job.steps[r.next].ms * 1000.0 / speed));
    }
    const uint8_t b = status;
    Log("   job '" + name + "' status" + (last ? " (end)" : ""));
    SendReply(g, {&b, 1});
  }
}

void Firmware::Run() {
  std::unique_lock<std::mutex> g(m_);
  if (state_.openName && !state_.open) {
    std::string why;
    const std::string name = *state_.openName;
    state_.openName.reset();
    if (OpenProject(state_, name, &why))
      Log("   project " + *state_.openName + " open");
    else
      Log("   no project open: " + why);
  }
  for (;;) {
    if (stop_) return;
    RunDueTimers(g);
    if (unplugWanted_ && !unplugged_) {
      unplugged_ = true;
      unplugWanted_ = false;
      Log("   unplugged (fault)");
      if (hooks_.unplug) {
        g.unlock();
        hooks_.unplug();
        g.lock();
      }
      continue;
    }
    if (inbox_.empty()) {
      auto t = NextTimer();
      if (t)
        cv_.wait_until(g, *t, [&] { return stop_ || unplugWanted_ || !inbox_.empty(); });
      else
        cv_.wait(g, [&] { return stop_ || unplugWanted_ || !inbox_.empty() || NextTimer().has_value(); });
      continue;
    }
    Bytes pkt = std::move(inbox_.front());
    inbox_.pop_front();
    Dispatch(pkt, g);
  }
}

void Firmware::Dispatch(const Bytes& pkt, std::unique_lock<std::mutex>& g) {
  if (pkt.size() != 2 || pkt[0] > static_cast<uint8_t>(TCmdTyp::DEBcmd)) {
    ++state_.count.strayPackets;
    Log("<- " + Hex(pkt) + "   (not a command: ignored)");
    return;
  }
  const uint8_t type = pkt[0], ch = pkt[1];
  ++state_.count.commands;
  char shown[8];
  std::snprintf(shown, sizeof shown, (ch >= 0x20 && ch < 0x7F) ? "'%c'" : "0x%02X", ch);

  if (state_.id.firmwareLost && type != static_cast<uint8_t>(TCmdTyp::CTRLcmd)) {
    Log("<- " + Hex(pkt) + "   " + shown + " (firmware lost: only the loader answers)");
    return;
  }
  Exchange ex(*this, g);
  const CommandSet::Entry* e = nullptr;
  if (type == static_cast<uint8_t>(TCmdTyp::TESKcmd) && ch == 'Q') {
    Log("<- " + Hex(pkt) + "   'Q'");
    auto letter = ex.ArgChar();
    if (!letter) return;
    e = commands_.FindQ(*letter);
    if (!e) {
      ++state_.count.unknownCommands;
      Log("   unknown 'Q' command: NAK");
      ex.Reply(kNak);
      return;
    }
    std::snprintf(shown, sizeof shown, (*letter >= 0x20 && *letter < 0x7F) ? "'%c'" : "0x%02X", *letter);
    Log("   'Q' " + std::string(shown) + " " + e->name);
  } else {
    e = commands_.Find(type, ch);
    if (!e) {
      ++state_.count.unknownCommands;
      Log("<- " + Hex(pkt) + "   " + shown + " (unknown command: NAK)");
      ex.Reply(kNak);
      return;
    }
    Log("<- " + Hex(pkt) + "   " + shown + " " + e->name);
  }
  e->handler(ex);
}

}  // namespace nurva::sim
