// The parameter record of a project file as the programmer sends it, and the twelve-line
// report made from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "common/LocaleFacts.h"
#include "common/uGlobals.h"

namespace nurva {

// Size of the buffer the record is received into.
inline constexpr size_t kProjParamRecSize = 195;

#pragma pack(push, 1)
// A wire format: packed, little-endian. The Reserved bytes are the programmer's and are
// not read.
struct TProjParamRec {
  uint8_t Reserved0[2];
  ShortString<14> Name;
  int32_t FileDate;  // packed date (high half) and time (low half)
  ShortString<18> Info;
  int32_t Frequency;  // Hz
  uint8_t SizeC;      // in units of 4 bytes
  uint8_t Reserved45[4];
  uint8_t HasSizeC;
  uint8_t Reserved50[8];
  uint8_t HasSizeA;
  uint8_t HasSizeB;
  uint8_t Reserved60;
  uint8_t OptionFlag;
  uint8_t Reserved62[4];
  int32_t SizeB;  // bytes
  int32_t SizeA;  // bytes
  uint8_t Reserved74[90];
  int32_t Date100;  // hundredths of a day since 30 December 1899
  uint8_t Reserved168[20];
  uint8_t Interface;  // 0 SPI, 1 JTAG, 2 PDI, 3 TPI
  uint16_t Power;     // bits 0-9 volts x 100, bits 10-15 the power mode
  uint8_t Reserved191[4];
};
#pragma pack(pop)

static_assert(std::is_trivial_v<TProjParamRec>);
static_assert(sizeof(TProjParamRec) == kProjParamRecSize);
static_assert(offsetof(TProjParamRec, Name) == 2);
static_assert(offsetof(TProjParamRec, FileDate) == 17);
static_assert(offsetof(TProjParamRec, Info) == 21);
static_assert(offsetof(TProjParamRec, Frequency) == 40);
static_assert(offsetof(TProjParamRec, SizeC) == 44);
static_assert(offsetof(TProjParamRec, HasSizeC) == 49);
static_assert(offsetof(TProjParamRec, HasSizeA) == 58);
static_assert(offsetof(TProjParamRec, HasSizeB) == 59);
static_assert(offsetof(TProjParamRec, OptionFlag) == 61);
static_assert(offsetof(TProjParamRec, SizeB) == 66);
static_assert(offsetof(TProjParamRec, SizeA) == 70);
static_assert(offsetof(TProjParamRec, Date100) == 164);
static_assert(offsetof(TProjParamRec, Interface) == 188);
static_assert(offsetof(TProjParamRec, Power) == 189);
// The record up to the end of Power: the fields the report reads.
inline constexpr size_t kProjParamRecUsed = offsetof(TProjParamRec, Power) + sizeof(uint16_t);
static_assert(kProjParamRecUsed == 191);

// A calendar date and time of day.
struct TDateParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// The packed date and time of a file: false when it is no valid date and time.
bool DecodeFileDate(int32_t packed, TDateParts& out);
// The date `days` after 30 December 1899 (before it when negative), proleptic Gregorian.
TDateParts DateFromDayNumber(int64_t days);
// The date as yyyy.mmm.dd with the locale's abbreviated month name.
std::string ReportDateText(const TDateParts& d, const LocaleFacts& facts);
// The local date and time now, to the second.
TDateParts LocalNow();

// The twelve lines of the report, each ended by CR LF. `now` stands in for a file date
// that is not valid.
std::string BuildProjReport(const TProjParamRec& rec, TAES protection, const LocaleFacts& facts,
                            const TDateParts& now);

}  // namespace nurva
