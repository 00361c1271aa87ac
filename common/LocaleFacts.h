// The user's locale facts that result texts depend on. Read from the platform (Windows:
// the user locale; elsewhere: the process environment's locale) without touching any
// process-wide locale state. Tests may put their own facts in place.
#pragma once

#include <string>

namespace nurva {

class LocaleFacts {
 public:
  virtual ~LocaleFacts() = default;
  virtual std::string DecimalSeparator() const = 0;
};

// The facts in force: the replacement when one is set, else the platform's.
const LocaleFacts& UserLocale();
// Puts `facts` in place of the platform's (nullptr: the platform's again). The caller
// keeps `facts` alive while it is in place.
void ReplaceUserLocale(const LocaleFacts* facts);

}  // namespace nurva
