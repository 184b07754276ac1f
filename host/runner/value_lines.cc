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

NumberResult ParseNumber(const std::string& text, double* value) {
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) return NumberResult::kNotANumber;
  // Underflow is a tiny value, overflow an error.
  if (errno == ERANGE && (v > 1 || v < -1)) return NumberResult::kOutOfRange;
  *value = v;
  return NumberResult::kNumber;
}

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
  double value = 0;
  NumberResult result = ParseNumber(number, &value);
  if (result == NumberResult::kNotANumber) return Error("'" + number + "' is not a number");
  if (result == NumberResult::kOutOfRange) return Error("'" + number + "' is out of range");
  ValueLine line;
  line.kind = ValueLine::kValue;
  line.tag = IsWideUtf8(tag) ? platform::Utf8ToCp949(tag) : tag;
  line.value = value;
  return line;
}

}  // namespace veldrane::host
