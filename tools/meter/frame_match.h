// Recognising one meter frame at the start of a run of bytes: the inverse of the frame builders.
//
// A frame's kind shows in its framing:
//   kind 0  STX '<' station-byte value CR
//   kind 1  '(' station ')' value CR                  station: two digits, or three from 100 on
//   kind 2  STX station-digits value 'f' ACK          first two station digits swapped, value
//                                                     right-aligned in at least six characters
//   kind 3  '(' station value CR  (no ')')            value right-aligned in at least six
//                                                     characters (seven with decimals)
//   kind 4  'M' 2 hex station, 4 hex value, ETX       value: 16 bits, two's complement
//   kind 5  '(' 3 digits ')' sign 4 digits CR         -1999 to 9999
//   kind 6  '(' 3 digits ')' sign 6 digits CR         -199999 to 999999
// where a value is the text of a number: an optional '-', an integer part without leading zeros,
// and optionally '.' and one or more decimals; without decimals, a 32-bit integer other than -0.
//
// Kinds 1, 3, 5 and 6 all run from '(' to CR. A value text holds only digits, '-', '.' and the
// padding spaces, never ')', so a ')' makes the frame kind 1, 5 or 6 and its absence kind 3; a
// sign right after ')' ('+' never starts a kind-1 value, and a kind-1 value has no leading zero)
// with exactly four or six digits makes it kind 5 or 6. Kinds 0 and 2 both open with STX: '<'
// follows in kind 0, a digit in kind 2. Stations are 0 to 255 as the builders write them
// (kind 0 sends the low 8 bits of any number).
//
// Two readings of the same bytes are possible in two places, and are settled thus:
//   - kinds 2 and 3 with a value text that fills or overflows its field and a station of 100 or
//     more: the station may have two or three digits ("(1231234567" is station 12 showing
//     31234567, or station 123 showing 1234567). The reading whose station is configured with
//     that kind wins; otherwise the two-digit station (stations below 100 are the usual case).
//   - kinds 5/6 and kind 1 for a station of 100 or more and a negative value with every digit
//     used ("(123)-1999" CR): kind 1 when the station is configured as kind 1, else kind 5 or 6.
//     Station and value are the same under both readings.
// A frame read one way when another was possible is marked ambiguous.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostlink/station_limits.h"

namespace veldrane::meter {

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kCr = 0x0D;

// No frame is longer than the builders' buffer allows (100 bytes with the zero byte).
inline constexpr size_t kMaxFrameLength = 99;

// The kind configured for each station number 0 to 255, or -1 when not known.
class StationKinds {
 public:
  StationKinds() { kinds_.fill(-1); }
  void Set(int32_t station, int32_t kind) {
    if (IsValidStationNumber(station) && (kind == -1 || IsValidKind(kind))) {
      kinds_[static_cast<size_t>(station)] = static_cast<int8_t>(kind);
    }
  }
  int32_t Get(int32_t station) const {
    return IsValidStationNumber(station) ? kinds_[static_cast<size_t>(station)] : -1;
  }
  bool Is(int32_t station, int32_t kind) const { return Get(station) == kind; }

 private:
  std::array<int8_t, kStationNumberCount> kinds_;
};

// One decoded frame: what the meter of that kind shows.
struct MeterFrame {
  int32_t kind = 0;
  int32_t station = 0;
  // The number as the meter shows it: the value text without padding for kinds 0 to 3 ("-12.5",
  // "0.13"), the signed decimal number for kinds 4 to 6 ("-1", "123").
  std::string text;
  double value = 0;
  uint32_t decimals = 0;       // digits after the point (always 0 for kinds 4 to 6)
  bool ambiguous = false;      // another reading of the bytes was possible (see above)
  std::vector<uint8_t> bytes;  // the frame as received, terminator included
};

enum class Match {
  kFrame,     // a whole frame starts here; its length is in `length`
  kNeedMore,  // the bytes so far may begin a frame
  kNoFrame,   // no frame starts at the first byte
};

// Looks for a frame at the start of `bytes`. On kFrame fills `frame` and `length`.
Match MatchFrame(const uint8_t* bytes, size_t size, const StationKinds& kinds, MeterFrame& frame,
                 size_t& length);

}  // namespace veldrane::meter
