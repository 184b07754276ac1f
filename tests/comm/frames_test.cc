// The frames of the seven meter kinds, byte for byte: the acceptance table, the edge cases of
// each kind, the rounding of the fixed-point text and what a builder does with values it cannot
// show.
#include "comm/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "config/station_info.h"
#include "hostlink/station_limits.h"

namespace veldrane {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// "02 3C 01" -> bytes.
std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 3) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Text frames written out with their control bytes as escapes.
std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

struct Built {
  int length;
  std::vector<uint8_t> frame;  // the returned length's bytes
  bool zero_after;             // the byte after the frame is 0
};

Built Build(int32_t kind, int32_t number, uint32_t decimals, double value) {
  CStationInfo station;
  station.kind = kind;
  station.number = number;
  station.decimals = decimals;
  station.value.store(value);
  uint8_t buffer[kFrameBufferSize];
  std::fill(std::begin(buffer), std::end(buffer), 0xAA);
  int length = BuildFrame(station, buffer);
  if (length < 0) return {length, {}, false};
  return {length, {buffer, buffer + length}, buffer[length] == 0};
}

struct FrameCase {
  int32_t kind;
  int32_t number;
  uint32_t decimals;
  double value;
  std::vector<uint8_t> expected;  // empty: the builder fails with -1
};

void PrintTo(const FrameCase& c, std::ostream* os) {
  char text[96];
  std::snprintf(text, sizeof text, "kind %d, station %d, decimals %u, value %.17g", c.kind,
                c.number, c.decimals, c.value);
  *os << text;
}

class FrameTable : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameTable, BuildsTheExactFrame) {
  const FrameCase& c = GetParam();
  Built built = Build(c.kind, c.number, c.decimals, c.value);
  if (c.expected.empty()) {
    EXPECT_EQ(built.length, -1);
    return;
  }
  ASSERT_EQ(built.length, static_cast<int>(c.expected.size()));
  EXPECT_EQ(built.frame, c.expected);
  EXPECT_TRUE(built.zero_after);
}

// Station 1 with 12.5/1, 123/0, 12.5/0 and -12.5/0 for every kind.
INSTANTIATE_TEST_SUITE_P(
    AcceptanceTable, FrameTable,
    ::testing::Values(FrameCase{0, 1, 1, 12.5, Hex("02 3C 01 31 32 2E 35 0D")},
                      FrameCase{0, 1, 0, 123, Hex("02 3C 01 31 32 33 0D")},
                      FrameCase{0, 1, 0, 12.5, Hex("02 3C 01 31 32 0D")},
                      FrameCase{0, 1, 0, -12.5, Hex("02 3C 01 2D 31 32 0D")},
                      FrameCase{1, 1, 1, 12.5, Hex("28 30 31 29 31 32 2E 35 0D")},
                      FrameCase{1, 1, 0, 123, Hex("28 30 31 29 31 32 33 0D")},
                      FrameCase{1, 1, 0, 12.5, Hex("28 30 31 29 31 33 0D")},
                      FrameCase{1, 1, 0, -12.5, Hex("28 30 31 29 2D 31 33 0D")},
                      FrameCase{2, 1, 1, 12.5, Hex("02 31 30 20 20 31 32 2E 35 66 06")},
                      FrameCase{2, 1, 0, 123, Hex("02 31 30 20 20 20 31 32 33 66 06")},
                      FrameCase{2, 1, 0, 12.5, Hex("02 31 30 20 20 20 20 31 33 66 06")},
                      FrameCase{2, 1, 0, -12.5, Hex("02 31 30 20 20 20 2D 31 33 66 06")},
                      FrameCase{3, 1, 1, 12.5, Hex("28 30 31 20 20 20 31 32 2E 35 0D")},
                      FrameCase{3, 1, 0, 123, Hex("28 30 31 20 20 20 31 32 33 0D")},
                      FrameCase{3, 1, 0, 12.5, Hex("28 30 31 20 20 20 20 31 33 0D")},
                      FrameCase{3, 1, 0, -12.5, Hex("28 30 31 20 20 20 2D 31 33 0D")},
                      FrameCase{4, 1, 1, 12.5, Hex("4D 30 31 30 30 30 44 03")},
                      FrameCase{4, 1, 0, 123, Hex("4D 30 31 30 30 37 42 03")},
                      FrameCase{4, 1, 0, 12.5, Hex("4D 30 31 30 30 30 44 03")},
                      FrameCase{4, 1, 0, -12.5, Hex("4D 30 31 46 46 46 33 03")},
                      FrameCase{5, 1, 1, 12.5, Hex("28 30 30 31 29 2B 30 30 31 33 0D")},
                      FrameCase{5, 1, 0, 123, Hex("28 30 30 31 29 2B 30 31 32 33 0D")},
                      FrameCase{5, 1, 0, 12.5, Hex("28 30 30 31 29 2B 30 30 31 33 0D")},
                      FrameCase{5, 1, 0, -12.5, Hex("28 30 30 31 29 2D 30 30 31 33 0D")},
                      FrameCase{6, 1, 1, 12.5, Hex("28 30 30 31 29 2B 30 30 30 30 31 33 0D")},
                      FrameCase{6, 1, 0, 123, Hex("28 30 30 31 29 2B 30 30 30 31 32 33 0D")},
                      FrameCase{6, 1, 0, 12.5, Hex("28 30 30 31 29 2B 30 30 30 30 31 33 0D")},
                      FrameCase{6, 1, 0, -12.5, Hex("28 30 30 31 29 2D 30 30 30 30 31 33 0D")}));

INSTANTIATE_TEST_SUITE_P(
    StationNumbers, FrameTable,
    ::testing::Values(
        // Kind 0 sends the station as one raw byte, a zero byte too, and counts its length.
        FrameCase{0, 0, 0, 7, Hex("02 3C 00 37 0D")},
        FrameCase{0, 255, 0, 7, Hex("02 3C FF 37 0D")},
        FrameCase{0, 258, 0, 7, Hex("02 3C 02 37 0D")},
        FrameCase{1, 100, 1, 12.5, Bytes("(100)12.5\r")}, FrameCase{1, 0, 0, 7, Bytes("(00)7\r")},
        FrameCase{3, 100, 1, 12.5, Bytes("(100   12.5\r")},
        FrameCase{3, 255, 0, 7, Bytes("(255     7\r")},
        // Kind 2 swaps the first two station digits.
        FrameCase{2, 12, 0, 7,
                  Bytes("\x02"
                        "21     7f\x06")},
        FrameCase{2, 123, 0, 7,
                  Bytes("\x02"
                        "213     7f\x06")},
        FrameCase{2, 0, 0, 7,
                  Bytes("\x02"
                        "00     7f\x06")},
        FrameCase{4, 255, 0, 7, Bytes("MFF0007\x03")}, FrameCase{4, 0, 0, 7, Bytes("M000007\x03")},
        FrameCase{5, 255, 0, 7, Bytes("(255)+0007\r")},
        FrameCase{6, 0, 0, 7, Bytes("(000)+000007\r")}));

INSTANTIATE_TEST_SUITE_P(
    RangesAndWraps, FrameTable,
    ::testing::Values(
        // Kind 0 lifts only a value a hair below a whole number.
        FrameCase{0, 1, 0, 12.99999995, Hex("02 3C 01 31 33 0D")},
        FrameCase{0, 1, 0, 12.9999998, Hex("02 3C 01 31 32 0D")},
        FrameCase{0, 1, 0, -12.99999995, Hex("02 3C 01 2D 31 33 0D")},
        // Longer texts are written whole.
        FrameCase{2, 1, 2, 1234.56,
                  Bytes("\x02"
                        "101234.56f\x06")},
        FrameCase{3, 1, 1, -12345.5, Bytes("(01-12345.5\r")},
        FrameCase{3, 1, 0, -1234567, Bytes("(01-1234567\r")},
        FrameCase{5, 1, 0, 9999.4, Bytes("(001)+9999\r")}, FrameCase{5, 1, 0, 9999.5, {}},
        FrameCase{5, 1, 0, -1999, Bytes("(001)-1999\r")}, FrameCase{5, 1, 0, -1999.5, {}},
        FrameCase{5, 1, 0, -0.4, Bytes("(001)+0000\r")},
        FrameCase{6, 1, 0, 999999, Bytes("(001)+999999\r")}, FrameCase{6, 1, 0, 1000000, {}},
        FrameCase{6, 1, 0, -199999, Bytes("(001)-199999\r")}, FrameCase{6, 1, 0, -200000, {}},
        FrameCase{4, 1, 0, 65535, Bytes("M01FFFF\x03")},
        FrameCase{4, 1, 0, 65536, Bytes("M010000\x03")},
        FrameCase{4, 1, 0, 70000, Bytes("M011170\x03")},
        FrameCase{4, 1, 0, -1, Bytes("M01FFFF\x03")},
        FrameCase{4, 1, 0, -32768, Bytes("M018000\x03")},
        // Decimals change nothing on kinds 4 to 6.
        FrameCase{4, 1, 3, 123, Bytes("M01007B\x03")},
        FrameCase{5, 1, 3, 123, Bytes("(001)+0123\r")},
        FrameCase{6, 1, 7, 123, Bytes("(001)+000123\r")},
        // The 64-bit cut keeps the low 32 bits: 2^32 + 5 is 5, 2^31 wraps to the lowest int.
        FrameCase{0, 1, 0, 4294967301.0, Hex("02 3C 01 35 0D")},
        FrameCase{1, 1, 0, 4294967301.0, Bytes("(01)5\r")},
        FrameCase{2, 1, 0, 4294967301.0,
                  Bytes("\x02"
                        "10     5f\x06")},
        FrameCase{3, 1, 0, 4294967301.0, Bytes("(01     5\r")},
        FrameCase{5, 1, 0, 4294967301.0, Bytes("(001)+0005\r")},
        FrameCase{6, 1, 0, 4294967301.0, Bytes("(001)+000005\r")},
        FrameCase{1, 1, 0, 2147483648.0, Bytes("(01)-2147483648\r")},
        FrameCase{1, 1, 0, -2147483649.0, Bytes("(01)2147483647\r")},
        // The largest double below 2^63 still cuts; 2^63 and beyond, infinities and NaN give 0.
        FrameCase{1, 1, 0, 9223372036854774784.0, Bytes("(01)-1024\r")},
        FrameCase{1, 1, 0, 9223372036854775808.0, Bytes("(01)0\r")},
        FrameCase{1, 1, 0, -9223372036854775808.0, Bytes("(01)0\r")},
        FrameCase{1, 1, 0, 1e300, Bytes("(01)0\r")}, FrameCase{1, 1, 0, kInf, Bytes("(01)0\r")},
        FrameCase{0, 1, 0, -kInf, Hex("02 3C 01 30 0D")},
        FrameCase{3, 1, 0, kNaN, Bytes("(01     0\r")},
        FrameCase{4, 1, 0, kNaN, Bytes("M010000\x03")},
        FrameCase{5, 1, 0, kInf, Bytes("(001)+0000\r")},
        FrameCase{6, 1, 0, -kInf, Bytes("(001)+000000\r")}));

INSTANTIATE_TEST_SUITE_P(
    Rounding, FrameTable,
    ::testing::Values(
        // A tie on the first dropped digit goes away from zero, at every decimals count.
        FrameCase{1, 1, 1, 12.25, Bytes("(01)12.3\r")},
        FrameCase{1, 1, 2, 0.125, Bytes("(01)0.13\r")},
        FrameCase{1, 1, 1, -12.25, Bytes("(01)-12.3\r")},
        FrameCase{1, 1, 3, 0.0625, Bytes("(01)0.063\r")},
        FrameCase{1, 1, 4, 0.03125, Bytes("(01)0.0313\r")},
        FrameCase{1, 1, 5, -0.015625, Bytes("(01)-0.01563\r")},
        FrameCase{1, 1, 6, 0.0078125, Bytes("(01)0.007813\r")},
        FrameCase{1, 1, 7, 0.00390625, Bytes("(01)0.0039063\r")},
        FrameCase{1, 1, 4, 123456.78125, Bytes("(01)123456.7813\r")},
        FrameCase{0, 1, 1, 12.25, Hex("02 3C 01 31 32 2E 33 0D")},
        FrameCase{2, 1, 1, 12.25,
                  Bytes("\x02"
                        "10  12.3f\x06")},
        FrameCase{3, 1, 1, -12.25, Bytes("(01  -12.3\r")},
        // Not ties: the double lies below the decimal written in the source.
        FrameCase{1, 1, 1, 0.15, Bytes("(01)0.1\r")},
        FrameCase{1, 1, 2, 2.675, Bytes("(01)2.67\r")},
        FrameCase{1, 1, 2, 1.005, Bytes("(01)1.00\r")},
        FrameCase{1, 1, 1, 0.35, Bytes("(01)0.3\r")}, FrameCase{1, 1, 1, 0.45, Bytes("(01)0.5\r")},
        FrameCase{1, 1, 7, 5e-8, Bytes("(01)0.0000000\r")},
        // The sign follows the double's sign, as in any fixed-point text.
        FrameCase{1, 1, 1, -0.04, Bytes("(01)-0.0\r")},
        FrameCase{1, 1, 3, -1e-300, Bytes("(01)-0.000\r")},
        FrameCase{1, 1, 7, 5e-324, Bytes("(01)0.0000000\r")},
        FrameCase{1, 1, 2, 0, Bytes("(01)0.00\r")},
        FrameCase{1, 1, 2, 1e22, Bytes("(01)10000000000000000000000.00\r")},
        FrameCase{1, 1, 7, 1e27, Bytes("(01)1000000000000000013287555072.0000000\r")}));

INSTANTIATE_TEST_SUITE_P(ValuesWithoutFrame, FrameTable,
                         ::testing::Values(
                             // With decimals, NaN and infinities have no number to show.
                             FrameCase{0, 1, 1, kNaN, {}}, FrameCase{1, 1, 2, kInf, {}},
                             FrameCase{2, 1, 3, -kInf, {}}, FrameCase{3, 1, 7, kNaN, {}},
                             // Texts that would not fit the frame buffer.
                             FrameCase{1, 1, 7, 1e95, {}}, FrameCase{2, 1, 1, -1e99, {}},
                             FrameCase{1, 1, 2, 1e300, {}}, FrameCase{3, 1, 7, -1.7e308, {}},
                             // Kinds outside 0 to 6.
                             FrameCase{-1, 1, 0, 1, {}}, FrameCase{7, 1, 0, 1, {}},
                             FrameCase{std::numeric_limits<int32_t>::min(), 1, 0, 1, {}}));

// Decimals counts beyond the 0 to 7 the station dialog offers are written as asked while the
// frame fits; beyond that the frame fails.
INSTANTIATE_TEST_SUITE_P(DecimalsBeyondSeven, FrameTable,
                         ::testing::Values(FrameCase{1, 1, 8, 12.5, Bytes("(01)12.50000000\r")},
                                           FrameCase{3, 1, 9, 0.1, Bytes("(010.100000000\r")},
                                           FrameCase{1, 1, 20, 0.1,
                                                     Bytes("(01)0.10000000000000000555\r")},
                                           FrameCase{1, 1, 93, 0, {}}, FrameCase{2, 1, 1000, 0, {}},
                                           FrameCase{0, 1, 0xFFFFFFFFu, 1, {}}));

TEST(FrameLimits, TheLongestFrameFillsTheBufferAndOneMoreByteFails) {
  // Kind 1, station 1: "(01)", 92 digits, ".0", CR and the zero byte take all 100 bytes.
  Built longest = Build(1, 1, 1, 1e91);
  ASSERT_EQ(longest.length, 99);
  EXPECT_TRUE(longest.zero_after);
  EXPECT_EQ(longest.frame[4], '1');
  EXPECT_EQ(longest.frame[97], '0');
  EXPECT_EQ(Build(1, 1, 2, 1e91).length, -1);    // one more decimal
  EXPECT_EQ(Build(1, 100, 1, 1e91).length, -1);  // one more station digit
}

TEST(FrameLimits, AFailedBuildLeavesTheBufferUntouched) {
  CStationInfo station;
  station.kind = 5;
  station.value.store(10000);
  uint8_t buffer[kFrameBufferSize];
  std::fill(std::begin(buffer), std::end(buffer), 0xAA);
  EXPECT_EQ(BuildFrameKind5(station, buffer), -1);
  station.kind = 1;
  station.decimals = 2;
  station.value.store(1e99);
  EXPECT_EQ(BuildFrameKind1(station, buffer), -1);
  station.kind = 9;
  EXPECT_EQ(BuildFrame(station, buffer), -1);
  for (uint8_t byte : buffer) ASSERT_EQ(byte, 0xAA);
}

TEST(FrameDispatch, EachKindReachesItsOwnBuilder) {
  using Builder = int (*)(const CStationInfo&, uint8_t(&)[kFrameBufferSize]);
  const Builder builders[] = {BuildFrameKind0, BuildFrameKind1, BuildFrameKind2, BuildFrameKind3,
                              BuildFrameKind4, BuildFrameKind5, BuildFrameKind6};
  for (int32_t kind = 0; kind < kKindCount; ++kind) {
    CStationInfo station;
    station.kind = kind;
    station.number = 42;
    station.decimals = 2;
    station.value.store(-87.125);
    uint8_t direct[kFrameBufferSize] = {};
    uint8_t dispatched[kFrameBufferSize] = {};
    int length = builders[kind](station, direct);
    ASSERT_GT(length, 0) << kind;
    ASSERT_EQ(BuildFrame(station, dispatched), length) << kind;
    EXPECT_TRUE(std::equal(direct, direct + length + 1, dispatched)) << kind;
  }
}

// The value text of a kind-1 frame with the given decimals.
std::string Kind1Text(double value, uint32_t decimals) {
  Built built = Build(1, 1, decimals, value);
  if (built.length < 0) return "<failed>";
  return std::string(built.frame.begin() + 4, built.frame.end() - 1);
}

// The ties at d decimals are exactly the odd multiples of 2^-(d+1).
bool IsTie(double value, uint32_t places) {
  double scaled = std::ldexp(value, static_cast<int>(places) + 1);
  return std::trunc(scaled) == scaled && std::fmod(scaled, 2.0) != 0;
}

TEST(FixedPointRounding, AgreesWithPrintfWhereTheValueIsNoTie) {
  // Where the value is no tie, printf's correct rounding of the exact value is the reference.
  std::mt19937_64 random(20240601);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-30, 60);
  std::uniform_int_distribution<uint32_t> decimals(1, 7);
  for (int i = 0; i < 20000; ++i) {
    double value = std::ldexp(mantissa(random), exponent(random));
    uint32_t places = decimals(random);
    if (IsTie(value, places)) continue;
    char expected[128];
    std::snprintf(expected, sizeof expected, "%.*f", static_cast<int>(places), value);
    ASSERT_EQ(Kind1Text(value, places), expected) << "value " << value << " decimals " << places;
  }
}

TEST(FixedPointRounding, ExactTiesGoAwayFromZero) {
  // Each tie must give the text of its neighbour one step further from zero, which is no tie.
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> odd(-4000000, 4000000);
  for (uint32_t places = 1; places <= 7; ++places) {
    for (int i = 0; i < 2000; ++i) {
      double tie =
          std::ldexp(static_cast<double>(odd(random) * 2 + 1), -static_cast<int>(places) - 1);
      double away = std::nextafter(tie, tie > 0 ? kInf : -kInf);
      double toward = std::nextafter(tie, 0.0);
      char up[128];
      char down[128];
      std::snprintf(up, sizeof up, "%.*f", static_cast<int>(places), away);
      std::snprintf(down, sizeof down, "%.*f", static_cast<int>(places), toward);
      ASSERT_EQ(Kind1Text(tie, places), up) << "tie " << tie << " decimals " << places;
      ASSERT_EQ(Kind1Text(toward, places), down) << "below tie " << tie;
    }
  }
}

}  // namespace
}  // namespace veldrane
