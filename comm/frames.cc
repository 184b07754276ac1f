// The seven frame builders. Each assembles its frame in a local buffer and copies it out only when
// it fits the caller's buffer with its zero byte, so a failed build leaves the buffer untouched.
#include "comm/frames.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "comm/meter_kinds.h"
#include "config/station_info.h"

namespace veldrane {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kCr = 0x0D;

// The constant that moves a value away from zero before the cut: kind 0 only lifts values a hair
// below a whole number, the others round half away from zero.
constexpr double kKind0Nudge = 1e-7;
constexpr double kRoundingNudge = 0.5;

// The value as a signed 32-bit integer: moved away from zero by `nudge`, cut toward zero to a
// 64-bit integer, low 32 bits kept. What a 64-bit cut cannot hold (magnitudes of 2^63 and more,
// infinities, NaN) gives 0.
int32_t FrameInteger(double value, double nudge) {
  double moved = value >= 0 ? value + nudge : value - nudge;
  if (!(std::fabs(moved) < 9223372036854775808.0)) return 0;
  auto cut = static_cast<uint64_t>(static_cast<int64_t>(moved));
  return static_cast<int32_t>(static_cast<uint32_t>(cut));
}

// An unsigned integer of up to kLimbs*32 bits: just what exact fixed-point text needs.
class BigUnsigned {
 public:
  explicit BigUnsigned(uint64_t value) {
    limbs_[0] = static_cast<uint32_t>(value);
    limbs_[1] = static_cast<uint32_t>(value >> 32);
    size_ = 2;
    Trim();
  }
  bool overflow() const { return overflow_; }
  bool IsZero() const { return size_ == 0; }

  void Multiply(uint32_t factor) {
    uint64_t carry = 0;
    for (size_t i = 0; i < size_; ++i) {
      uint64_t product = uint64_t{limbs_[i]} * factor + carry;
      limbs_[i] = static_cast<uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) Push(static_cast<uint32_t>(carry));
  }
  void ShiftLeft(uint32_t bits) {
    for (; bits >= 32; bits -= 32) {
      if (IsZero()) return;
      Push(0);
      for (size_t i = size_ - 1; i > 0; --i) limbs_[i] = limbs_[i - 1];
      limbs_[0] = 0;
    }
    if (bits > 0) Multiply(uint32_t{1} << bits);
  }
  void ShiftRight(uint32_t bits) {
    size_t whole = bits / 32;
    uint32_t part = bits % 32;
    if (whole >= size_) {
      size_ = 0;
      return;
    }
    for (size_t i = 0; i + whole < size_; ++i) {
      uint64_t low = limbs_[i + whole];
      uint64_t high = i + whole + 1 < size_ ? limbs_[i + whole + 1] : 0;
      limbs_[i] = static_cast<uint32_t>(((high << 32) | low) >> part);
    }
    size_ -= whole;
    Trim();
  }
  bool Bit(uint32_t bit) const {
    size_t limb = bit / 32;
    return limb < size_ && ((limbs_[limb] >> (bit % 32)) & 1) != 0;
  }
  void Increment() {
    for (size_t i = 0; i < size_; ++i) {
      if (++limbs_[i] != 0) return;
    }
    Push(1);
  }
  // Divides by `divisor` and returns the remainder.
  uint32_t Divide(uint32_t divisor) {
    uint64_t remainder = 0;
    for (size_t i = size_; i-- > 0;) {
      uint64_t current = (remainder << 32) | limbs_[i];
      limbs_[i] = static_cast<uint32_t>(current / divisor);
      remainder = current % divisor;
    }
    Trim();
    return static_cast<uint32_t>(remainder);
  }

 private:
  // Enough for |value| below 1e100 with up to 100 decimals: 10^200 needs 665 bits.
  static constexpr size_t kLimbs = 24;

  void Push(uint32_t limb) {
    if (size_ == kLimbs) {
      overflow_ = true;
      return;
    }
    limbs_[size_++] = limb;
  }
  void Trim() {
    while (size_ > 0 && limbs_[size_ - 1] == 0) --size_;
  }

  uint32_t limbs_[kLimbs] = {};
  size_t size_ = 0;
  bool overflow_ = false;
};

// Fixed-point text of `value` with `decimals` (1 or more) places, rounded on the double's exact
// binary value with a tie going away from zero (printf rounds exact ties to even, which the
// meters' text does not). Writes the text and a zero byte to `out`; returns its length, or -1
// for a value without such text (NaN, infinities) or one that does not fit `capacity`.
int FixedPointText(double value, uint32_t decimals, char* out, size_t capacity) {
  if (!std::isfinite(value) || decimals >= capacity) return -1;
  double magnitude = std::fabs(value);
  // The integer part alone would have more than 100 digits.
  if (magnitude >= 1e100) return -1;

  int exponent = 0;
  double fraction = std::frexp(magnitude, &exponent);  // magnitude = fraction * 2^exponent
  auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  exponent -= 53;  // magnitude = mantissa * 2^exponent, exactly

  // scaled = magnitude * 10^decimals, rounded half up on its exact value.
  BigUnsigned scaled(mantissa);
  for (uint32_t i = 0; i < decimals; ++i) scaled.Multiply(10);
  if (exponent >= 0) {
    scaled.ShiftLeft(static_cast<uint32_t>(exponent));
  } else {
    auto shift = static_cast<uint32_t>(-exponent);
    bool round_up = scaled.Bit(shift - 1);  // the first dropped bit is worth exactly one half
    scaled.ShiftRight(shift);
    if (round_up) scaled.Increment();
  }
  if (scaled.overflow()) return -1;

  // Digits, least significant first, at least one before the point.
  char digits[256];
  size_t count = 0;
  while ((!scaled.IsZero() || count <= decimals) && count < sizeof digits) {
    digits[count++] = static_cast<char>('0' + scaled.Divide(10));
  }
  if (!scaled.IsZero()) return -1;

  size_t length = (std::signbit(value) ? 1 : 0) + count + 1;
  if (length + 1 > capacity) return -1;
  size_t at = 0;
  if (std::signbit(value)) out[at++] = '-';
  for (size_t i = count; i-- > 0;) {
    out[at++] = digits[i];
    if (i == decimals) out[at++] = '.';
  }
  out[at] = '\0';
  return static_cast<int>(at);
}

// Bytes of one frame under construction; once anything does not fit, the frame is lost.
class FrameBytes {
 public:
  void Byte(uint8_t byte) {
    if (size_ >= kFrameBufferSize) {
      overflow_ = true;
      return;
    }
    bytes_[size_++] = byte;
  }
  void Text(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) Byte(static_cast<uint8_t>(text[i]));
  }
  __attribute__((format(printf, 2, 3))) void Printf(const char* format, ...) {
    char text[kFrameBufferSize + 1];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0 || static_cast<size_t>(length) >= sizeof text) {
      overflow_ = true;
      return;
    }
    Text(text, static_cast<size_t>(length));
  }
  void Swap(size_t a, size_t b) {
    if (a < size_ && b < size_) std::swap(bytes_[a], bytes_[b]);
  }
  void Set(size_t at, uint8_t byte) {
    if (at < size_) bytes_[at] = byte;
  }
  // The frame and its zero byte into the caller's buffer; -1 when they do not fit.
  int CopyTo(uint8_t (&buffer)[kFrameBufferSize]) const {
    if (overflow_ || size_ + 1 > kFrameBufferSize) return -1;
    std::memcpy(buffer, bytes_, size_);
    buffer[size_] = 0;
    return static_cast<int>(size_);
  }

 private:
  uint8_t bytes_[kFrameBufferSize] = {};
  size_t size_ = 0;
  bool overflow_ = false;
};

// The value text of kinds 0 to 3 right-aligned in `width` characters (0: no field). False when
// the value has no text that fits a frame.
bool AppendValueText(FrameBytes& frame, double value, uint32_t decimals, double nudge,
                     size_t width) {
  char text[kFrameBufferSize];
  int length;
  if (decimals == 0) {
    length = std::snprintf(text, sizeof text, "%d", FrameInteger(value, nudge));
  } else {
    length = FixedPointText(value, decimals, text, sizeof text);
  }
  if (length < 0) return false;
  for (size_t pad = static_cast<size_t>(length); pad < width; ++pad) frame.Byte(' ');
  frame.Text(text, static_cast<size_t>(length));
  return true;
}

// Kind 3's field: six characters for an integer, seven with decimals.
size_t Kind3Width(uint32_t decimals) {
  return decimals == 0 ? 6 : 7;
}

// Kinds 5 and 6: "(NNN)" then the sign at position 5 and the magnitude in the digits of
// `format`, for a value within the kind's range.
int BuildSignedFrame(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize],
                     const MeterKind& kind, const char* format) {
  int32_t value = FrameInteger(station.value.load(), kRoundingNudge);
  if (value < kind.lowest || value > kind.highest) return -1;
  FrameBytes frame;
  frame.Printf(format, station.number, value < 0 ? -value : value);
  frame.Set(5, value < 0 ? '-' : '+');
  return frame.CopyTo(buffer);
}

}  // namespace

int BuildFrameKind0(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  FrameBytes frame;
  frame.Byte(kStx);
  frame.Byte('<');
  frame.Byte(static_cast<uint8_t>(station.number & 0xFF));
  if (!AppendValueText(frame, station.value.load(), station.decimals, kKind0Nudge, 0)) return -1;
  frame.Byte(kCr);
  return frame.CopyTo(buffer);
}

int BuildFrameKind1(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  FrameBytes frame;
  frame.Printf("(%02d)", station.number);
  if (!AppendValueText(frame, station.value.load(), station.decimals, kRoundingNudge, 0)) {
    return -1;
  }
  frame.Byte(kCr);
  return frame.CopyTo(buffer);
}

int BuildFrameKind2(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  FrameBytes frame;
  frame.Byte(kStx);
  frame.Printf("%02d", station.number);
  if (!AppendValueText(frame, station.value.load(), station.decimals, kRoundingNudge, 6)) {
    return -1;
  }
  frame.Byte('f');
  frame.Byte(kAck);
  // The meter expects the first two station digits in reverse order.
  frame.Swap(1, 2);
  return frame.CopyTo(buffer);
}

int BuildFrameKind3(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  FrameBytes frame;
  // No closing parenthesis: this meter's frame has none.
  frame.Printf("(%02d", station.number);
  if (!AppendValueText(frame, station.value.load(), station.decimals, kRoundingNudge,
                       Kind3Width(station.decimals))) {
    return -1;
  }
  frame.Byte(kCr);
  return frame.CopyTo(buffer);
}

int BuildFrameKind4(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  uint32_t value16 = static_cast<uint32_t>(FrameInteger(station.value.load(), kRoundingNudge));
  FrameBytes frame;
  frame.Printf("M%02X%04X", static_cast<unsigned>(station.number), value16 & 0xFFFFu);
  frame.Byte(kEtx);
  return frame.CopyTo(buffer);
}

int BuildFrameKind5(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  return BuildSignedFrame(station, buffer, kMeterKinds[5], "(%03d) %04d\r");
}

int BuildFrameKind6(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  return BuildSignedFrame(station, buffer, kMeterKinds[6], "(%03d) %06d\r");
}

int BuildFrame(const CStationInfo& station, uint8_t (&buffer)[kFrameBufferSize]) {
  const MeterKind* kind = FindMeterKind(station.kind);
  return kind ? kind->build(station, buffer) : -1;
}

}  // namespace veldrane
