// The programmer's firmware: one thread that takes the OUT packets in arrival order,
// splits them into commands and their argument packets, runs the command's handler and
// sends the replies, each in an IN packet of its own. Between commands it runs the
// timers: the steps of a job, which send status characters unasked, and the timed
// faults.
//
// Command families live in sources of their own (cmd_*.cpp); each adds its handlers to a
// CommandSet. A handler reads its arguments and writes its replies through an Exchange:
//
//   void Voltage(Exchange& ex) { ex.ReplyWord(ex.st.target.powered ? ex.st.target.voltage : 0); }
//   set.Add(TCmdTyp::TESKcmd, 'T', "target voltage", Voltage);
//
// Commands of type TESKcmd with the character 'Q' are a prefix: the next packet holds a
// letter that selects the command (AddQ). A command the firmware does not know is
// answered with NAK.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim/Card.h"
#include "tools/sim/Model.h"

namespace nurva::sim {

class Firmware;
struct Job;

// How long a command waits for each of its argument packets before it is abandoned.
inline constexpr uint32_t kArgWaitMs = 1000;

// One command being served. Handlers run on the firmware thread with the state locked;
// the lock is let go only while they wait for an argument or a delayed reply goes out.
class Exchange {
 public:
  State& st;
  Card& card;

  // The next argument packet's payload; nullopt when none comes within `ms` or the host
  // reset the programmer meanwhile. A handler that gets nullopt stops.
  std::optional<Bytes> Arg(uint32_t ms = kArgWaitMs);
  std::optional<uint8_t> ArgChar(uint32_t ms = kArgWaitMs);    // a 1-byte packet (first byte of a longer one)
  std::optional<uint16_t> ArgWord(uint32_t ms = kArgWaitMs);   // a 2-byte packet
  std::optional<int32_t> ArgLong(uint32_t ms = kArgWaitMs);    // a 4-byte packet
  // A name as the host sends it: a word packet k+1, then a packet of the length byte k
  // and k characters.
  std::optional<std::string> ArgString(uint32_t ms = kArgWaitMs);

  // Replies, one IN packet each.
  void Reply(uint8_t c);
  void ReplyWord(uint16_t w);
  void ReplyBytes(std::span<const uint8_t> payload);
  void ReplyString(std::string_view s);  // length byte and characters, at most 64

  void Note(const std::string& line);  // for the -v log
  // True when an Arg came back empty because the host reset the programmer, or it is being
  // unplugged or stopped, rather than because the host sent nothing more.
  bool Interrupted() const;
  // Starts (or replaces) the firmware's job from inside a handler.
  void StartJob(Job job);
  Firmware& Fw() { return fw_; }

 private:
  friend class Firmware;
  Exchange(Firmware& fw, std::unique_lock<std::mutex>& lock);
  Firmware& fw_;
  std::unique_lock<std::mutex>& lock_;
  uint64_t epoch_;
};

using Handler = std::function<void(Exchange&)>;

class CommandSet {
 public:
  struct Entry {
    std::string name;
    Handler handler;
  };
  void Add(TCmdTyp type, uint8_t ch, std::string name, Handler h);
  // TESKcmd 'Q' followed by a packet with `letter`.
  void AddQ(uint8_t letter, std::string name, Handler h);
  const Entry* Find(uint8_t type, uint8_t ch) const;
  const Entry* FindQ(uint8_t letter) const;

 private:
  std::map<std::pair<uint8_t, uint8_t>, Entry> top_;
  std::map<uint8_t, Entry> q_;
};

// The command families.
void AddIdentCommands(CommandSet& set);  // cmd_ident.cpp: identify
void AddCheckCommands(CommandSet& set);  // cmd_check.cpp: card state, target control, voltage, fuses
void AddBlockCommands(CommandSet& set);  // cmd_blocks.cpp: block transfers and read back ('Q' 'u')
void AddJobCommands(CommandSet& set);    // cmd_jobs.cpp: erase, program, verify
void AddParamsCommands(CommandSet& set);  // cmd_params.cpp: project protection and parameter record
void AddFileCommands(CommandSet& set);    // cmd_files.cpp: card listing, check, open, close, delete, file state
void AddDownloadCommands(CommandSet& set);  // cmd_download.cpp: a project file from the host onto the card
// Every family the firmware knows.
CommandSet DefaultCommands();

// A job: steps run one after another on the firmware's timer, each after its time, and
// send a status character unasked. Progress letters ('c', 'F'/'f', 'E'/'e', 'U'/'u')
// keep the job going; any other status ends it.
struct JobStep {
  uint32_t ms = 0;     // time the step takes, before `jobSpeed` is applied
  uint8_t status = 0;  // the character sent when the step is done
  // Work of the step on the state; it may return another status to send (a fault).
  std::function<std::optional<uint8_t>(State&)> work;
};
struct Job {
  std::string name;
  std::vector<JobStep> steps;
};
bool IsProgressStatus(uint8_t s);

// What the firmware needs from the device it runs in.
struct FirmwareHooks {
  std::function<bool(std::span<const uint8_t> transfer)> sendIn;  // one IN transfer, header included
  std::function<void()> unplug;
  std::function<void(const std::string&)> log;  // may be empty
};

class Firmware {
 public:
  Firmware(State initial, std::filesystem::path cardDir, CommandSet commands, FirmwareHooks hooks,
           std::string logName = "sim");
  ~Firmware();
  Firmware(const Firmware&) = delete;
  Firmware& operator=(const Firmware&) = delete;

  void Start();
  void Stop();

  // One OUT transfer as the host wrote it (length bytes and payload). Any thread.
  void Deliver(std::span<const uint8_t> frame);
  // The host's vendor request: abandons the command being served and drops queued packets.
  void VendorRequest();

  // Runs `f` on the state under the lock (tests, the simulator's own controls).
  template <class F>
  auto With(F&& f) {
    std::lock_guard<std::mutex> g(m_);
    return f(state_);
  }
  Card& GetCard() { return card_; }

  void StartJob(Job job);
  bool JobRunning() const;
  // Opens `name` from the card as the open project; false with the reason in `why`.
  bool OpenProject(State& st, const std::string& name, std::string* why);

 private:
  friend class Exchange;
  struct RunningJob {
    Job job;
    size_t next = 0;
    std::chrono::steady_clock::time_point due;
  };

  void Run();
  void Dispatch(const Bytes& pkt, std::unique_lock<std::mutex>& g);
  void RunDueTimers(std::unique_lock<std::mutex>& g);
  std::optional<std::chrono::steady_clock::time_point> NextTimer() const;
  void StartJobLocked(Job job);
  std::optional<Bytes> TakeArg(std::unique_lock<std::mutex>& g, uint32_t ms);
  void SendReply(std::unique_lock<std::mutex>& g, std::span<const uint8_t> payload);
  void Log(const std::string& line);

  mutable std::mutex m_;
  std::condition_variable cv_;
  State state_;
  Card card_;
  CommandSet commands_;
  FirmwareHooks hooks_;
  std::string logName_;

  std::deque<Bytes> inbox_;
  std::optional<RunningJob> job_;
  std::chrono::steady_clock::time_point started_{};
  uint64_t resetEpoch_ = 0;
  bool unplugWanted_ = false;
  bool unplugged_ = false;
  bool stop_ = false;
  bool running_ = false;
  std::thread thread_;
};

std::string Hex(std::span<const uint8_t> bytes);

}  // namespace nurva::sim
