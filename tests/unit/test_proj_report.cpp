// The project parameters report: its lines from the record, the dates, and the locale facts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "commands/ProjReport.h"
#include "common/LocaleFacts.h"
#include "tests/support/KnownProjRecord.h"

using namespace nurva;
using namespace nurva::test;

namespace {

const TDateParts kNow{2031, 7, 9, 8, 5, 3};

std::vector<std::string> Lines(const std::string& report) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (size_t e; (e = report.find("\r\n", pos)) != std::string::npos; pos = e + 2)
    lines.push_back(report.substr(pos, e - pos));
  EXPECT_EQ(pos, report.size()) << "text after the last CR LF";
  return lines;
}

}  // namespace

TEST(ProjReport, KnownRecordInTwoLocales) {
  const TProjParamRec rec = KnownRecord();
  EXPECT_EQ(BuildProjReport(rec, TAES{3}, CLocaleFacts(), kNow), KnownReportC());
  EXPECT_EQ(BuildProjReport(rec, TAES{3}, DutchLikeFacts(), kNow), KnownReportDutchLike());
}

TEST(ProjReport, LineRules) {
  using Edit = std::function<void(TProjParamRec&)>;
  struct Case {
    const char* what;
    Edit edit;
    int line;  // from 1
    std::string text;
    uint8_t protection = 3;
  };
  auto name = [](uint8_t len, const char* chars) {
    return [=](TProjParamRec& r) {
      r.Name.len = len;
      std::memcpy(r.Name.chars, chars, sizeof r.Name.chars);
    };
  };
  auto info = [](uint8_t len, const char* chars) {
    return [=](TProjParamRec& r) {
      r.Info.len = len;
      std::memcpy(r.Info.chars, chars, sizeof r.Info.chars);
    };
  };
  auto freq = [](int32_t hz) { return [=](TProjParamRec& r) { r.Frequency = hz; }; };
  auto fileDate = [](int32_t v) { return [=](TProjParamRec& r) { r.FileDate = v; }; };
  auto power = [](uint16_t p) { return [=](TProjParamRec& r) { r.Power = p; }; };
  auto iface = [](uint8_t i) { return [=](TProjParamRec& r) { r.Interface = i; }; };
  const Edit none = [](TProjParamRec&) {};
  const Case cases[] = {
      {"name of 14", name(14, "ABCDEFGHIJKLMN"), 1, "ABCDEFGHIJKLMN"},
      {"name length above 14 is clipped", name(200, "ABCDEFGHIJKLMN"), 1, "ABCDEFGHIJKLMN"},
      {"empty name", name(0, "ABCDEFGHIJKLMN"), 1, ""},
      {"a NUL ends the name", name(5, "ab\0cdEFGHIJKLM"), 1, "ab"},
      {"info of 18", info(18, "0123456789abcdefgh"), 4, "0123456789abcdefgh"},
      {"info length above 18 is clipped", info(19, "0123456789abcdefgh"), 4, "0123456789abcdefgh"},
      {"frequency 0", freq(0), 5, "0 Hz"},
      {"negative frequency", freq(-5), 5, "0 Hz"},
      {"lowest negative frequency", freq(INT32_MIN), 5, "0 Hz"},
      {"1 Hz", freq(1), 5, "1 Hz"},
      {"just below 1 MHz", freq(999999), 5, "999999 Hz"},
      {"1 MHz", freq(1000000), 5, "1 MHz"},
      {"8 MHz", freq(8000000), 5, "8 MHz"},
      {"fraction", freq(7372800), 5, "7.3728 MHz"},
      {"smallest fraction", freq(1000001), 5, "1.000001 MHz"},
      {"highest frequency", freq(INT32_MAX), 5, "2147.483647 MHz"},
      {"no Flash image", [](TProjParamRec& r) { r.HasSizeA = 0; }, 6, "none"},
      {"any non-zero flag is true", [](TProjParamRec& r) { r.HasSizeA = 0x80; }, 6, "32768 bytes"},
      {"negative size", [](TProjParamRec& r) { r.SizeA = -1; }, 6, "-1 bytes"},
      {"no EEprom image", [](TProjParamRec& r) { r.HasSizeB = 0; }, 7, "none"},
      {"EEprom size", [](TProjParamRec& r) { r.SizeB = 4096; }, 7, "4096 bytes"},
      {"user row in units of 4", [](TProjParamRec& r) { r.SizeC = 255; }, 8, "1020 bytes"},
      {"user row only over PDI", iface(0), 8, "none"},
      {"no user row", [](TProjParamRec& r) { r.HasSizeC = 0; }, 8, "none"},
      {"option off", [](TProjParamRec& r) { r.OptionFlag = 0; }, 9, "no"},
      {"option any non-zero", [](TProjParamRec& r) { r.OptionFlag = 0xFE; }, 9, "yes"},
      {"SPI", iface(0), 10, "SPI"},
      {"JTAG", iface(1), 10, "JTAG"},
      {"TPI", iface(3), 10, "TPI"},
      {"interface 4", iface(4), 10, "unknown "},
      {"interface 255", iface(255), 10, "unknown "},
      {"no protection", none, 11, "none", 0},
      {"all three", none, 11, "AES+PWD+QNT", 7},
      {"AES alone", none, 11, "AES", 1},
      {"PWDprot alone", none, 11, "AES", 2},
      {"Quantity alone", none, 11, "AES", 4},
      {"AES and Quantity", none, 11, "AES", 5},
      {"a byte beyond the set", none, 11, "AES", 0x0F},
      {"target powers itself", power(0x03FF), 12, "Target itself"},
      {"30 mA", power(0x0400 + 330), 12, "TESK  3.30V  max 30mA"},
      {"100 mA", power(0x0800 + 500), 12, "TESK  5.00V  max 100mA"},
      {"highest mode is 100 mA", power(0xFC00 + 330), 12, "TESK  3.30V  max 100mA"},
      {"hundredths", power(0x0400 + 5), 12, "TESK  0.05V  max 30mA"},
      {"highest voltage", power(0x0400 + 1023), 12, "TESK  10.23V  max 30mA"},
      {"midnight shows no time", fileDate(PackedDate(2024, 3, 5, 0, 0, 0)), 2, "2024.Mar.05"},
      {"two seconds past midnight", fileDate(PackedDate(1980, 1, 1, 0, 0, 2)), 2, "1980.Jan.01 00:00:02"},
      {"latest positive date", fileDate(PackedDate(2043, 12, 31, 23, 59, 58)), 2, "2043.Dec.31 23:59:58"},
      {"leap day", fileDate(PackedDate(2024, 2, 29, 9, 5, 4)), 2, "2024.Feb.29 09:05:04"},
      {"zero: now", fileDate(0), 2, "2031.Jul.09 08:05:03"},
      {"negative: now", fileDate(PackedDate(2100, 1, 1, 1, 1, 2)), 2, "2031.Jul.09 08:05:03"},
      {"no leap day in 2023: now", fileDate(PackedDate(2023, 2, 29, 9, 5, 4)), 2, "2031.Jul.09 08:05:03"},
      {"April 31: now", fileDate(PackedDate(2024, 4, 31, 9, 5, 4)), 2, "2031.Jul.09 08:05:03"},
      {"month 0: now", fileDate(PackedDate(2024, 0, 5, 9, 5, 4)), 2, "2031.Jul.09 08:05:03"},
      {"month 13: now", fileDate(PackedDate(2024, 13, 5, 9, 5, 4)), 2, "2031.Jul.09 08:05:03"},
      {"day 0: now", fileDate(PackedDate(2024, 3, 0, 9, 5, 4)), 2, "2031.Jul.09 08:05:03"},
      {"hour 24: now", fileDate(PackedDate(2024, 3, 5, 24, 0, 0)), 2, "2031.Jul.09 08:05:03"},
      {"minute 60: now", fileDate(PackedDate(2024, 3, 5, 9, 60, 0)), 2, "2031.Jul.09 08:05:03"},
      {"second 62: now", fileDate(PackedDate(2024, 3, 5, 9, 5, 62)), 2, "2031.Jul.09 08:05:03"},
      {"time only: now", fileDate(0x0000FFFF & PackedDate(2024, 3, 5, 9, 5, 4)), 2, "2031.Jul.09 08:05:03"},
  };
  for (const Case& c : cases) {
    TProjParamRec rec = KnownRecord();
    c.edit(rec);
    const std::vector<std::string> lines = Lines(BuildProjReport(rec, TAES{c.protection}, CLocaleFacts(), kNow));
    ASSERT_EQ(lines.size(), 12u) << c.what;
    EXPECT_EQ(lines[static_cast<size_t>(c.line - 1)], c.text) << c.what;
  }
}

TEST(ProjReport, NowAtMidnightShowsTheDateOnly) {
  TProjParamRec rec = KnownRecord();
  rec.FileDate = 0;
  const auto lines = Lines(BuildProjReport(rec, TAES{}, CLocaleFacts(), TDateParts{2031, 7, 9, 0, 0, 0}));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[1], "2031.Jul.09");
}

TEST(ProjReport, DayNumbers) {
  struct Case {
    int32_t date100;
    const char* text;
  };
  const Case cases[] = {
      {0, "1899.Dec.30"},           {99, "1899.Dec.30"},          {-50, "1899.Dec.30"},  // toward zero
      {-100, "1899.Dec.29"},        {-150, "1899.Dec.29"},        {200, "1900.Jan.01"},
      {6000, "1900.Feb.28"},        {6100, "1900.Mar.01"},        // 1900: no leap day
      {3512400, "1996.Feb.29"},     {3658500, "2000.Feb.29"},     {3658600, "2000.Mar.01"},
      {4535600, "2024.Mar.05"},     {7310900, "2100.Feb.28"},     {7311000, "2100.Mar.01"},
      {-3646300, "1800.Mar.01"},    {-7298800, "1700.Feb.28"},    {-7298700, "1700.Mar.01"},
      {-10951200, "1600.Feb.29"},   {-69359300, "0001.Jan.01"},   {295846500, "9999.Dec.31"},
  };
  for (const Case& c : cases) {
    TProjParamRec rec = KnownRecord();
    rec.Date100 = c.date100;
    const auto lines = Lines(BuildProjReport(rec, TAES{}, CLocaleFacts(), kNow));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[2], c.text) << c.date100;
  }
  // Every day of years 1 to 9999 against the standard library's calendar.
  using namespace std::chrono;
  for (int64_t n = -693593; n <= 2958465; ++n) {
    const year_month_day want{sys_days{days{n - 25569}}};
    const TDateParts got = DateFromDayNumber(n);
    if (got.year != static_cast<int>(want.year()) || got.month != static_cast<int>(unsigned(want.month())) ||
        got.day != static_cast<int>(unsigned(want.day()))) {
      ADD_FAILURE() << "day " << n << ": " << got.year << "-" << got.month << "-" << got.day;
      break;
    }
  }
}

TEST(ProjReport, TimePictures) {
  struct Case {
    const char* picture;
    int h, m, s;
    const char* text;
    const char* am = "AM";
    const char* pm = "PM";
  };
  const Case cases[] = {
      {"HH:mm:ss", 14, 7, 32, "14:07:32"},
      {"HH:mm:ss", 9, 5, 3, "09:05:03"},
      {"H:m:s", 9, 5, 3, "9:5:3"},
      {"h:mm:ss tt", 0, 0, 1, "12:00:01 AM"},
      {"h:mm:ss tt", 12, 30, 0, "12:30:00 PM"},
      {"hh:mm:ss tt", 23, 59, 59, "11:59:59 PM"},
      {"hh:mm t", 13, 5, 0, "01:05 P"},
      {"tt hh:mm:ss", 9, 5, 3, "\xE5\x8D\x88\xE5\x89\x8D 09:05:03", "\xE5\x8D\x88\xE5\x89\x8D", ""},
      {"HH:mm t", 13, 5, 0, "13:05 ", "AM", ""},
      {"HH'h'mm", 14, 7, 0, "14h07"},
      {"HH\"h\"mm", 14, 7, 0, "14h07"},
      {"HH 'x", 14, 7, 0, "14 x"},
      {"HH.mm.ss", 14, 7, 32, "14.07.32"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatLongTime(c.picture, c.am, c.pm, c.h, c.m, c.s), c.text) << c.picture;
}

TEST(ProjReport, PosixTimeFormatsAsPictures) {
  struct Case {
    const char* format;
    const char* ampm;
    const char* picture;
  };
  const Case cases[] = {
      {"%H:%M:%S", "", "HH:mm:ss"},
      {"%T", "", "HH:mm:ss"},
      {"%r", "%I:%M:%S %p", "hh:mm:ss tt"},
      {"%l:%M:%S %P", "", "h:mm:ss tt"},
      {"%k.%M", "", "H.mm"},
      {"%-H:%M", "", "H:mm"},
      {"%OH:%OM:%OS", "", "HH:mm:ss"},
      {"%Hh%M", "", "HH'h'mm"},
      {"%H:%M:%S %Z", "", "HH:mm:ss "},
      {"%r", "%r", ""},  // no endless expansion
      {"%H%", "", "HH"},
  };
  for (const Case& c : cases) EXPECT_EQ(TimePictureFromPosix(c.format, c.ampm), c.picture) << c.format;
  // The Japanese locale's format, through to the text.
  EXPECT_EQ(FormatLongTime(TimePictureFromPosix("%H\xE6\x99\x82%M\xE5\x88\x86%S\xE7\xA7\x92", ""), "", "", 14, 7, 32),
            "14\xE6\x99\x82" "07\xE5\x88\x86" "32\xE7\xA7\x92");
}

#ifndef _WIN32
TEST(ProjReport, PlatformFactsOfTheCLocale) {
  ASSERT_EQ(::setenv("LC_ALL", "C", 1), 0);
  const LocaleFacts& facts = UserLocale();
  EXPECT_EQ(facts.DecimalSeparator(), ".");
  EXPECT_EQ(facts.ShortMonthName(1), "Jan");
  EXPECT_EQ(facts.ShortMonthName(12), "Dec");
  EXPECT_EQ(facts.LongTimeFormat(), "HH:mm:ss");
  EXPECT_EQ(BuildProjReport(KnownRecord(), TAES{3}, facts, kNow), KnownReportC());
  ::unsetenv("LC_ALL");
}
#endif
