#include "commands/ProjReport.h"

#include <cstdio>
#include <ctime>
#include <iterator>
#include <string_view>

namespace nurva {

namespace {

// 30 December 1899, the day the record's dates count from, in days before 1 January 1970.
constexpr int64_t kEpochTo1970 = 25569;

// Power modes of the record's Power word.
constexpr unsigned kPowerModeShift = 10;
constexpr uint16_t kVoltageMask = 0x03FF;
constexpr unsigned kPowerSelf = 0;
constexpr unsigned kPowerMax30mA = 1;

constexpr uint8_t kInterfacePDI = 2;
constexpr const char* kInterfaceNames[] = {"SPI", "JTAG", "PDI", "TPI"};

constexpr uint8_t kProtectionNone = 0x00;
constexpr uint8_t kProtectionAesPwd = 0x03;
constexpr uint8_t kProtectionAll = 0x07;

constexpr int32_t kHzPerMHz = 1000000;

constexpr const char* kEndOfLine = "\r\n";

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// A short string's text: its characters up to the length byte, the field's capacity and
// the first NUL (which would end the host's copy of the whole report).
template <size_t N>
std::string FieldText(const ShortString<N>& s) {
  std::string_view v = s.View();
  return std::string(v.substr(0, v.find('\0')));
}

std::string FrequencyText(int32_t hz, const std::string& sep) {
  if (hz < 1) hz = 0;
  if (hz < kHzPerMHz) return std::to_string(hz) + " Hz";
  std::string t = std::to_string(hz / kHzPerMHz);
  int32_t frac = hz % kHzPerMHz;
  if (frac != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06d", static_cast<int>(frac));
    std::string f = digits;
    f.erase(f.find_last_not_of('0') + 1);
    t += sep + f;
  }
  return t + " MHz";
}

std::string SizeText(bool present, int64_t bytes) { return present ? std::to_string(bytes) + " bytes" : "none"; }

std::string InterfaceText(uint8_t i) {
  return i < std::size(kInterfaceNames) ? kInterfaceNames[i] : "unknown ";
}

std::string ProtectionText(TAES p) {
  switch (p.bits) {
    case kProtectionNone: return "none";
    case kProtectionAll: return "AES+PWD+QNT";
    case kProtectionAesPwd: return "AES+PWD";
    default: return "AES";
  }
}

std::string PowerText(uint16_t power, const std::string& sep) {
  const unsigned mode = power >> kPowerModeShift;
  if (mode == kPowerSelf) return "Target itself";
  const unsigned cv = power & kVoltageMask;
  char volts[32];
  std::snprintf(volts, sizeof volts, "%u%s%02u", cv / 100, sep.c_str(), cv % 100);
  return std::string("TESK  ") + volts + "V " + (mode == kPowerMax30mA ? " max 30mA" : " max 100mA");
}

}  // namespace

bool DecodeFileDate(int32_t packed, TDateParts& out) {
  const uint32_t v = static_cast<uint32_t>(packed);
  const uint32_t date = v >> 16, time = v & 0xFFFF;
  TDateParts d;
  d.year = 1980 + static_cast<int>(date >> 9);
  d.month = static_cast<int>((date >> 5) & 0x0F);
  d.day = static_cast<int>(date & 0x1F);
  d.hour = static_cast<int>(time >> 11);
  d.minute = static_cast<int>((time >> 5) & 0x3F);
  d.second = static_cast<int>(time & 0x1F) * 2;
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month)) return false;
  if (d.hour > 23 || d.minute > 59 || d.second > 59) return false;
  out = d;
  return true;
}

TDateParts DateFromDayNumber(int64_t days) {
  // Days since 1 March of year 0, counted in 400-year eras of 146097 days.
  const int64_t z = days - kEpochTo1970 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  TDateParts d;
  d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
  return d;
}

std::string ReportDateText(const TDateParts& d, const LocaleFacts& facts) {
  char year[16], day[8];
  std::snprintf(year, sizeof year, "%04d", d.year);
  std::snprintf(day, sizeof day, "%02d", d.day);
  return std::string(year) + "." + facts.ShortMonthName(d.month) + "." + day;
}

TDateParts LocalNow() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  TDateParts d;
  d.year = tm.tm_year + 1900;
  d.month = tm.tm_mon + 1;
  d.day = tm.tm_mday;
  d.hour = tm.tm_hour;
  d.minute = tm.tm_min;
  d.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second shows as :59
  return d;
}

std::string BuildProjReport(const TProjParamRec& rec, TAES protection, const LocaleFacts& facts,
                            const TDateParts& now) {
  const std::string sep = facts.DecimalSeparator();
  TDateParts fileDate = now;
  const int32_t packed = rec.FileDate;
  if (packed <= 0 || !DecodeFileDate(packed, fileDate)) fileDate = now;
  std::string line2 = ReportDateText(fileDate, facts);
  if (fileDate.hour != 0 || fileDate.minute != 0 || fileDate.second != 0)
    line2 += " " + FormatLongTime(facts, fileDate.hour, fileDate.minute, fileDate.second);
  const int32_t date100 = rec.Date100;

  const std::string lines[] = {
      FieldText(rec.Name),
      line2,
      ReportDateText(DateFromDayNumber(date100 / 100), facts),
      FieldText(rec.Info),
      FrequencyText(rec.Frequency, sep),
      SizeText(rec.HasSizeA != 0, rec.SizeA),
      SizeText(rec.HasSizeB != 0, rec.SizeB),
      SizeText(rec.Interface == kInterfacePDI && rec.HasSizeC != 0, int64_t{rec.SizeC} * 4),
      rec.OptionFlag != 0 ? "yes" : "no",
      InterfaceText(rec.Interface),
      ProtectionText(protection),
      PowerText(rec.Power, sep),
  };
  std::string report;
  for (const std::string& l : lines) report += l + kEndOfLine;
  return report;
}

}  // namespace nurva
