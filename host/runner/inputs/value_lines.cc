#include "host/runner/inputs/value_lines.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <exception>

#include "platform/text/cp949.h"
#include "platform/text/display_text.h"
#include "platform/text/utf8.h"

namespace veldrane::host {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Valid UTF-8 with at least one character beyond ASCII.
bool IsWideUtf8(const std::string& s) {
  if (platform::InvalidUtf8At(s) != std::string::npos) return false;
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// Input quoted in a message: control characters escaped.
std::string Quoted(const std::string& text) {
  return "'" + platform::DisplayInput(text) + "'";
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
  if (!std::isfinite(v)) return NumberResult::kNotFinite;
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
  if (number.empty()) return Error("expected 'TAG VALUE', found no value after " + Quoted(tag));
  if (i != text.size()) return Error("expected 'TAG VALUE', found more after the value");
  double value = 0;
  NumberResult result = ParseNumber(number, &value);
  if (result == NumberResult::kNotANumber) return Error(Quoted(number) + " is not a number");
  if (result == NumberResult::kOutOfRange) return Error(Quoted(number) + " is out of range");
  if (result == NumberResult::kNotFinite) {
    return Error(Quoted(number) + " is not a finite number: no meter can show it");
  }
  ValueLine line;
  line.kind = ValueLine::kValue;
  line.tag = tag;
  size_t bad = 0;
  try {
    if (IsWideUtf8(tag) && !platform::Utf8ToCp949Exact(tag.data(), tag.size(), &line.tag, &bad)) {
      return Error("tag " + Quoted(tag) + " has a character that code page 949 lacks");
    }
  } catch (const std::exception& e) {
    return Error("the tag " + Quoted(tag) + " cannot be converted: " + e.what());
  }
  line.value = value;
  return line;
}

}  // namespace veldrane::host
