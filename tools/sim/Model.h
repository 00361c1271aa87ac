// State of one virtual programmer: who it is, its flashcard, the target in its socket and
// the faults it is told to show. Plain data; the firmware (Firmware.h) owns one State and
// guards it with its lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/uGlobals.h"
#include "tools/sim/Project.h"

namespace nurva::sim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCr = 0x0D;

// What the programmer reports about its card in answer to 'G'.
enum class CardState : uint8_t { Ok = 0, Missing = 1, InitFailed = 2, ResetFailed = 3, CheckFailed = 4 };

const char* CardStateName(CardState s);
std::optional<CardState> ParseCardState(std::string_view s);

// The identification record's contents.
struct Identity {
  std::string model = std::string(kModelProg);  // "NURVA Prog" or "NURVA P/R"
  uint32_t serial = 0x4E520001;
  uint16_t swRev = 0x0210;
  uint16_t hwRev = 0x0003;
  uint16_t loaderId = 0x0001;
  uint16_t vid = 0x1D50;
  uint16_t pid = 0x6150;
  std::string date = "261210";  // at most 6 characters
  bool calibrated = true;
  bool firmwareLost = false;
  uint8_t curMode = static_cast<uint8_t>(TCmdTyp::TESKcmd);

  TDeviceRec Record() const;
};

// The device in the programmer's socket.
struct Target {
  std::string device;                 // the chip's name, for messages
  std::array<uint8_t, 3> signature{};  // the chip's device ID
  bool idFault = false;                // the ID reads wrong ("wrong signature")
  bool powered = true;                 // false: the target has no supply ("power down")
  uint16_t voltage = 330;              // measured supply, 10 mV units
  bool locked = false;                 // read-out protection set ("protected")
  Bytes flash, eeprom, usrRow;         // contents; 0xFF is an erased byte
  std::map<int, uint8_t> fuses;        // fuse byte index -> value
  uint8_t lockBits = 0xFF;
  bool verifyFault = false;            // a programmed cell reads back wrong

  // The ID as the programmer reads it.
  std::array<uint8_t, 3> ReadId() const;
  // Every memory reads erased.
  bool Empty() const;
  void EraseAll();
  Bytes* Memory(tMemType m);
};

// A chip the simulator knows by name, with its factory state.
struct DevicePreset {
  const char* name;
  std::array<uint8_t, 3> signature;
  uint32_t flashSize, eepromSize, usrRowSize;
  uint16_t pageSize;
  Interface iface;
  std::map<int, uint8_t> fuses;
  uint8_t lockBits;
};
const std::vector<DevicePreset>& DevicePresets();
const DevicePreset* FindPreset(std::string_view name);  // case-insensitive

// A fresh chip of `preset`: erased memories, factory fuses.
Target MakeTarget(const DevicePreset& preset);

// Stages of the block commands (after 'Q' 'u') that a fault can make refuse: the opening,
// the read-back go-ahead, the file block's memory letter, the up-file 'r', the over block.
enum class BlockStage : uint8_t { Open, ReadBack, File, UpFile, Over };
const char* BlockStageName(BlockStage s);

// Faults one virtual programmer shows. The target and card faults are applied to the
// state when the programmer starts; the link faults act on every packet.
struct Faults {
  // card and target
  std::optional<CardState> card;
  bool powerDown = false;
  bool wrongSignature = false;
  bool protectedTarget = false;
  bool notEmpty = false;
  bool verifyError = false;
  // jobs
  bool noStartAnswer = false;          // program and verify starts get no answer
  bool progTimeout = false;            // starts are answered 0x08 (the programmer timed out)
  std::optional<uint8_t> jobFails;     // a started job ends after its first step with this status
  int deviceLimit = -1;                // after this many programmed devices, jobs end with 0x0F
  // project parameters
  std::optional<uint8_t> protectedProject;  // the protection reply claims these features
  bool paramsRefused = false;               // the parameter record is refused
  int paramsShort = -1;                     // the parameter record goes out cut to this many bytes
  // block transfers and read back
  std::set<BlockStage> blockRefuse;  // these stages answer NAK where they would go ahead
  bool targetComm = false;           // the target does not answer on its interface (status 7)
  bool lateTargetFault = false;      // power down, wrong ID, protection show only after a program block's data
  bool blockNoCr = false;            // block headers and program-block data are not confirmed with CR
  bool blockChecksum = false;        // checksums sent are wrong; blocks received are not confirmed
  int blockShort = -1;               // a read-back block packet holds only this many bytes
  int dataStops = -1;                // after this many data bytes of a block nothing more comes
  // card files and download
  bool cardRefuse = false;   // the card refuses to list, create and delete files
  bool fileMissing = false;  // the card finds none of its files
  bool timeRefuse = false;   // a download's time stamp is refused
  int checksumRefuse = -1;   // this block of a download (1 = the first) is refused as corrupt
  int downloadStops = -1;    // after acknowledging this many blocks the programmer stops answering
  // link
  uint32_t replyDelayMs = 0;      // every reply packet goes out this much later
  std::set<int> dropReplies;      // these reply packets (1 = the first) are never sent
  std::set<int> dropPackets;      // these OUT packets (1 = the first) are lost on the way in
  int silentAfter = -1;           // after this many OUT packets nothing is answered
  int unplugAfter = -1;           // unplugged when this many OUT packets have arrived
  int unplugAfterMs = -1;         // unplugged this long after the start
};

// Reads one fault spec ("power-down", "card=missing", "delay=300", "drop-reply=2,5", ...)
// into `f`. False with a message in `err` for an unknown or malformed spec.
bool ParseFault(std::string_view spec, Faults& f, std::string* err);
// The names ParseFault accepts, for help texts.
const char* FaultHelp();

// Counters a test or the -v output may look at.
struct Counters {
  int outPackets = 0;     // OUT packets that arrived (dropped ones included)
  int replies = 0;        // reply packets the firmware produced (dropped ones included)
  int sent = 0;           // IN transfers actually sent
  int commands = 0;       // commands dispatched
  int unknownCommands = 0;
  int strayPackets = 0;   // packets outside any command
  int vendorRequests = 0;
  int devicesProgrammed = 0;  // programming jobs that ended well
};

struct State {
  Identity id;
  CardState card = CardState::Ok;
  Target target;
  Faults faults;
  // The open project: its card file name and its contents.
  std::optional<std::string> openName;
  std::optional<Project> open;
  Counters count;
  double jobSpeed = 1.0;  // a job's step times are divided by this

  bool CardUsable() const { return card == CardState::Ok; }
};

// Puts the card and target faults of `st.faults` into the state.
void ApplyStateFaults(State& st);

// Target states as the programmer reports them ('Q' 'c', and the status codes of other
// commands).
enum TargetStatus : uint8_t {
  kTargetEmpty = 0,
  kTargetPowerDown = 1,
  kTargetWrongId = 3,
  kTargetProtected = 4,
  kTargetNotEmpty = 5,
};
// Checks the target against a project's device ID: power, ID, protection, erase state.
uint8_t CheckTarget(const Target& t, const std::array<uint8_t, 3>& expectedId);

}  // namespace nurva::sim
