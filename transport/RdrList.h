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
// Unload: how long the receive threads of all links get to end after they were told to
// stop, and then how long the reads of threads that had to be cut off get to end before
// their handles are closed.
inline constexpr uint32_t kUnloadStopMs = 1000;
inline constexpr uint32_t kUnloadReadEndMs = 1000;

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
  // the remaining links as they are. `forUnload`: the library is being unloaded; then all
  // links are told to stop first and every wait is bounded (TUSBreader::StopForUnload).
  void FreeLinks(bool forUnload = false);
  // All the list runs, stopped while the library is being unloaded: the links (as
  // FreeLinks(true)) and the notifier's thread. Every wait in it has a bound.
  void ReleaseForUnload();

  // ---- commands by channel (the families under commands/) ----
  std::string CheckProgrammer(int32_t Channel, int32_t& res);
  std::string InitChannel(int32_t Channel, int32_t& res);
  std::string ReleaseTarget(int32_t Channel, int32_t& res);
  std::string CheckDevice(int32_t Channel, int32_t& res);
  std::string GetTargVolt(int32_t Channel, int32_t& Volt, int32_t& res);
  std::string GetFuse(int32_t Channel, char selfuse, int32_t& fuse, int32_t& res);
  // Project files on the card.
  std::string GetProjNames(int32_t Channel, int32_t& res);
  std::string CheckFile(int32_t Channel, const std::string& FName, int32_t& res);
  std::string OpenAFile(int32_t Channel, const std::string& FName, int32_t& res);
  std::string CloseAFile(int32_t Channel, int32_t& res);
  std::string DeleteFile(uint8_t Channel, const std::string& DelFName, int32_t& res);
  std::string GetFileState(int32_t Channel, int32_t& res);
  // Project parameters report.
  std::string GetProjParams(int32_t Channel, const std::string& FName, int32_t& res);
  // Project file download.
  std::string DownLdFile(uint8_t Channel, const std::string& FName, int32_t& res);
  // Erase, program and verify; progress status.
  std::string EraseDevice(int32_t Channel, int32_t& res);
  std::string EraseDeviceX(int32_t Channel, int32_t& res);
  std::string EraseDeviceUsr(int32_t Channel, int32_t& res);
  std::string ProgDevice(int32_t Channel, int32_t& res);
  std::string ProgEEprom(int32_t Channel, int32_t& res);
  std::string ProgFlash(int32_t Channel, int32_t& res);
  std::string ProgUsrRow(int32_t Channel, int32_t& res);
  std::string ProgFuses(int32_t Channel, int32_t& res);
  std::string ProgLockBits(int32_t Channel, int32_t& res);
  std::string VerifyDevice(int32_t Channel, int32_t& res);
  std::string VerifyEEpromOnly(int32_t Channel, int32_t& res);
  std::string VerifyFlashOnly(int32_t Channel, int32_t& res);
  // Lets the link take the job's pending statuses; always an empty text.
  std::string ProgStatus(int32_t Channel);
  // The link's status text and code; reads fields only, sends nothing.
  std::string GetProgStatus(int32_t Channel, int32_t& res);
  // Block transfers and read back.
  std::string DownProgBlockF(uint8_t Channel, const uint8_t* Block, int32_t dest, int32_t& res);
  std::string DownProgBlockE(uint8_t Channel, const uint8_t* Block, int32_t dest, int32_t Count, int32_t& res);
  std::string DownProgBlockU(uint8_t Channel, const uint8_t* Block, int32_t dest, int32_t& res);
  std::string DownOverBlock(uint8_t Channel, tMemType MemType, const uint8_t* Block, int32_t dest, int32_t Count,
                            int32_t& res);
  std::string DownFileBlock(uint8_t Channel, tMemType MemType, const uint8_t* Block, int32_t dest, int32_t Count,
                            int32_t& res);
  std::string UpFileBlock(uint8_t Channel, tMemType MemType, uint8_t* Block, int32_t dest, int32_t Count,
                          int32_t& res);
  std::string ReadBackChipF(int32_t Channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res);
  std::string ReadBackChipE(int32_t Channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount, int32_t& res);
  std::string ReadBackChipU(int32_t Channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res);

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
  void FreeLinksForUnload();

  std::unique_ptr<std::vector<TUSBreader*>> FList;
  // Device-change notifier with no handlers: plugging or unplugging a programmer changes
  // nothing until the next discovery. The list works the same without it.
  std::unique_ptr<TComponentUSB> FComponentUSB;
};

}  // namespace nurva
