// What every fuzz target shares: a reader for the fuzz input, a time seam that answers the
// link's waits from that input at once, and the one connected programmer of the process.
//
// The programmer is a virtual device on a private bus directory that swallows every OUT
// frame and never sends an IN transfer: all replies come through the seam, so a command
// never sleeps. Discovery finds and identifies it once per process (through AbortAll, with
// the identification record fed by the seam); the exports then reach it on channel 0.
//
// Reply stream (the programmer's side), a sequence of records:
//   u16 tag (little-endian), then the packet's payload
//   payload length: tag & 0x1FF, at most 510 (an IN transfer is at most 512 bytes), and
//                   cut to what is left of the input
//   tag & 0x8000:   the next record arrives together with this one (both are queued
//                   before the waiting command looks), so replies can pile up
// The tag itself is the transfer's 2-byte header, which the link skips. A record with no
// payload is dropped, as the receive loop drops transfers of two bytes or less. When the
// stream is used up, every further wait reads as silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transport/TimeSeam.h"
#include "transport/URecBufMulti.h"

namespace nurva::fuzz {

// Takes values from the front of the fuzz input; past its end every value is 0.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte();
  uint16_t Word();
  int32_t Long();
  // Up to `n` bytes.
  std::vector<uint8_t> Bytes(size_t n);
  const uint8_t* Rest() const { return data_ + pos_; }
  size_t RestSize() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class ReplySeam : public TTimeSeam {
 public:
  // The reply stream for the next waits; the seam keeps the pointer, not a copy.
  void Load(const uint8_t* data, size_t size);
  void Pause(uint32_t ms) override;
  bool AwaitPacket(TMsgQueue& queue, uint32_t ms) override;

 private:
  // Pushes the next record with a payload; false when the stream is used up.
  bool PushNext(TMsgQueue& queue, bool& more);

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
};

// Appends one record to a reply stream (for seeds and the harness's own replies).
void AppendPacket(std::vector<uint8_t>& stream, const std::vector<uint8_t>& payload, bool more = false);

// The process's connected programmer and seam, set up on first use.
class Harness {
 public:
  static Harness& Get();

  ReplySeam& Seam() { return seam_; }
  // The link on channel 0.
  TUSBreader& Link();
  // Discovery with `stream` as the programmer's replies to the identify command.
  uint8_t Discover(const uint8_t* stream, size_t size);

  // Puts the link into a state chosen by `selector` before an execution: its status code
  // (a found programmer, a finished command, none, nothing yet), its job mode, the last
  // status of a job, and whether its firmware is lost; nothing queued.
  void Reset(uint8_t selector);

  // A file of `size` bytes in the process's private directory, with a download extension.
  std::string PcFile(size_t size);
  const std::string& Dir() const { return dir_; }

 private:
  Harness();
  ReplySeam seam_;
  std::string dir_;
};

// The result of one export call, with the checks every call must pass: the text is
// NUL-terminated inside its buffer, res holds a result code or what the host set, the
// channel is no longer busy, and the link's standing receive limit is back. A failed check
// aborts, so the fuzzer keeps the input.
class Answer {
 public:
  static constexpr int32_t kHostRes = 0x5A5A5A5A;
  static constexpr size_t kTextSize = 1 << 16;

  Answer();
  int32_t* Res() { return &res_; }
  char* Text() { return text_.data(); }
  int32_t Code() const { return res_; }
  // Runs the checks after a call on the connected channel (`onLink`) or on no channel.
  void Check(const char* call, bool onLink = true);

 private:
  int32_t res_ = kHostRes;
  // One buffer for every call: only the bytes the last call wrote are refilled, so a
  // call costs the length of its text, not the size of the buffer.
  std::vector<char>& text_;
};

// One export call of a family, run on the connected channel.
struct FamilyCall {
  const char* name;
  std::function<void(Answer&)> run;
};
// Runs every call of the family once, starting with the call `first` picks and going round;
// each call is checked. Between the calls `between` runs (GetProgStatus polls, say).
void RunFamily(uint8_t first, const std::vector<FamilyCall>& calls, const std::function<void()>& between = {});
// The same for the first `count` calls of that round only.
void RunFamily(uint8_t first, size_t count, const std::vector<FamilyCall>& calls);

// Aborts with `what` when `ok` is false.
void Require(bool ok, const char* call, const char* what);

}  // namespace nurva::fuzz
