#include "host/runner/mqtt_payload.h"

#include <nlohmann/json.hpp>

#include "host/runner/value_lines.h"

namespace veldrane::host {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

Payload Fail(std::string error) {
  return Payload{false, 0, std::move(error)};
}

Payload FromJson(std::string_view text) {
  nlohmann::json json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return Fail("not valid JSON");
  auto member = json.find("value");
  if (member == json.end() || !member->is_number()) {
    return Fail("a JSON object without a numeric \"value\"");
  }
  return Payload{true, member->get<double>(), ""};
}

// Length of the well-formed UTF-8 character at text[i] that is no control character, or 0.
size_t PrintableLength(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  unsigned char c = byte(0);
  if (c < 0x80) return c >= 0x20 && c != 0x7F ? 1 : 0;
  size_t n = c >= 0xC2 && c <= 0xDF   ? 2
             : c >= 0xE0 && c <= 0xEF ? 3
             : c >= 0xF0 && c <= 0xF4 ? 4
                                      : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
  }
  // No overlong forms, no surrogates, nothing past U+10FFFF, no C1 controls (U+0080 to U+009F).
  unsigned char second = byte(1);
  if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) ||
      (c == 0xF0 && second < 0x90) || (c == 0xF4 && second >= 0x90) ||
      (c == 0xC2 && second < 0xA0)) {
    return 0;
  }
  return n;
}

}  // namespace

Payload ParsePayload(std::string_view payload) {
  if (payload.size() > kMaxPayload) return Fail("longer than 4096 bytes");
  size_t begin = 0, end = payload.size();
  while (begin < end && IsSpace(payload[begin])) ++begin;
  while (end > begin && IsSpace(payload[end - 1])) --end;
  std::string_view text = payload.substr(begin, end - begin);
  if (text.empty()) return Fail("empty");
  if (text.front() == '{') return FromJson(text);
  Payload result;
  switch (ParseNumber(std::string(text), &result.value)) {
    case NumberResult::kNumber:
      result.ok = true;
      return result;
    case NumberResult::kOutOfRange:
      return Fail("a number out of range");
    case NumberResult::kNotANumber:
      break;
  }
  return Fail("neither a number nor a JSON object with a numeric \"value\"");
}

std::string Printable(std::string_view text, size_t max) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t i = 0;
  while (i < text.size() && i < max) {
    char c = text[i];
    size_t n = c == '\\' ? 0 : PrintableLength(text, i);
    if (n > 0 && i + n > max) break;  // not half a character
    if (n > 0) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      unsigned char b = static_cast<unsigned char>(c);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
    ++i;
  }
  if (i < text.size()) out += "...";
  return out;
}

}  // namespace veldrane::host
