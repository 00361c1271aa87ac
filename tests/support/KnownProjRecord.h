// A project parameter record with every field the report reads set, and the locale facts
// the report tests use.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "commands/ProjReport.h"

namespace nurva::test {

// Packed date and time as the programmer stores it.
constexpr int32_t PackedDate(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<int32_t>((static_cast<uint32_t>(((y - 1980) << 9) | (mo << 5) | d) << 16) |
                              static_cast<uint32_t>((h << 11) | (mi << 5) | (s / 2)));
}

// "blink v3", 5 March 2024 14:07:32, PDI at 7.3728 MHz, 32768 / 1024 / 512 bytes, verify
// on, the programmer powering the target at 3.30 V with at most 30 mA.
inline TProjParamRec KnownRecord() {
  TProjParamRec r;
  std::memset(&r, 0xA5, sizeof r);  // the bytes the report does not read are not zero
  r.Name.Assign("blink v3");
  r.FileDate = PackedDate(2024, 3, 5, 14, 7, 32);
  r.Info.Assign("rev 3 board");
  r.Frequency = 7372800;
  r.SizeC = 128;
  r.HasSizeC = 1;
  r.HasSizeA = 1;
  r.HasSizeB = 1;
  r.OptionFlag = 1;
  r.SizeB = 1024;
  r.SizeA = 32768;
  r.Date100 = 4535600 + 50;  // day 45356 and a half: 5 March 2024, noon
  r.Interface = 2;
  r.Power = 0x0400 + 330;
  return r;
}

// The record's report in the C locale with the protection AES and PWDprot (3).
inline const char* KnownReportC() {
  return "blink v3\r\n"
         "2024.Mar.05 14:07:32\r\n"
         "2024.Mar.05\r\n"
         "rev 3 board\r\n"
         "7.3728 MHz\r\n"
         "32768 bytes\r\n"
         "1024 bytes\r\n"
         "512 bytes\r\n"
         "yes\r\n"
         "PDI\r\n"
         "AES+PWD\r\n"
         "TESK  3.30V  max 30mA\r\n";
}

inline std::vector<uint8_t> RecordBytes(const TProjParamRec& r, size_t n = sizeof(TProjParamRec)) {
  std::vector<uint8_t> b(sizeof r);
  std::memcpy(b.data(), &r, sizeof r);
  b.resize(n, 0xEE);
  return b;
}

// The C locale's facts, whatever the platform's are.
class CLocaleFacts : public LocaleFacts {
 public:
  std::string DecimalSeparator() const override { return "."; }
};

// A locale with a comma, Dutch month names and a 12-hour clock.
class DutchLikeFacts : public LocaleFacts {
 public:
  std::string DecimalSeparator() const override { return ","; }
  std::string ShortMonthName(int m) const override {
    static const char* const kNames[] = {"jan", "feb", "mrt", "apr", "mei", "jun",
                                         "jul", "aug", "sep", "okt", "nov", "dec"};
    return m >= 1 && m <= 12 ? kNames[m - 1] : "";
  }
  std::string LongTimeFormat() const override { return "h:mm:ss tt"; }
  std::string TimeAMString() const override { return "a.m."; }
  std::string TimePMString() const override { return "p.m."; }
};

inline const char* KnownReportDutchLike() {
  return "blink v3\r\n"
         "2024.mrt.05 2:07:32 p.m.\r\n"
         "2024.mrt.05\r\n"
         "rev 3 board\r\n"
         "7,3728 MHz\r\n"
         "32768 bytes\r\n"
         "1024 bytes\r\n"
         "512 bytes\r\n"
         "yes\r\n"
         "PDI\r\n"
         "AES+PWD\r\n"
         "TESK  3,30V  max 30mA\r\n";
}

}  // namespace nurva::test
