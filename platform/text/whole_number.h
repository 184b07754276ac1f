// A whole number as the options write one: decimal digits only, no sign, no space, within the
// bounds the option allows. Ports, address prefixes and counts all read numbers this way.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

namespace veldrane::platform {

// True, with *value set, when `text` is one or more digits whose number lies in [low, high]. A
// number too large to hold is refused like any other above `high`; *value is then untouched.
inline bool ParseWholeNumber(std::string_view text, long low, long high, long* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  long v = 0;
  const char* last = text.data() + text.size();
  auto [end, ec] = std::from_chars(text.data(), last, v);
  if (ec != std::errc() || end != last || v < low || v > high) return false;
  *value = v;
  return true;
}

}  // namespace veldrane::platform
