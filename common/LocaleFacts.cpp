#include "common/LocaleFacts.h"

#include <atomic>
#include <cctype>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#endif

namespace nurva {

namespace {

constexpr const char* kCMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

#ifdef _WIN32

// One item of the user's locale in the ANSI code page; `fallback` when it has none.
std::string UserLocaleInfo(LCTYPE item, const std::string& fallback) {
  wchar_t w[128] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, w, 128) <= 0) return fallback;
  char a[512] = {};
  int n = WideCharToMultiByte(CP_ACP, 0, w, -1, a, sizeof a, nullptr, nullptr);
  return n > 1 ? std::string(a) : fallback;
}

#else

// The locale the environment names for one category, as setlocale(category, "") would
// pick it, but as a locale object of our own that nothing else sees.
class EnvLocale {
 public:
  EnvLocale(int mask, const char* categoryVar) {
    const char* name = nullptr;
    for (const char* var : {"LC_ALL", categoryVar, "LANG"}) {
      const char* v = std::getenv(var);
      if (v && *v) {
        name = v;
        break;
      }
    }
    if (name) loc_ = newlocale(mask, name, static_cast<locale_t>(nullptr));
  }
  ~EnvLocale() {
    if (loc_) freelocale(loc_);
  }
  EnvLocale(const EnvLocale&) = delete;
  EnvLocale& operator=(const EnvLocale&) = delete;

  // The item, or `fallback` when the environment names no usable locale.
  std::string Item(nl_item item, const std::string& fallback) const {
    if (!loc_) return fallback;
    const char* s = nl_langinfo_l(item, loc_);
    return (s && *s) ? std::string(s) : fallback;
  }
  // Like Item, but an empty text is a valid answer.
  std::string ItemOrEmpty(nl_item item, const std::string& fallback) const {
    if (!loc_) return fallback;
    const char* s = nl_langinfo_l(item, loc_);
    return s ? std::string(s) : fallback;
  }

 private:
  locale_t loc_ = static_cast<locale_t>(nullptr);
};

#endif

class PlatformLocale final : public LocaleFacts {
 public:
  std::string DecimalSeparator() const override {
#ifdef _WIN32
    return UserLocaleInfo(LOCALE_SDECIMAL, ".");
#else
    return EnvLocale(LC_NUMERIC_MASK, "LC_NUMERIC").Item(RADIXCHAR, ".");
#endif
  }

  std::string ShortMonthName(int month) const override {
    const std::string c = LocaleFacts::ShortMonthName(month);
    if (month < 1 || month > 12) return c;
#ifdef _WIN32
    return UserLocaleInfo(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + (month - 1)), c);
#else
    return EnvLocale(LC_TIME_MASK, "LC_TIME").Item(static_cast<nl_item>(ABMON_1 + (month - 1)), c);
#endif
  }

  std::string LongTimeFormat() const override {
#ifdef _WIN32
    return UserLocaleInfo(LOCALE_STIMEFORMAT, LocaleFacts::LongTimeFormat());
#else
    EnvLocale loc(LC_TIME_MASK, "LC_TIME");
    const std::string format = loc.Item(T_FMT, "");
    if (format.empty()) return LocaleFacts::LongTimeFormat();
    const std::string picture = TimePictureFromPosix(format, loc.Item(T_FMT_AMPM, "%I:%M:%S %p"));
    return picture.empty() ? LocaleFacts::LongTimeFormat() : picture;
#endif
  }

  std::string TimeAMString() const override {
#ifdef _WIN32
    return UserLocaleInfo(LOCALE_S1159, "");
#else
    return EnvLocale(LC_TIME_MASK, "LC_TIME").ItemOrEmpty(AM_STR, LocaleFacts::TimeAMString());
#endif
  }

  std::string TimePMString() const override {
#ifdef _WIN32
    return UserLocaleInfo(LOCALE_S2359, "");
#else
    return EnvLocale(LC_TIME_MASK, "LC_TIME").ItemOrEmpty(PM_STR, LocaleFacts::TimePMString());
#endif
  }
};

const PlatformLocale kPlatform;
std::atomic<const LocaleFacts*> gReplacement{nullptr};

std::string Number(int v, bool twoDigits) {
  char t[16];
  std::snprintf(t, sizeof t, twoDigits ? "%02d" : "%d", v);
  return t;
}

// A picture literal for one character of a POSIX format.
void AppendLiteral(std::string& out, char c) {
  if (std::isalpha(static_cast<unsigned char>(c))) {
    out += '\'';
    out += c;
    out += '\'';
  } else if (c == '\'') {
    out += "\"'\"";
  } else if (c == '"') {
    out += "'\"'";
  } else {
    out += c;
  }
}

void AppendPosix(std::string& out, std::string_view format, std::string_view ampmFormat, int depth) {
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%') {
      AppendLiteral(out, c);
      continue;
    }
    if (++i >= format.size()) break;
    // glibc's flags and modifiers: '-' drops the padding, the others change nothing here.
    bool unpadded = false;
    while (i < format.size() && (format[i] == '-' || format[i] == '_' || format[i] == '0' || format[i] == '^' ||
                                 format[i] == '#' || format[i] == 'E' || format[i] == 'O')) {
      if (format[i] == '-') unpadded = true;
      ++i;
    }
    if (i >= format.size()) break;
    switch (format[i]) {
      case 'H': out += unpadded ? "H" : "HH"; break;
      case 'k': out += "H"; break;
      case 'I': out += unpadded ? "h" : "hh"; break;
      case 'l': out += "h"; break;
      case 'M': out += unpadded ? "m" : "mm"; break;
      case 'S': out += unpadded ? "s" : "ss"; break;
      case 'p':
      case 'P': out += "tt"; break;
      case 'T': out += "HH:mm:ss"; break;
      case 'R': out += "HH:mm"; break;
      case 'r':
        if (depth == 0) AppendPosix(out, ampmFormat, {}, 1);
        break;
      case 'n':
      case 't': out += ' '; break;
      case '%': out += '%'; break;
      default: break;  // not a part of a time of day
    }
  }
}

}  // namespace

std::string LocaleFacts::ShortMonthName(int month) const {
  return month >= 1 && month <= 12 ? kCMonths[month - 1] : std::string();
}

const LocaleFacts& UserLocale() {
  const LocaleFacts* r = gReplacement.load();
  return r ? *r : kPlatform;
}

void ReplaceUserLocale(const LocaleFacts* facts) { gReplacement.store(facts); }

std::string FormatLongTime(std::string_view picture, std::string_view am, std::string_view pm, int hour, int minute,
                           int second) {
  const std::string_view designator = hour < 12 ? am : pm;
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  std::string out;
  for (size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'' || c == '"') {
      const size_t end = picture.find(c, i + 1);
      out += picture.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1);
      i = end == std::string_view::npos ? picture.size() : end + 1;
      continue;
    }
    size_t n = 1;
    while (i + n < picture.size() && picture[i + n] == c) ++n;
    switch (c) {
      case 'H': out += Number(hour, n >= 2); break;
      case 'h': out += Number(hour12, n >= 2); break;
      case 'm': out += Number(minute, n >= 2); break;
      case 's': out += Number(second, n >= 2); break;
      case 't':
        if (n >= 2)
          out += designator;
        else if (!designator.empty())
          out += designator[0];
        break;
      default: out.append(n, c); break;
    }
    i += n;
  }
  return out;
}

std::string FormatLongTime(const LocaleFacts& facts, int hour, int minute, int second) {
  return FormatLongTime(facts.LongTimeFormat(), facts.TimeAMString(), facts.TimePMString(), hour, minute, second);
}

std::string TimePictureFromPosix(std::string_view format, std::string_view ampmFormat) {
  std::string out;
  AppendPosix(out, format, ampmFormat, 0);
  return out;
}

}  // namespace nurva
