// The 'TAG VALUE' lines scripts feed the host runner.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/runner/inputs/simulator.h"
#include "host/runner/inputs/value_lines.h"
#include "platform/text/cp949.h"
#include "platform/text/display_text.h"
#include "platform/text/utf8.h"
#include "tests/support/fault_script.h"

namespace {

using veldrane::host::LineSplitter;
using veldrane::host::ParseValueLine;
using veldrane::host::ValueLine;

TEST(ValueLines, GoodBlankAndBadLines) {
  struct Case {
    std::string line;
    ValueLine::Kind kind;
    std::string tag;
    double value;
    std::string error_part;
  };
  const Case cases[] = {
      {"FLOW1 12.5", ValueLine::kValue, "FLOW1", 12.5, ""},
      {"  FLOW1\t-3e2  ", ValueLine::kValue, "FLOW1", -300, ""},
      {"T +7", ValueLine::kValue, "T", 7, ""},
      {"T 0x10", ValueLine::kValue, "T", 16, ""},  // strtod reads hexadecimal too
      {"\xEC\x9C\xA0\xEB\x9F\x89 1", ValueLine::kValue, "\xC0\xAF\xB7\xAE", 1,
       ""},                                                                  // 유량 in UTF-8
      {"\xC0\xAF\xB7\xAE 2", ValueLine::kValue, "\xC0\xAF\xB7\xAE", 2, ""},  // raw 949
      {"", ValueLine::kBlank, "", 0, ""},
      {"   \t ", ValueLine::kBlank, "", 0, ""},
      {"# comment 1", ValueLine::kBlank, "", 0, ""},
      {"FLOW1", ValueLine::kError, "", 0, "no value"},
      // Two tags that code page 949 cannot hold would both have become "T?".
      {"T\xF0\x9F\x98\x80 1", ValueLine::kError, "", 0, "a character that code page 949 lacks"},
      {"FLOW1 abc", ValueLine::kError, "", 0, "'abc' is not a number"},
      {"FLOW1 12.5x", ValueLine::kError, "", 0, "not a number"},
      {"FLOW1 1 2", ValueLine::kError, "", 0, "more after the value"},
      {"FLOW1 1e999", ValueLine::kError, "", 0, "out of range"},
      {"FLOW1 nan", ValueLine::kError, "", 0, "'nan' is not a finite number"},
      {"FLOW1 -inf", ValueLine::kError, "", 0, "not a finite number"},
      {"FLOW1 Infinity", ValueLine::kError, "", 0, "not a finite number"},
      {"FLOW1 " + std::string(5000, '1'), ValueLine::kError, "", 0, "longer than 4096"},
  };
  for (const Case& c : cases) {
    ValueLine got = ParseValueLine(c.line);
    EXPECT_EQ(got.kind, c.kind) << c.line;
    if (c.kind == ValueLine::kValue) {
      EXPECT_EQ(got.tag, c.tag) << c.line;
      EXPECT_DOUBLE_EQ(got.value, c.value) << c.line;
    }
    if (c.kind == ValueLine::kError) {
      EXPECT_NE(got.error.find(c.error_part), std::string::npos) << c.line << ": " << got.error;
    }
  }
  EXPECT_EQ(ParseValueLine("T 1e-999").kind, ValueLine::kValue);  // underflow is a tiny value

  // Without a converter for code page 949 a UTF-8 tag is refused with the reason, not looked up
  // as its UTF-8 bytes; ASCII tags go on.
  veldrane::test::InstalledApi<veldrane::platform::CodePageApi> none(
      &veldrane::platform::SetCodePageApi, veldrane::platform::NoCodePageApi());
  ValueLine korean = ParseValueLine("\xEC\x9C\xA0\xEB\x9F\x89 1");
  EXPECT_EQ(korean.kind, ValueLine::kError);
  EXPECT_NE(korean.error.find("no converter for code page 949"), std::string::npos) << korean.error;
  EXPECT_EQ(ParseValueLine("FLOW1 2").kind, ValueLine::kValue);
}

TEST(ValueLines, SplitterCutsLinesAndRefusesOverlongOnesWhole) {
  std::vector<std::pair<std::string, bool>> lines;
  auto collect = [&](const std::string& text, bool too_long) {
    lines.emplace_back(text, too_long);
  };
  LineSplitter splitter;
  std::string data = "A 1\r\nB 2\n" + std::string(10000, 'x') + "\nC 3";
  // Fed in awkward pieces, as a pipe delivers them.
  for (size_t i = 0; i < data.size(); i += 7) {
    splitter.Feed(data.data() + i, std::min<size_t>(7, data.size() - i), collect);
  }
  splitter.Finish(collect);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::make_pair(std::string("A 1"), false));
  EXPECT_EQ(lines[1], std::make_pair(std::string("B 2"), false));
  EXPECT_TRUE(lines[2].second);  // the long line is refused, not split into pieces
  EXPECT_EQ(lines[3], std::make_pair(std::string("C 3"), false));

  // At the limit: 4096 characters with a CR LF are a line, 4097 are not.
  lines.clear();
  const std::string longest(veldrane::host::kMaxValueLine, 'y');
  data = longest + "\r\n" + longest + "y\n" + longest + "y";
  splitter.Feed(data.data(), data.size(), collect);
  splitter.Finish(collect);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::make_pair(longest, false));
  EXPECT_TRUE(lines[1].second);
  EXPECT_TRUE(lines[2].second);
}

TEST(Simulator, StaysWithinWhatEachMeterShowsExceptForItsOutOfRangeSpells) {
  std::vector<veldrane::host::SimulatedTag> tags;
  for (int kind = 0; kind < 7; ++kind) {
    tags.push_back({"T" + std::to_string(kind), kind, static_cast<uint32_t>(kind)});
  }
  veldrane::host::Simulator sim(tags);
  bool saw_out_of_range = false;
  for (double t = 0; t < 400; t += 0.5) {
    for (size_t i = 0; i < sim.size(); ++i) {
      double v = sim.ValueAt(i, t);
      ASSERT_TRUE(std::isfinite(v));
      int kind = tags[i].kind;
      // At the meter's resolution: decimals for kinds 0 to 3, whole numbers beyond.
      double scale = std::pow(10.0, kind >= 4 ? 0 : kind);
      EXPECT_NEAR(v * scale, std::round(v * scale), 1e-6) << kind << " " << v;
      bool in_range = kind == 5 ? (v >= -1999 && v <= 9999) : (v >= -999999 && v <= 999999);
      if (!in_range) {
        saw_out_of_range = true;
        EXPECT_TRUE(kind == 5 || kind == 6) << "kind " << kind << " value " << v;
      }
    }
  }
  EXPECT_TRUE(saw_out_of_range);
}

}  // namespace

namespace {

// Input shown on a terminal: what could drive the terminal is escaped, text is kept.
TEST(DisplayText, EscapesWhatCouldDriveATerminal) {
  struct Case {
    std::string in;
    std::string shown;
  };
  const Case cases[] = {
      {"\x1b]0;PWNED\x07", "\\x1b]0;PWNED\\x07"},
      {"a\tb\x7f", "a\\x09b\\x7f"},
      {"\xC2\x9B"
       "31m",
       "\\xc2\\x9b31m"},                    // CSI as a UTF-8 C1 control
      {"\xC0\x9B", "\\xc0\\x9b"},           // an overlong ESC is no character at all
      {"\xED\xA0\x80", "\\xed\\xa0\\x80"},  // a surrogate
      {"\xEC\x9C\xA0\xEB\x9F\x89 \xC2\xA0", "\xEC\x9C\xA0\xEB\x9F\x89 \xC2\xA0"},  // 유량, NBSP
  };
  for (const Case& c : cases) EXPECT_EQ(veldrane::platform::EscapeControls(c.in), c.shown) << c.in;
  EXPECT_EQ(veldrane::platform::EscapeControls("a\tb\r\n\x1b", true), "a\tb\r\n\\x1b");
  // Code page 949 input: converted, then escaped.
  EXPECT_EQ(veldrane::platform::DisplayInput("\xC0\xAF\x1b"), "\xEC\x9C\xA0\\x1b");
  EXPECT_EQ(veldrane::platform::InvalidUtf8At("ok\xF4\x90\x80\x80"), 2u);  // beyond U+10FFFF
}

}  // namespace
