// The list of programmer links. The place of a link in the list is its channel number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/ComponentUSB.h"
#include "transport/URecBufMulti.h"

namespace nurva {

// Most programmers the list holds; device numbers 0 to 15 are probed.
inline constexpr int32_t kMaxLinks = 16;
// Attempts to identify a device before discovery gives up on it.
inline constexpr int kIdentifyAttempts = 5;
inline constexpr uint32_t kEnumStartPauseMs = 1000;
inline constexpr uint32_t kRetryPauseSendFailedMs = 3000;
inline constexpr uint32_t kRetryPauseNoReplyMs = 2000;

class TUSBRdrLst {
 public:
  TUSBRdrLst();
  // Frees the list's references (not the links: the owner frees those first, FreeLinks)
  // and the notifier.
  virtual ~TUSBRdrLst();
  TUSBRdrLst(const TUSBRdrLst&) = delete;
  TUSBRdrLst& operator=(const TUSBRdrLst&) = delete;

  int32_t GetCount() const;
  TUSBreader* GetItem(int32_t Index) const;
  // The link at `Channel`, or none when the channel is out of range or empty.
  TUSBreader* CheckRdr(int32_t Channel) const;

  // Probes device numbers 0 to 15 and keeps the programmers that identify.
  bool EnumDevices();
  bool AbortAll() { return EnumDevices(); }

  // Terminates, waits for and frees every link; stops at the first failure and leaves
  // the remaining links as they are. `forUnload`: the library is being unloaded.
  void FreeLinks(bool forUnload = false);

  // ---- commands by channel (the families under commands/) ----
  std::string CheckProgrammer(int32_t Channel, int32_t& res);
  std::string InitChannel(int32_t Channel, int32_t& res);
  std::string ReleaseTarget(int32_t Channel, int32_t& res);
  std::string CheckDevice(int32_t Channel, int32_t& res);
  std::string GetTargVolt(int32_t Channel, int32_t& Volt, int32_t& res);
  std::string GetFuse(int32_t Channel, char selfuse, int32_t& fuse, int32_t& res);
  // Project files on the card.
  // Project parameters report.
  // Project file download.
  // Erase, program and verify; progress status.
  // Block transfers and read back.

 protected:
  // What a command method answers when no link stands at the channel.
  enum class NoLink {
    Closed,  // "USB channel <n> closed", res noProg
    Silent,  // empty text, res untouched
  };
  template <class Command>
  std::string OnLink(int32_t Channel, int32_t& res, NoLink noLink, Command&& command) {
    if (TUSBreader* link = CheckRdr(Channel)) return command(*link);
    if (noLink == NoLink::Closed) {
      res = Ord(TPrgResult::noProg);
      return "USB channel " + std::to_string(Channel) + " closed";
    }
    return {};
  }

 private:
  bool IdentifyAt(int32_t deviceNumber, bool& result, bool& endEarly);

  std::unique_ptr<std::vector<TUSBreader*>> FList;
  // Device-change notifier with no handlers: plugging or unplugging a programmer changes
  // nothing until the next discovery. The list works the same without it.
  std::unique_ptr<TComponentUSB> FComponentUSB;
};

}  // namespace nurva
