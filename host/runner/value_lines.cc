#include "host/runner/value_lines.h"

#include <cerrno>
#include <cstdlib>

#include "platform/cp949.h"

namespace veldrane::host {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Valid UTF-8 with at least one character beyond ASCII.
bool IsWideUtf8(const std::string& s) {
  bool wide = false;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    wide |= n > 1;
    i += n;
  }
  return wide;
}

ValueLine Error(std::string message) {
  ValueLine line;
  line.kind = ValueLine::kError;
  line.error = std::move(message);
  return line;
}

}  // namespace

ValueLine ParseValueLine(const std::string& text) {
  if (text.size() > kMaxValueLine) return Error("line longer than 4096 characters");
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i == text.size() || text[i] == '#') return ValueLine{};
  size_t tag_start = i;
  while (i < text.size() && !IsBlank(text[i])) ++i;
  std::string tag = text.substr(tag_start, i - tag_start);
  while (i < text.size() && IsBlank(text[i])) ++i;
  size_t value_start = i;
  while (i < text.size() && !IsBlank(text[i])) ++i;
  std::string number = text.substr(value_start, i - value_start);
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (number.empty()) return Error("expected 'TAG VALUE', found no value after '" + tag + "'");
  if (i != text.size()) return Error("expected 'TAG VALUE', found more after the value");
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(number.c_str(), &end);
  if (end == number.c_str() || *end != '\0') {
    return Error("'" + number + "' is not a number");
  }
  if (errno == ERANGE && (value > 1 || value < -1)) {
    return Error("'" + number + "' is out of range");
  }
  ValueLine line;
  line.kind = ValueLine::kValue;
  try {
    line.tag = IsWideUtf8(tag) ? platform::Utf8ToCp949(tag) : tag;
  } catch (const std::exception& e) {
    return Error("the tag '" + tag + "' cannot be converted: " + e.what());
  }
  line.value = value;
  return line;
}

}  // namespace veldrane::host
