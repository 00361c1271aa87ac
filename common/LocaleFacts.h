// The user's locale facts that result texts depend on. Read from the platform (Windows:
// the user locale; elsewhere: the process environment's locale) without touching any
// process-wide locale state. Tests may put their own facts in place.
#pragma once

#include <string>
#include <string_view>

namespace nurva {

class LocaleFacts {
 public:
  virtual ~LocaleFacts() = default;
  virtual std::string DecimalSeparator() const = 0;
  // The abbreviated name of `month` (1 to 12). The defaults are those of the C locale.
  virtual std::string ShortMonthName(int month) const;
  // The long time format as a picture (see FormatLongTime).
  virtual std::string LongTimeFormat() const { return "HH:mm:ss"; }
  // Designators of the hours before and after noon.
  virtual std::string TimeAMString() const { return "AM"; }
  virtual std::string TimePMString() const { return "PM"; }
};

// The facts in force: the replacement when one is set, else the platform's.
const LocaleFacts& UserLocale();
// Puts `facts` in place of the platform's (nullptr: the platform's again). The caller
// keeps `facts` alive while it is in place.
void ReplaceUserLocale(const LocaleFacts* facts);

// A time of day written after `picture`, the notation of the Windows time formats:
// H and HH the hour 0-23, h and hh the hour 1-12, m and mm the minute, s and ss the
// second (the doubled letter with a leading zero), t the first character of the AM or
// PM designator and tt all of it; text in single or double quotes stands for itself, as
// does every other character.
std::string FormatLongTime(std::string_view picture, std::string_view am, std::string_view pm, int hour, int minute,
                           int second);
// The time format `facts` give, applied.
std::string FormatLongTime(const LocaleFacts& facts, int hour, int minute, int second);

// A POSIX time format (strftime conversions, as nl_langinfo(T_FMT) gives it) as a
// picture of the notation above; %r stands for `ampmFormat` (T_FMT_AMPM). Conversions
// that belong to no time of day are left out.
std::string TimePictureFromPosix(std::string_view format, std::string_view ampmFormat);

}  // namespace nurva
