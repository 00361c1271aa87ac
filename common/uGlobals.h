// Shared vocabulary of the library: result codes, the identification record,
// the small enumerations and the 64-character short string.
// Types only; no behaviour beyond trivial helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace nurva {

// Wire records are read and written in place; every platform we build for is little-endian.
static_assert(std::endian::native == std::endian::little);

// Result and status codes. The ordinal is what a host receives in `res`;
// the order is fixed, every value keeps its place.
enum class TPrgResult : uint8_t {
  resNone = 0,
  resOk = 1,
  progDone = 2,
  noProg = 3,
  progFound = 4,
  progBusy = 5,
  progDefect = 6,
  progIdle = 7,
  progComErr = 8,
  progTimeOutErr = 9,
  PwrDownErr = 10,
  PwrSupplyErr = 11,
  SignatureErr = 12,
  invPassword = 13,
  limitExc = 14,
  eraChip = 15,
  eraFlash = 16,
  eraEEp = 17,
  eraUsrRow = 18,
  ProtectedErr = 19,
  NotEmptyErr = 20,
  prgFlash = 21,
  prgEEp = 22,
  prgUsrRow = 23,
  verifyFlash = 24,
  verifyEEp = 25,
  verifyUsrRow = 26,
  VerifyErr = 27,
  dwnLoading = 28,
  ParmErr = 29,
  dwnLoadErrF = 30,
  dwnLoadErrE = 31,
  dwnLoadErrU = 32,
  invFile = 33,
  invFName = 34,
  FileExist = 35,
  FileNotFound = 36,
  FileErr = 37,
  FileDwnErr = 38,
  MMCok = 39,
  MMCprotected = 40,
  MMCnoMedia = 41,
  MMCmissing = 42,
  MMCinitFailed = 43,
  MMCresetFailed = 44,
  MMCcheckFailed = 45,
  MMCnoProg = 46,
  MMCprogBusy = 47,
};
inline constexpr int kPrgResultCount = 48;
static_assert(sizeof(TPrgResult) == 1);
static_assert(static_cast<int>(TPrgResult::MMCprogBusy) == kPrgResultCount - 1);

constexpr int32_t Ord(TPrgResult r) { return static_cast<int32_t>(r); }

// Command type: the first byte of every two-byte command packet.
enum class TCmdTyp : uint8_t { CTRLcmd = 0, ISP3cmd = 1, TESKcmd = 2, DEBcmd = 3 };
static_assert(sizeof(TCmdTyp) == 1);

// Memory spaces of the target.
enum class tMemType : uint8_t { isNone = 0, isFlash = 1, isEEprom = 2, isUsrRow = 3 };
static_assert(sizeof(tMemType) == 1);

// The kind of job the programmer runs after a start command.
enum class TOpMode : uint8_t { opIdle = 0, opProg = 1, opVerify = 2 };
static_assert(sizeof(TOpMode) == 1);

// Protection features of a project file, and their set in one byte
// (bit n set when the feature of ordinal n is present).
enum class TAESen : uint8_t { AES = 0, PWDprot = 1, Quantity = 2 };
static_assert(sizeof(TAESen) == 1);

struct TAES {
  uint8_t bits = 0;
  constexpr bool Has(TAESen e) const { return (bits >> static_cast<unsigned>(e)) & 1u; }
  constexpr void Include(TAESen e) { bits = static_cast<uint8_t>(bits | (1u << static_cast<unsigned>(e))); }
  constexpr void Exclude(TAESen e) { bits = static_cast<uint8_t>(bits & ~(1u << static_cast<unsigned>(e))); }
  friend constexpr bool operator==(TAES a, TAES b) { return a.bits == b.bits; }
};
static_assert(sizeof(TAES) == 1);

// A short string: one length byte followed by `Capacity` character bytes.
template <std::size_t Capacity>
struct ShortString {
  // Trivial, so that records holding it can be copied byte for byte; `T s{}` is empty.
  uint8_t len;
  char chars[Capacity];

  static constexpr std::size_t kCapacity = Capacity;

  // Stores `s`, cut to the capacity; unused characters are zero.
  void Assign(std::string_view s) {
    std::memset(chars, 0, Capacity);
    len = static_cast<uint8_t>(s.size() < Capacity ? s.size() : Capacity);
    std::memcpy(chars, s.data(), len);
  }
  // The characters, never more than the capacity even when the length byte claims more.
  std::string_view View() const { return {chars, len < Capacity ? len : Capacity}; }
  std::string Str() const { return std::string(View()); }
};

#pragma pack(push, 1)
using TString16 = ShortString<16>;
using TString6 = ShortString<6>;
using TString64 = ShortString<64>;

// Identification record sent by a programmer in answer to the identify command.
// A wire format: packed, little-endian.
struct TDeviceRec {
  TString16 DevName;
  uint16_t SW_rev;
  uint16_t HW_rev;
  uint16_t LoaderID;
  uint16_t VID;
  uint16_t PID;
  uint32_t SerNum;
  TString6 Date;
  uint8_t calibrate;
  uint8_t FirmwLost;
  TCmdTyp curMode;
};
#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<TString64> && std::is_trivial_v<TDeviceRec>);
static_assert(sizeof(TString16) == 17);
static_assert(sizeof(TString6) == 7);
static_assert(sizeof(TString64) == 65);
static_assert(sizeof(TDeviceRec) == 41);
static_assert(offsetof(TDeviceRec, DevName) == 0);
static_assert(offsetof(TDeviceRec, SW_rev) == 17);
static_assert(offsetof(TDeviceRec, HW_rev) == 19);
static_assert(offsetof(TDeviceRec, LoaderID) == 21);
static_assert(offsetof(TDeviceRec, VID) == 23);
static_assert(offsetof(TDeviceRec, PID) == 25);
static_assert(offsetof(TDeviceRec, SerNum) == 27);
static_assert(offsetof(TDeviceRec, Date) == 31);
static_assert(offsetof(TDeviceRec, calibrate) == 38);
static_assert(offsetof(TDeviceRec, FirmwLost) == 39);
static_assert(offsetof(TDeviceRec, curMode) == 40);

// The two model names that discovery accepts.
inline constexpr std::string_view kModelProg = "NURVA Prog";
inline constexpr std::string_view kModelPR = "NURVA P/R";

// Reply characters with a fixed meaning.
inline constexpr char kACK = 0x06;
inline constexpr char kNAK = 0x15;
inline constexpr char kCR = 0x0D;

}  // namespace nurva
