// The host side of `nurva`: discovery and one call per export, on the library's public
// header only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nurva::cli {

// One export's answer.
struct Result {
  std::string call;  // the export's name
  int32_t res = -1;  // -1: the export wrote no code
  std::string text;
};

struct Programmer {
  int channel = 0;
  std::string serial;  // 8 hex digits; empty when it cannot be told
};

struct Discovery {
  bool strangers = false;  // AbortAll's result: a device with another name was dropped
  std::vector<Programmer> programmers;
};

// AbortAll, then the channels (ClosePort) and their serial numbers (GetProgIDs; when
// some link has no serial number, CheckProgrammer's text tells which channel has which).
Discovery Discover();

// The programmer a command works on.
struct Selection {
  std::optional<int> channel;
  std::optional<std::string> serial;  // matches the end of the serial number
};
struct Chosen {
  std::optional<Programmer> programmer;
  int exit = 0;  // when no programmer: the exit status
  std::string error;
  std::vector<Programmer> candidates;
};
Chosen Choose(const Discovery& d, const Selection& s);

Result CallCheckProgrammer(int channel);
Result CallInitChannel(int channel);
Result CallCheckDevice(int channel);
Result CallReleaseTarget(int channel);
Result CallGetTargVolt(int channel, int32_t& volt);
Result CallGetFuses(int channel, uint8_t selector, int32_t& fuse);

}  // namespace nurva::cli
