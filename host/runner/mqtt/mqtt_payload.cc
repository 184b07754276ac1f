#include "host/runner/mqtt/mqtt_payload.h"

#include <nlohmann/json.hpp>

#include "host/runner/inputs/value_lines.h"

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
  // The parser refuses numbers beyond a double's range: a value here is finite.
  return Payload{true, member->get<double>(), ""};
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
    case NumberResult::kNotFinite:
      result = Fail("not a finite number");
      result.not_finite = true;
      return result;
    case NumberResult::kNotANumber:
      break;
  }
  return Fail("neither a number nor a JSON object with a numeric \"value\"");
}

}  // namespace veldrane::host
