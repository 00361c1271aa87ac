// Whole-string number parsing for option values: decimal, or hexadecimal after 0x.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

namespace nurva::sim {

template <class T>
bool ParseNumber(std::string_view s, T& v) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  return ec == std::errc() && p == s.data() + s.size();
}

}  // namespace nurva::sim
