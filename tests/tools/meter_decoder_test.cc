// The meter-line decoder: round trips through the frame builders for every kind and the station
// numbers at the edges, and hand-written wire bytes with noise, cut frames and RTS/CTS zero bytes.
#include "tools/meter/decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/frames.h"
#include "config/station_info.h"
#include "tests/support/frame_for.h"

namespace veldrane::meter {
namespace {

using veldrane::test::FrameFor;

std::vector<Decoded> DecodeAll(FrameDecoder& decoder, const std::vector<uint8_t>& bytes) {
  std::vector<Decoded> out;
  decoder.Feed(bytes.data(), bytes.size(), out);
  return out;
}

std::vector<MeterFrame> FramesOf(const std::vector<Decoded>& decoded) {
  std::vector<MeterFrame> frames;
  for (const Decoded& d : decoded) {
    if (d.is_frame) frames.push_back(d.frame);
  }
  return frames;
}

std::vector<uint8_t> Wire(const std::string& text) {
  return {text.begin(), text.end()};
}

struct RoundTrip {
  int32_t kind;
  uint32_t decimals;
  double value;
  const char* shown;  // what the meter shows
};

const RoundTrip kRoundTrips[] = {
    {0, 0, 12.5, "12"},
    {0, 1, 12.5, "12.5"},
    {0, 2, -0.125, "-0.13"},
    {0, 0, -12.5, "-12"},
    {0, 0, 4294967301.0, "5"},
    {0, 7, 1234.5678, "1234.5678000"},
    {0, 0, 2147483648.0, "-2147483648"},
    {0, 3, 1e22, "10000000000000000000000.000"},
    {1, 0, 12.5, "13"},
    {1, 1, -12.25, "-12.3"},
    {1, 0, 123456789, "123456789"},
    {1, 7, 0.00390625, "0.0039063"},
    {1, 0, -1999, "-1999"},
    {1, 0, -199999, "-199999"},
    {2, 0, 7, "7"},
    {2, 1, 12.5, "12.5"},
    {2, 2, 1234.56, "1234.56"},
    {2, 0, 123456, "123456"},
    {2, 0, 1234567, "1234567"},
    {2, 0, -1234567, "-1234567"},
    {2, 1, -0.04, "-0.0"},
    {3, 0, 7, "7"},
    {3, 1, 12.5, "12.5"},
    {3, 1, -12345.5, "-12345.5"},
    {3, 0, 999999, "999999"},
    {3, 0, 1234567, "1234567"},
    {3, 2, 0.125, "0.13"},
    {3, 3, -0.0625, "-0.063"},
    {3, 2, 123456.5, "123456.50"},
    {4, 0, 123, "123"},
    {4, 0, -1, "-1"},
    {4, 0, 32767, "32767"},
    {4, 0, -32768, "-32768"},
    {4, 0, 65535, "-1"},
    {4, 0, 70000, "4464"},
    {4, 3, 12.5, "13"},
    {5, 0, 9999, "9999"},
    {5, 0, -1999, "-1999"},
    {5, 0, 0, "0"},
    {5, 2, 12.5, "13"},
    {5, 0, -0.4, "0"},
    {5, 0, -1, "-1"},
    {6, 0, 999999, "999999"},
    {6, 0, -199999, "-199999"},
    {6, 0, 123, "123"},
    {6, 0, -12.5, "-13"},
};

const int32_t kStations[] = {0, 1, 99, 100, 255};

uint32_t DecimalsOf(const std::string& shown) {
  size_t point = shown.find('.');
  return point == std::string::npos ? 0 : static_cast<uint32_t>(shown.size() - point - 1);
}

TEST(MeterDecoderRoundTrip, TheConfiguredKindGivesBackEveryFrameExactly) {
  for (const RoundTrip& trip : kRoundTrips) {
    for (int32_t station : kStations) {
      SCOPED_TRACE("kind " + std::to_string(trip.kind) + " station " + std::to_string(station) +
                   " shown " + trip.shown);
      std::vector<uint8_t> bytes = FrameFor(trip.kind, station, trip.decimals, trip.value);
      ASSERT_FALSE(bytes.empty());
      FrameDecoder decoder;
      decoder.SetStationKind(station, trip.kind);
      std::vector<MeterFrame> frames = FramesOf(DecodeAll(decoder, bytes));
      ASSERT_EQ(frames.size(), 1u);
      EXPECT_EQ(decoder.rejected_bytes(), 0u);
      EXPECT_EQ(decoder.pending(), 0u);
      const MeterFrame& frame = frames[0];
      EXPECT_EQ(frame.kind, trip.kind);
      EXPECT_EQ(frame.station, station);
      EXPECT_EQ(frame.text, trip.shown);
      EXPECT_EQ(frame.decimals, DecimalsOf(trip.shown));
      EXPECT_EQ(frame.value, std::stod(trip.shown));
      EXPECT_EQ(frame.bytes, bytes);
    }
  }
}

TEST(MeterDecoderRoundTrip, WithoutConfigurationEveryReadingRebuildsTheSameBytes) {
  // Without configured kinds the framing alone decides. Where the bytes allow two readings the
  // frame is marked ambiguous, and the reading chosen must still be one that builds these bytes.
  int ambiguous = 0;
  for (const RoundTrip& trip : kRoundTrips) {
    for (int32_t station : kStations) {
      SCOPED_TRACE("kind " + std::to_string(trip.kind) + " station " + std::to_string(station) +
                   " shown " + trip.shown);
      std::vector<uint8_t> bytes = FrameFor(trip.kind, station, trip.decimals, trip.value);
      FrameDecoder decoder;
      std::vector<MeterFrame> frames = FramesOf(DecodeAll(decoder, bytes));
      ASSERT_EQ(frames.size(), 1u);
      const MeterFrame& frame = frames[0];
      if (!frame.ambiguous) {
        EXPECT_EQ(frame.kind, trip.kind);
        EXPECT_EQ(frame.station, station);
        EXPECT_EQ(frame.text, trip.shown);
        continue;
      }
      ++ambiguous;
      EXPECT_EQ(FrameFor(frame.kind, frame.station, frame.decimals, frame.value), bytes);
    }
  }
  // Kinds 1/5/6 at stations 100 and 255 with full negative values; kinds 2 and 3 with texts
  // that overflow their field at stations 99, 100 and 255.
  EXPECT_GT(ambiguous, 0);
}

TEST(MeterDecoderRoundTrip, ByteByByteFeedingFindsTheSameFrames) {
  std::vector<uint8_t> line;
  std::vector<MeterFrame> whole;
  for (const RoundTrip& trip : kRoundTrips) {
    std::vector<uint8_t> bytes = FrameFor(trip.kind, 7, trip.decimals, trip.value);
    line.insert(line.end(), bytes.begin(), bytes.end());
    line.push_back(0);  // as on an RTS/CTS line
  }
  FrameDecoder at_once;
  std::vector<MeterFrame> all = FramesOf(DecodeAll(at_once, line));
  FrameDecoder by_byte;
  std::vector<Decoded> out;
  for (uint8_t byte : line) by_byte.Feed(&byte, 1, out);
  std::vector<MeterFrame> one_by_one = FramesOf(out);
  ASSERT_EQ(all.size(), std::size(kRoundTrips));
  ASSERT_EQ(one_by_one.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(one_by_one[i].bytes, all[i].bytes);
    EXPECT_EQ(all[i].text, kRoundTrips[i].shown);
  }
  EXPECT_EQ(at_once.rejected_bytes(), 0u);
  EXPECT_EQ(at_once.trailer_zeros(), all.size());
  EXPECT_EQ(by_byte.rejected_bytes(), 0u);
}

struct WireCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> frames;  // station:kind:text of each frame found
  uint64_t rejected;                // bytes that were no frame
};

std::string Describe(const MeterFrame& frame) {
  return std::to_string(frame.station) + ":" + std::to_string(frame.kind) + ":" + frame.text;
}

void PrintTo(const WireCase& c, std::ostream* os) {
  *os << c.name;
}

class MeterDecoderWire : public ::testing::TestWithParam<WireCase> {};

TEST_P(MeterDecoderWire, FindsTheFramesAndCountsTheRest) {
  const WireCase& c = GetParam();
  FrameDecoder decoder;
  std::vector<Decoded> out = DecodeAll(decoder, Wire(c.bytes));
  decoder.Flush(out);
  std::vector<std::string> found;
  uint64_t rejected_in_runs = 0;
  for (const Decoded& d : out) {
    if (d.is_frame) found.push_back(Describe(d.frame));
    if (!d.is_frame) rejected_in_runs += d.bytes.size();
  }
  EXPECT_EQ(found, c.frames);
  EXPECT_EQ(decoder.rejected_bytes(), c.rejected);
  EXPECT_EQ(rejected_in_runs, c.rejected);
}

using S = std::string;

INSTANTIATE_TEST_SUITE_P(
    HandWritten, MeterDecoderWire,
    ::testing::Values(
        WireCase{"each_kind",
                 S("\x02<\x01"
                   "12.5\r") +
                     "(01)13\r" +
                     "\x02"
                     "10  12.5f\x06" +
                     "(01  -12.3\r" + "M01007B\x03" + "(001)+0123\r" + "(001)-000013\r",
                 {"1:0:12.5", "1:1:13", "1:2:12.5", "1:3:-12.3", "1:4:123", "1:5:123", "1:6:-13"},
                 0},
        WireCase{"noise_between_frames",
                 S("xx(01)13\r") + "\xFF\xFE" + "M01007B\x03" + "(" + "(02)7\r" + "\r\n",
                 {"1:1:13", "1:4:123", "2:1:7"},
                 7},
        WireCase{"zero_after_each_frame",
                 S("(01)13\r") + S(1, '\0') + "(02)7\r" + S(1, '\0'),
                 {"1:1:13", "2:1:7"},
                 0},
        WireCase{"zero_not_after_a_frame", S(1, '\0') + "(01)13\r" + S(2, '\0'), {"1:1:13"}, 2},
        WireCase{"kind0_station_bytes_that_look_like_framing",
                 S("\x02<\r"
                   "5\r") +
                     S("\x02<\x02"
                       "6\r") +
                     S("\x02<", 2) + S(1, '\0') + "7\r",
                 {"13:0:5", "2:0:6", "0:0:7"},
                 0},
        WireCase{"frame_cut_short_then_a_whole_one", S("(01)12") + "(02)7\r", {"2:1:7"}, 6},
        WireCase{"kind0_cut_short_then_a_whole_one",
                 S("\x02<") + S("\x02<\x01"
                                "7\r"),
                 {"1:0:7"},
                 2},
        WireCase{"unfinished_frame_at_the_end", S("(02)7\r(03)12"), {"2:1:7"}, 6},
        WireCase{"kind4_lowercase_hex", S("M01007b\x03") + "M010001\x03", {"1:4:1"}, 8},
        WireCase{"kind2_wrong_closing",
                 S("\x02"
                   "10     7f\x03") +
                     "(05)1\r",
                 {"5:1:1"},
                 11},
        WireCase{"leading_zero_is_no_value", S("(01)012\r(01)1.\r(01)-\r"), {}, 21},
        WireCase{"integers_are_32_bit_as_printf_writes_them",
                 S("(01)-0\r(01)2147483648\r(01)-2147483648\r(01)-0.0\r"),
                 {"1:1:-2147483648", "1:1:-0.0"},
                 22},
        WireCase{"spaces_in_a_kind1_value", S("(01)  12\r"), {}, 9},
        WireCase{"kind5_wrong_width_or_limit", S("(001)+12\r(001)-2000\r(001)-0000\r"), {}, 31},
        WireCase{"kind3_padding_must_fill_the_field",
                 S("(01  12\r") + "(01    12\r" + "(01     12\r",
                 {"1:3:12"},
                 19},
        WireCase{
            "kind3_with_decimals_needs_seven", S("(01  12.5\r") + "(01   12.5\r", {"1:3:12.5"}, 10},
        WireCase{"no_terminator_within_a_frame_length",
                 S("(") + S(120, '1') + "(09)9\r",
                 {"9:1:9"},
                 121}),
    [](const ::testing::TestParamInfo<WireCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(MeterDecoderAmbiguity, KindsTwoAndThreeTakeTheTwoDigitStationUnlessConfigured) {
  // Station 123 showing 1234567, or station 12 showing 31234567.
  std::vector<uint8_t> kind3 = Wire("(1231234567\r");
  std::vector<uint8_t> kind2 = Wire(
      "\x02"
      "2131234567f\x06");
  for (const auto& [bytes, kind] : {std::pair{kind3, 3}, std::pair{kind2, 2}}) {
    FrameDecoder plain;
    std::vector<MeterFrame> frames = FramesOf(DecodeAll(plain, bytes));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Describe(frames[0]), "12:" + std::to_string(kind) + ":31234567");
    EXPECT_TRUE(frames[0].ambiguous);

    FrameDecoder configured;
    configured.SetStationKind(123, kind);
    frames = FramesOf(DecodeAll(configured, bytes));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Describe(frames[0]), "123:" + std::to_string(kind) + ":1234567");

    // Both stations configured with that kind: no way to tell, the usual two digits.
    configured.SetStationKind(12, kind);
    frames = FramesOf(DecodeAll(configured, bytes));
    EXPECT_EQ(Describe(frames.at(0)), "12:" + std::to_string(kind) + ":31234567");
  }
}

TEST(MeterDecoderAmbiguity, FullNegativeValuesAtHighStationsAreKind5Or6UnlessConfigured) {
  for (const auto& [text, kind] : {std::pair{"(123)-1999\r", 5}, {"(123)-199999\r", 6}}) {
    FrameDecoder plain;
    std::vector<MeterFrame> frames = FramesOf(DecodeAll(plain, Wire(text)));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, kind);
    EXPECT_TRUE(frames[0].ambiguous);
    FrameDecoder configured;
    configured.SetStationKind(123, 1);
    frames = FramesOf(DecodeAll(configured, Wire(text)));
    EXPECT_EQ(frames.at(0).kind, 1);
    EXPECT_EQ(frames.at(0).station, 123);
    EXPECT_EQ(frames.at(0).text, kind == 5 ? "-1999" : "-199999");
  }
  // A leading zero in the station or the value can only be kind 5.
  FrameDecoder decoder;
  std::vector<MeterFrame> frames = FramesOf(DecodeAll(decoder, Wire("(012)-0013\r")));
  EXPECT_EQ(frames.at(0).kind, 5);
  EXPECT_FALSE(frames.at(0).ambiguous);
}

TEST(MeterDecoderRuns, LongNoiseIsHandedOutInBoundedRuns) {
  FrameDecoder decoder;
  std::vector<uint8_t> noise(200, 'z');
  std::vector<Decoded> out = DecodeAll(decoder, noise);
  decoder.Flush(out);
  size_t total = 0;
  for (const Decoded& d : out) {
    ASSERT_FALSE(d.is_frame);
    EXPECT_LE(d.bytes.size(), FrameDecoder::kMaxRejectedRun);
    total += d.bytes.size();
  }
  EXPECT_EQ(total, 200u);
  EXPECT_EQ(decoder.rejected_bytes(), 200u);
}

}  // namespace
}  // namespace veldrane::meter
