// The Korean texts are stored as code page 949 bytes; converted, they must read exactly as the
// texts the operators and integrators know.
#include <gtest/gtest.h>

#include <string>

#include "hostlink/texts.h"
#include "platform/text/cp949.h"
#include "platform/text/text_width.h"

namespace {

using veldrane::platform::Cp949ToUtf8;
using veldrane::platform::Utf8ToCp949;

struct Expected {
  const char* name;
  const char* stored;
  const char* utf8;
};

TEST(Texts, ConvertToTheKnownKoreanTexts) {
  namespace t = veldrane::texts;
  const Expected cases[] = {
      {"message 0", t::kMessages[0], ""},
      {"message 1", t::kMessages[1], "통신시작"},
      {"message 2", t::kMessages[2], "통신종료"},
      {"message 3", t::kMessages[3], "통신포트 초기화 완료"},
      {"message 4", t::kMessages[4], "통신포트[%s]를 열 수 없습니다."},
      {"message 5", t::kMessages[5], "지정된 파일[%s]을 열 수 없습니다."},
      {"message 6", t::kMessages[6], "태그[%s]의 I/O 어드레스[%s]가 잘못 설정되었습니다."},
      {"message 7", t::kMessages[7],
       "태그[%s]에 설정된 I/O 디바이스[%s]가 통신드라이버에 등록되지 않았습니다."},
      {"message 8", t::kMessages[8], "스테이션[%s]에 데이터를 송신할 수 없습니다."},
      {"message 9", t::kMessages[9], "스테이션[%s]으로부터 데이터를 수신할 수 없습니다."},
      {"message 10", t::kMessages[10], "스테이션[%s]과 통신할 수 없습니다."},
      {"message 11", t::kMessages[11], "스테이션[%s]과의 통신이 정상적으로 복구되었습니다."},
      {"message 12", t::kMessages[12], "지정된 태그[%s]가 데이터베이스에 등록되지 않았습니다."},
      {"kind 0", t::kKindNames[0], "청우 DPM"},
      {"kind 1", t::kKindNames[1], "한국텔레시스 DIM"},
      {"kind 2", t::kKindNames[2], "WD-7SIG DISP"},
      {"kind 3", t::kKindNames[3], "원일기술 WI94-DVM5V"},
      {"kind 4", t::kKindNames[4], "선광 SKM-500"},
      {"kind 5", t::kKindNames[5], "삼정 C&M System 4 Digit"},
      {"kind 6", t::kKindNames[6], "삼정 C&M System 6 Digit"},
      {"label", t::kLabelFormat, "%s (%d국) : %s"},
      {"2700", t::kNoStationName, "스테이션 이름이 설정되지 않았습니다."},
      {"2701", t::kStationNameTaken, "같은 이름의 스테이션이 이미 사용되었습니다."},
      {"2702", t::kStationNumberTaken, "국번이 다른 스테이션과 중복되어 설정되었습니다."},
      {"2703", t::kStationNumberInvalid, "국번이 잘못 설정되었습니다."},
      {"2704", t::kAskDeleteStation, "선택된 스테이션을 삭제하시겠습니까?"},
      {"2705", t::kAskSaveChanges, "데이터가 변경되었습니다.  저장하시겠습니까?"},
  };
  EXPECT_EQ(t::kMessageCount, 13u);
  for (const Expected& e : cases) {
    EXPECT_EQ(Cp949ToUtf8(e.stored), e.utf8) << e.name;
    EXPECT_EQ(Utf8ToCp949(e.utf8), e.stored) << e.name;
  }
}

TEST(Texts, StationWordIsTwoBytes) {
  EXPECT_EQ(std::string(veldrane::texts::kLabelFormat), "%s (%d\xB1\xB9) : %s");
}

TEST(Cp949, BadInputIsReplacedNotLost) {
  // A lone lead byte at the end, and a byte no character starts with.
  EXPECT_EQ(Cp949ToUtf8(std::string("A\xB1")), "A\xEF\xBF\xBD");
  EXPECT_EQ(Cp949ToUtf8(std::string("\xFF"
                                    "B")),
            "\xEF\xBF\xBD"
            "B");
  EXPECT_EQ(Utf8ToCp949(std::string("\xF0\x9F\x98\x80")), "?");  // no such character in 949
  const uint16_t units[] = {0xAD6D, 'A'};                        // 국A
  EXPECT_EQ(veldrane::platform::Utf16ToCp949(units, 2),
            "\xB1\xB9"
            "A");
}

TEST(TextWidth, HangulTakesTwoColumnsOtherTextOne) {
  using veldrane::platform::DisplayWidth;
  EXPECT_EQ(DisplayWidth(""), 0u);
  EXPECT_EQ(DisplayWidth("PUMP1"), 5u);
  EXPECT_EQ(DisplayWidth("\xEC\x9C\xA0\xEB\x9F\x89\xEA\xB3\x84"
                         "1"),
            7u);                                // 유량계1
  EXPECT_EQ(DisplayWidth("\xE2\x82\xAC"), 1u);  // a three-byte character that is not wide
  EXPECT_EQ(DisplayWidth("\xC3\xA9"), 1u);      // two bytes, one column
  EXPECT_EQ(veldrane::platform::PadRight("\xEC\x9C\xA0", 4), "\xEC\x9C\xA0  ");
  EXPECT_EQ(veldrane::platform::PadLeft("12.5", 6), "  12.5");
  EXPECT_EQ(veldrane::platform::PadLeft("1234567", 6), "1234567");  // longer text stays whole
}

}  // namespace
