// The host side of `nurva`: discovery and one call per export, on the library's public
// header only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nurva::cli {

// One export's answer.
struct Result {
  std::string call;  // the export's name
  int32_t res = -1;  // -1: the export wrote no code
  std::string text;
  double ms = 0;  // how long the call took
};

struct Programmer {
  int channel = 0;
  std::string serial;  // 8 hex digits; empty when it cannot be told
};

struct Discovery {
  bool strangers = false;  // AbortAll's result: a device with another name was dropped
  std::vector<Programmer> programmers;  // every channel, the one discovery ended at included
  int serials = 0;                      // GetProgIDs' count
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

// Project files on the card and the download (HostFiles.cpp).
Result CallGetFileNames(int channel);
Result CallCheckAfile(int channel, const std::string& name);
Result CallOpenAfile(int channel, const std::string& name);
Result CallCloseAfile(int channel);
Result CallDeleteAfile(int channel, const std::string& name);
Result CallGetFileState(int channel);
Result CallDownloadFile(int channel, const std::string& path);
// The names in a listing: its lines that are not empty.
std::vector<std::string> ListingNames(const std::string& text);

// Project parameters report (HostParams.cpp).
Result CallGetProjParams(int channel, const std::string& name);
struct ReportLine {
  std::string key;    // JSON field name
  std::string label;  // for people
  std::string value;
};
// The report's twelve lines with their names; empty when the text is not twelve lines.
std::vector<ReportLine> ParamsReportLines(const std::string& text);

// Erase, program and verify; progress status (HostJobs.cpp).
Result CallEraseDevice(int channel);
Result CallEraseDeviceX(int channel);
Result CallEraseDeviceUsr(int channel);
Result CallProgDevice(int channel);
Result CallProgFlash(int channel);
Result CallProgEEprom(int channel);
Result CallProgUsrRow(int channel);
Result CallProgFuses(int channel);
Result CallProgLockBits(int channel);
Result CallVerifyDevice(int channel);
Result CallVerifyFlashOnly(int channel);
Result CallVerifyEEpromOnly(int channel);
Result CallGetProgStatus(int channel);
// The name of the project open on the card; empty when the programmer names none.
std::string OpenProjectName(int channel);

// Block transfers and read back (HostBlocks.cpp).
enum class Memory { Flash, EEprom, UsrRow };
const char* MemoryName(Memory m);                        // "Flash", "EEprom", "user row"
std::optional<Memory> ParseMemory(const std::string& s);  // flash, eeprom, usrrow (and short forms)
// One block per call, as the exports take it (EEprom read-back and program blocks carry
// their Count; the Flash and user-row ones 256 bytes).
Result CallReadBackChip(int channel, Memory m, uint8_t* dest, int32_t address, int32_t count);
Result CallDownProgBlock(int channel, Memory m, const uint8_t* block, int32_t dest, int32_t count);
Result CallDownOverBlock(int channel, Memory m, const uint8_t* block, int32_t dest, int32_t count);
Result CallDownFileBlock(int channel, Memory m, const uint8_t* block, int32_t dest, int32_t count);
Result CallUpFileBlock(int channel, Memory m, uint8_t* block, int32_t dest, int32_t count);

// Whole ranges, block by block; `progress(done, total)` after each block. Each returns
// the answer of the last call; `ok` false when it was not the wanted one.
struct Transfer {
  bool ok = false;
  Result last;
  size_t done = 0;       // bytes moved
  bool ended = false;    // ReadMemory without a size: the programmer delivered no more
};
using ProgressFn = std::function<void(size_t done, size_t total)>;
// The target's memory from `address`; `size` 0: up to where the programmer stops delivering.
Transfer ReadMemory(int channel, Memory m, uint32_t address, uint32_t size, std::vector<uint8_t>& out,
                    const ProgressFn& progress = {});
// Into the target through program blocks: 256 bytes each for Flash and user row (a last
// partial block is completed with the target's own bytes, read back first), exact blocks
// of up to 256 bytes for EEprom.
Transfer WriteTarget(int channel, Memory m, uint32_t address, const std::vector<uint8_t>& data,
                     const ProgressFn& progress = {});
// Into the open project's image through file blocks, and back out through up-file blocks.
Transfer WriteProject(int channel, Memory m, uint32_t address, const std::vector<uint8_t>& data,
                      const ProgressFn& progress = {});
Transfer ReadProject(int channel, Memory m, uint32_t address, uint32_t size, std::vector<uint8_t>& out,
                     const ProgressFn& progress = {});

}  // namespace nurva::cli
