// ReportMessage: exact bytes, level words and results, with a capturing event log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostlink/report.h"
#include "hostlink/texts.h"

namespace {

struct Line {
  int32_t category;
  int32_t level_word;
  std::string text;
};

std::vector<Line>* g_lines = nullptr;

void Capture(int32_t category, int32_t level_word, const char* line) {
  g_lines->push_back({category, level_word, line});
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines = &lines_;
    veldrane::SetEventLog(&Capture);
  }
  void TearDown() override {
    veldrane::SetEventLog(nullptr);
    g_lines = nullptr;
  }
  std::vector<Line> lines_;
};

TEST_F(ReportTest, EveryMessageAtEveryLevel) {
  namespace t = veldrane::texts;
  struct Case {
    int32_t index;
    const char* text;
    std::string expected;  // after the prefix
  };
  const Case cases[] = {
      {1, nullptr, t::kMessages[1]},
      {2, nullptr, t::kMessages[2]},
      {3, nullptr, t::kMessages[3]},
      {4, "COM3",
       "\xC5\xEB\xBD\xC5\xC6\xF7\xC6\xAE[COM3]\xB8\xA6 \xBF\xAD \xBC\xF6 "
       "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9."},
      {4, "\\\\.\\COM12",
       std::string("\xC5\xEB\xBD\xC5\xC6\xF7\xC6\xAE[\\\\.\\COM12]") +
           "\xB8\xA6 \xBF\xAD \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9."},
      {5, "/srv/line1.cfg",
       "\xC1\xF6\xC1\xA4\xB5\xC8 \xC6\xC4\xC0\xCF[/srv/line1.cfg]\xC0\xBB "
       "\xBF\xAD \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9."},
      {8, "PUMP1",
       "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[PUMP1]\xBF\xA1 \xB5\xA5\xC0\xCC\xC5\xCD"
       "\xB8\xA6 \xBC\xDB\xBD\xC5\xC7\xD2 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9."},
      {10, "\xB1\xB9",
       "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[\xB1\xB9]\xB0\xFA \xC5\xEB\xBD\xC5"
       "\xC7\xD2 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9."},
      {12, "FLOW%d",
       "\xC1\xF6\xC1\xA4\xB5\xC8 \xC5\xC2\xB1\xD7[FLOW%d]\xB0\xA1 "
       "\xB5\xA5\xC0\xCC\xC5\xCD\xBA\xA3\xC0\xCC\xBD\xBA\xBF\xA1 \xB5\xEE\xB7\xCF"
       "\xB5\xC7\xC1\xF6 \xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9."},
      {0, nullptr, ""},
  };
  for (int32_t level = 0; level <= 2; ++level) {
    for (const Case& c : cases) {
      lines_.clear();
      EXPECT_EQ(veldrane::ReportMessage(c.index, level, c.text, 0), -c.index);
      ASSERT_EQ(lines_.size(), 1u) << c.index;
      EXPECT_EQ(lines_[0].category, 3);
      EXPECT_EQ(lines_[0].level_word, 0x100 | level);
      EXPECT_EQ(lines_[0].text, "[VELDRANE] " + c.expected) << c.index;
    }
  }
}

TEST_F(ReportTest, IndexesOutsideTheTableSendNothing) {
  for (int32_t index : {-1, -3, -1000, 13, 14, 1000}) {
    EXPECT_EQ(veldrane::ReportMessage(index, 0, "x", 0), index);
  }
  EXPECT_TRUE(lines_.empty());
}

TEST_F(ReportTest, SecondPlaceholderTakesTheNumberNotAnAddress) {
  EXPECT_EQ(veldrane::ReportMessage(6, 0, "T1", 42), -6);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].text.find("[T1]"), std::string::npos);
  EXPECT_NE(lines_[0].text.find("[42]"), std::string::npos);
}

TEST(Report, WithoutEventLogReturnsTheIndexUnchanged) {
  veldrane::SetEventLog(nullptr);
  EXPECT_EQ(veldrane::ReportMessage(4, 0, "COM1", 0), 4);
  EXPECT_EQ(veldrane::ReportMessage(-3, 0, nullptr, 0), -3);
}

}  // namespace
