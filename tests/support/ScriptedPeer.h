// A virtual programmer for tests: serves one device on the virtual bus, records every
// request and OUT transfer with a time stamp, and answers with scripted replies.
//
//   TestBus bus;                                  // private bus directory for this test
//   ScriptedPeer peer(bus, "dev0");
//   peer.Identify(ProgrammerRec("NURVA Prog", 0x12345678));
//   peer.On({0x02, 'G'}).Send({Pkt({0x01})});     // answer command 'G' with the byte 1
//   peer.On({0x02, 'T'}).Send({Pkt({0x4A, 0x01}).After(50)});
//   peer.SilentAfter(3);                          // the fourth OUT packet on gets no answer
//
// Rules are tried in the order they were added; the first one that matches the OUT
// payload and has uses left answers. Replies go out in order, each after its delay.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/uGlobals.h"
#include "tools/vusb/VirtualDevice.h"

namespace nurva::test {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A private bus directory, set as the process's bus for the test's lifetime. On Windows
// it also puts the stand-in driver in force (tools/vusb/FakeDriver.h), so the device and
// pipe objects reach the test's virtual devices.
class TestBus {
 public:
  TestBus();
  ~TestBus();
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
  std::string previous_;
  bool hadPrevious_ = false;
  std::shared_ptr<void> driver_;  // Windows: the stand-in driver's binding
};

// One IN transfer the peer sends.
struct Pkt {
  Bytes transfer;  // exactly what goes on the wire (header included)
  uint32_t delayMs = 0;

  // A reply packet: 2-byte length header, then `payload`.
  explicit Pkt(Bytes payload);
  Pkt(std::initializer_list<uint8_t> payload) : Pkt(Bytes(payload)) {}
  // A transfer sent exactly as given (for short or malformed transfers).
  static Pkt Raw(Bytes transfer);
  Pkt& After(uint32_t ms) {
    delayMs = ms;
    return *this;
  }
};

TDeviceRec ProgrammerRec(std::string_view name, uint32_t serial, bool firmwareLost = false);
Bytes RecBytes(const TDeviceRec& rec);

struct Event {
  enum class Kind { Request, Out, In } kind;
  Clock::time_point time;
  uint32_t code = 0;  // request code
  Bytes bytes;        // request input, OUT frame (header included) or IN transfer
  Bytes Payload() const { return bytes.size() >= 2 ? Bytes(bytes.begin() + 2, bytes.end()) : Bytes(); }
};

class ScriptedPeer : public vusb::DeviceHandler {
 public:
  class Rule {
   public:
    Rule& Send(std::vector<Pkt> pkts) {
      replies_ = std::move(pkts);
      return *this;
    }
    Rule& Times(int n) {
      uses_ = n;
      return *this;
    }
    Rule& Always() {
      uses_ = -1;
      return *this;
    }

   private:
    friend class ScriptedPeer;
    Bytes match_;
    std::vector<Pkt> replies_;
    int uses_ = 1;
  };

  ScriptedPeer(const TestBus& bus, std::string name);
  ~ScriptedPeer() override;

  Rule& On(Bytes payload);
  // Answers the identify command with `rec`, every time.
  void Identify(const TDeviceRec& rec);
  // Sends packets unasked, in order.
  void Push(std::vector<Pkt> pkts);

  // Fault injection.
  void SilentAfter(int outPackets);  // OUT packets after the first n get no answer
  void UnplugAfter(int outPackets);  // unplugged once n OUT packets have arrived
  void FailRequest(uint32_t code, uint32_t status);
  void SilenceRequest(uint32_t code);
  // The next request with `code` is answered (as usual) only after `ms`.
  void DelayRequestOnce(uint32_t code, uint32_t ms);
  void Unplug();

  std::vector<Event> Log() const;
  std::vector<Bytes> OutPayloads() const;
  std::vector<uint32_t> RequestCodes() const;
  int OutCount() const;
  bool WaitForOut(int n, uint32_t ms) const;
  bool WaitForInBound(uint32_t ms) const;
  void ClearLog();
  vusb::VirtualDevice& Device() { return dev_; }

  vusb::RequestReply OnRequest(uint32_t code, std::span<const uint8_t> input) override;
  void OnOut(std::span<const uint8_t> frame) override;

 private:
  void Worker();
  void Schedule(const std::vector<Pkt>& pkts);

  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  std::deque<std::unique_ptr<Rule>> rules_;
  std::vector<Event> log_;
  std::map<uint32_t, std::optional<uint32_t>> requestFaults_;  // nullopt = silent
  std::map<uint32_t, uint32_t> requestDelays_;
  int silentAfter_ = -1;
  int unplugAfter_ = -1;
  int outCount_ = 0;
  bool unplugWanted_ = false;
  struct Timed {
    Clock::time_point due;
    Bytes transfer;
  };
  std::deque<Timed> outbox_;
  Clock::time_point lastDue_{};
  bool stop_ = false;
  vusb::VirtualDevice dev_;
  std::thread worker_;
};

}  // namespace nurva::test
