// The grammar of the seven frames; the readings and their tie-breaks are in frame_match.h.
#include "tools/meter/frame_match.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

#include "comm/meter_kinds.h"

namespace veldrane::meter {
namespace {

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}
bool IsUpperHex(uint8_t c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F');
}
int HexDigit(uint8_t c) {
  return IsDigit(c) ? c - '0' : c - 'A' + 10;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDigit(static_cast<uint8_t>(c))) return false;
  }
  return true;
}

int32_t DigitsValue(std::string_view digits) {
  int32_t value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// Bytes that may appear between a frame's opening and its terminator.
bool IsValueByte(uint8_t c) {
  return IsDigit(c) || c == '-' || c == '.' || c == ' ';
}

struct Value {
  std::string text;
  double number = 0;
  uint32_t decimals = 0;
};

// A value text: '-'?, an integer part without leading zeros, optionally '.' and decimals.
std::optional<Value> ParseValue(std::string_view text) {
  std::string_view rest = text;
  if (!rest.empty() && rest.front() == '-') rest.remove_prefix(1);
  size_t point = rest.find('.');
  std::string_view whole = rest.substr(0, point);
  if (!AllDigits(whole) || (whole.size() > 1 && whole.front() == '0')) return std::nullopt;
  Value value;
  if (point != std::string_view::npos) {
    std::string_view fraction = rest.substr(point + 1);
    if (!AllDigits(fraction)) return std::nullopt;
    value.decimals = static_cast<uint32_t>(fraction.size());
  } else {
    // Without decimals the text is a 32-bit integer as "%d" writes it: no "-0", at most ten
    // digits, within range.
    if (rest.size() < text.size() && whole == "0") return std::nullopt;
    if (whole.size() > 10) return std::nullopt;
    int64_t number = 0;
    for (char c : whole) number = number * 10 + (c - '0');
    if (number > (rest.size() < text.size() ? 2147483648LL : 2147483647LL)) return std::nullopt;
  }
  value.text = std::string(text);
  // from_chars ignores the locale; a text of digits always parses (huge ones to infinity).
  std::from_chars(text.data(), text.data() + text.size(), value.number);
  return value;
}

// A value right-aligned with spaces in a field of `width` (kind 2), or `fixed_width` when it
// has decimals (kind 3): padded texts fill the field exactly, longer texts are written whole.
std::optional<Value> ParsePaddedValue(std::string_view field, size_t width, size_t fixed_width) {
  size_t spaces = field.find_first_not_of(' ');
  if (spaces == std::string_view::npos) return std::nullopt;
  std::optional<Value> value = ParseValue(field.substr(spaces));
  if (!value) return std::nullopt;
  size_t wanted = value->decimals > 0 ? fixed_width : width;
  if (spaces > 0 ? field.size() != wanted : field.size() < wanted) return std::nullopt;
  return value;
}

// The station as "%02d" writes it: two digits, or three without a leading zero from 100 on.
std::optional<int32_t> ParseStation(std::string_view digits) {
  if (!AllDigits(digits)) return std::nullopt;
  if (digits.size() == 2) return DigitsValue(digits);
  if (digits.size() == 3 && digits.front() != '0') return DigitsValue(digits);
  return std::nullopt;
}

MeterFrame MakeFrame(int32_t kind, int32_t station, Value value) {
  MeterFrame frame;
  frame.kind = kind;
  frame.station = station;
  frame.text = std::move(value.text);
  frame.value = value.number;
  frame.decimals = value.decimals;
  return frame;
}

// Kinds 2 and 3: the station digits run straight into the value field; try both lengths.
std::optional<MeterFrame> ParseStationAndField(int32_t kind, std::string_view station_digits3,
                                               std::string_view body, size_t width,
                                               size_t fixed_width, const StationKinds& kinds) {
  std::optional<MeterFrame> readings[2];
  for (size_t digits = 2; digits <= 3; ++digits) {
    if (body.size() < digits) continue;
    std::optional<int32_t> station = ParseStation(station_digits3.substr(0, digits));
    if (!station) continue;
    std::optional<Value> value = ParsePaddedValue(body.substr(digits), width, fixed_width);
    if (value) readings[digits - 2] = MakeFrame(kind, *station, std::move(*value));
  }
  if (readings[0] && readings[1]) {
    // The configuration knows the station; otherwise the two-digit station.
    bool three = kinds.Is(readings[1]->station, kind) && !kinds.Is(readings[0]->station, kind);
    MeterFrame& chosen = three ? *readings[1] : *readings[0];
    chosen.ambiguous = true;
    return chosen;
  }
  return readings[0] ? readings[0] : readings[1];
}

// Kinds 5 and 6: three station digits, ')', the sign, four or six digits of magnitude.
std::optional<MeterFrame> ParseSigned(std::string_view station, std::string_view rest) {
  if (station.size() != 3 || !AllDigits(station) || rest.empty()) return std::nullopt;
  char sign = rest.front();
  std::string_view digits = rest.substr(1);
  if ((sign != '+' && sign != '-') || !AllDigits(digits)) return std::nullopt;
  int32_t kind = digits.size() == 4 ? 5 : digits.size() == 6 ? 6 : -1;
  if (kind < 0) return std::nullopt;
  int32_t magnitude = DigitsValue(digits);
  if (sign == '-' && (magnitude == 0 || -magnitude < kMeterKinds[kind].lowest)) return std::nullopt;
  int32_t number = sign == '-' ? -magnitude : magnitude;
  Value value;
  value.text = std::to_string(number);
  value.number = number;
  return MakeFrame(kind, DigitsValue(station), std::move(value));
}

// The body of a frame between '(' and CR: kinds 1, 5, 6 (with ')') and 3 (without).
std::optional<MeterFrame> ParseParenBody(std::string_view body, const StationKinds& kinds) {
  size_t close = body.find(')');
  if (close == std::string_view::npos) {
    return ParseStationAndField(3, body.substr(0, 3), body, 6, 7, kinds);
  }
  std::string_view station = body.substr(0, close);
  std::string_view rest = body.substr(close + 1);
  std::optional<MeterFrame> signed_frame = ParseSigned(station, rest);
  std::optional<MeterFrame> kind1;
  if (std::optional<int32_t> number = ParseStation(station)) {
    if (std::optional<Value> value = ParseValue(rest)) kind1 = MakeFrame(1, *number, *value);
  }
  if (signed_frame && kind1) {
    MeterFrame& chosen = kinds.Is(kind1->station, 1) ? *kind1 : *signed_frame;
    chosen.ambiguous = true;
    return chosen;
  }
  return signed_frame ? signed_frame : kind1;
}

// Kind 2's body between STX and 'f': the first two station digits arrive swapped.
std::optional<MeterFrame> ParseKind2Body(std::string_view body, const StationKinds& kinds) {
  if (body.size() < 2) return std::nullopt;
  std::string digits{body[1], body[0]};
  if (body.size() > 2) digits += body[2];
  return ParseStationAndField(2, digits, body, 6, 6, kinds);
}

std::string_view View(const uint8_t* bytes, size_t begin, size_t end) {
  return {reinterpret_cast<const char*>(bytes) + begin, end - begin};
}

Match Finish(std::optional<MeterFrame> parsed, const uint8_t* bytes, size_t end, MeterFrame& frame,
             size_t& length) {
  if (!parsed) return Match::kNoFrame;
  frame = std::move(*parsed);
  frame.bytes.assign(bytes, bytes + end);
  length = end;
  return Match::kFrame;
}

// Looks for `terminator` from `from` on while every byte before it may belong to the frame's
// body. Its index; or nullopt with `result` kNeedMore when more bytes could still finish the
// frame, kNoFrame when none can.
template <typename Allowed>
std::optional<size_t> FindTerminator(const uint8_t* bytes, size_t size, size_t from,
                                     uint8_t terminator, Allowed allowed, Match& result) {
  for (size_t i = from; i < size; ++i) {
    if (bytes[i] == terminator) return i;
    if (!allowed(bytes[i]) || i + 1 >= kMaxFrameLength) {
      result = Match::kNoFrame;
      return std::nullopt;
    }
  }
  result = Match::kNeedMore;
  return std::nullopt;
}

Match MatchStx(const uint8_t* bytes, size_t size, const StationKinds& kinds, MeterFrame& frame,
               size_t& length) {
  if (size < 2) return Match::kNeedMore;
  Match result = Match::kNoFrame;
  if (bytes[1] == '<') {
    // Kind 0: the station byte at 2 may be anything, CR and STX included.
    if (size < 4) return Match::kNeedMore;
    std::optional<size_t> cr = FindTerminator(bytes, size, 3, kCr, IsValueByte, result);
    if (!cr) return result;
    std::optional<MeterFrame> parsed;
    if (std::optional<Value> value = ParseValue(View(bytes, 3, *cr))) {
      parsed = MakeFrame(0, bytes[2], std::move(*value));
    }
    return Finish(std::move(parsed), bytes, *cr + 1, frame, length);
  }
  if (!IsDigit(bytes[1])) return Match::kNoFrame;
  std::optional<size_t> f = FindTerminator(bytes, size, 1, 'f', IsValueByte, result);
  if (!f) return result;
  if (*f + 2 > kMaxFrameLength) return Match::kNoFrame;
  if (*f + 1 >= size) return Match::kNeedMore;
  if (bytes[*f + 1] != kAck) return Match::kNoFrame;
  return Finish(ParseKind2Body(View(bytes, 1, *f), kinds), bytes, *f + 2, frame, length);
}

Match MatchParen(const uint8_t* bytes, size_t size, const StationKinds& kinds, MeterFrame& frame,
                 size_t& length) {
  Match result = Match::kNoFrame;
  auto allowed = [](uint8_t c) { return IsValueByte(c) || c == ')' || c == '+'; };
  std::optional<size_t> cr = FindTerminator(bytes, size, 1, kCr, allowed, result);
  if (!cr) return result;
  return Finish(ParseParenBody(View(bytes, 1, *cr), kinds), bytes, *cr + 1, frame, length);
}

Match MatchKind4(const uint8_t* bytes, size_t size, MeterFrame& frame, size_t& length) {
  constexpr size_t kLength = 8;
  for (size_t i = 1; i < size && i < kLength; ++i) {
    bool ok = i < kLength - 1 ? IsUpperHex(bytes[i]) : bytes[i] == kEtx;
    if (!ok) return Match::kNoFrame;
  }
  if (size < kLength) return Match::kNeedMore;
  auto hex = [&](size_t from, size_t count) {
    int32_t value = 0;
    for (size_t i = from; i < from + count; ++i) value = value * 16 + HexDigit(bytes[i]);
    return value;
  };
  // The meter shows the 16 bits as two's complement.
  auto number = static_cast<int16_t>(static_cast<uint16_t>(hex(3, 4)));
  Value value;
  value.text = std::to_string(number);
  value.number = number;
  return Finish(MakeFrame(4, hex(1, 2), std::move(value)), bytes, kLength, frame, length);
}

}  // namespace

Match MatchFrame(const uint8_t* bytes, size_t size, const StationKinds& kinds, MeterFrame& frame,
                 size_t& length) {
  if (size == 0) return Match::kNeedMore;
  switch (bytes[0]) {
    case kStx:
      return MatchStx(bytes, size, kinds, frame, length);
    case '(':
      return MatchParen(bytes, size, kinds, frame, length);
    case 'M':
      return MatchKind4(bytes, size, frame, length);
    default:
      return Match::kNoFrame;
  }
}

}  // namespace veldrane::meter
