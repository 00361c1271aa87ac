#include "common/LocaleFacts.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#endif

namespace nurva {

namespace {

class PlatformLocale final : public LocaleFacts {
 public:
  std::string DecimalSeparator() const override {
#ifdef _WIN32
    wchar_t w[8] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, w, 8) <= 0) return ".";
    char a[16] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, w, -1, a, sizeof a, nullptr, nullptr);
    return n > 1 ? std::string(a) : std::string(".");
#else
    // The locale the environment names for numbers, as setlocale(LC_NUMERIC, "") would
    // pick it, but looked up on a locale object of our own.
    const char* name = nullptr;
    for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
      const char* v = std::getenv(var);
      if (v && *v) {
        name = v;
        break;
      }
    }
    if (!name) return ".";
    locale_t loc = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
    if (!loc) return ".";
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    std::string sep = (radix && *radix) ? radix : ".";
    freelocale(loc);
    return sep;
#endif
  }
};

const PlatformLocale kPlatform;
std::atomic<const LocaleFacts*> gReplacement{nullptr};

}  // namespace

const LocaleFacts& UserLocale() {
  const LocaleFacts* r = gReplacement.load();
  return r ? *r : kPlatform;
}

void ReplaceUserLocale(const LocaleFacts* facts) { gReplacement.store(facts); }

}  // namespace nurva
