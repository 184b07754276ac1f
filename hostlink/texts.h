// Every text of the system that a user sees in Korean, as the code page 949 bytes that are
// stored and emitted. Nothing else in the code spells Korean text. The comment after each
// entry gives the text in UTF-8 for reading.
#pragma once

#include <cstddef>

namespace veldrane::texts {

// Event-log messages by number; 6, 7 and 9 are never reported but keep their numbers.
inline constexpr const char* kMessages[] = {
    "",                                  // 0:
    "\xC5\xEB\xBD\xC5\xBD\xC3\xC0\xDB",  // 1: 통신시작
    "\xC5\xEB\xBD\xC5\xC1\xBE\xB7\xE1",  // 2: 통신종료
    "\xC5\xEB\xBD\xC5\xC6\xF7\xC6\xAE \xC3\xCA\xB1\xE2\xC8\xAD \xBF\xCF\xB7\xE1",  // 3: 통신포트
                                                                                   // 초기화 완료
    "\xC5\xEB\xBD\xC5\xC6\xF7\xC6\xAE[%s]\xB8\xA6 \xBF\xAD \xBC\xF6 "
    "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.",  // 4: 통신포트[%s]를 열 수 없습니다.
    "\xC1\xF6\xC1\xA4\xB5\xC8 \xC6\xC4\xC0\xCF[%s]\xC0\xBB \xBF\xAD \xBC\xF6 "
    "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.",  // 5: 지정된 파일[%s]을 열 수 없습니다.
    "\xC5\xC2\xB1\xD7[%s]\xC0\xC7 I/O \xBE\xEE\xB5\xE5\xB7\xB9\xBD\xBA[%s]\xB0\xA1 "
    "\xC0\xDF\xB8\xF8 \xBC\xB3\xC1\xA4\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.",  // 6: 태그[%s]의
                                                                                   // I/O
                                                                                   // 어드레스[%s]가
                                                                                   // 잘못
                                                                                   // 설정되었습니다.
    "\xC5\xC2\xB1\xD7[%s]\xBF\xA1 \xBC\xB3\xC1\xA4\xB5\xC8 I/O "
    "\xB5\xF0\xB9\xD9\xC0\xCC\xBD\xBA[%s]\xB0\xA1 "
    "\xC5\xEB\xBD\xC5\xB5\xE5\xB6\xF3\xC0\xCC\xB9\xF6\xBF\xA1 \xB5\xEE\xB7\xCF\xB5\xC7\xC1\xF6 "
    "\xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9.",  // 7: 태그[%s]에 설정된 I/O 디바이스[%s]가
                                                  // 통신드라이버에 등록되지 않았습니다.
    "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[%s]\xBF\xA1 \xB5\xA5\xC0\xCC\xC5\xCD\xB8\xA6 "
    "\xBC\xDB\xBD\xC5\xC7\xD2 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.",  // 8: 스테이션[%s]에
                                                                            // 데이터를 송신할 수
                                                                            // 없습니다.
    "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[%s]\xC0\xB8\xB7\xCE\xBA\xCE\xC5\xCD "
    "\xB5\xA5\xC0\xCC\xC5\xCD\xB8\xA6 \xBC\xF6\xBD\xC5\xC7\xD2 \xBC\xF6 "
    "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.",  // 9: 스테이션[%s]으로부터 데이터를 수신할 수 없습니다.
    "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[%s]\xB0\xFA \xC5\xEB\xBD\xC5\xC7\xD2 \xBC\xF6 "
    "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.",  // 10: 스테이션[%s]과 통신할 수 없습니다.
    "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[%s]\xB0\xFA\xC0\xC7 \xC5\xEB\xBD\xC5\xC0\xCC "
    "\xC1\xA4\xBB\xF3\xC0\xFB\xC0\xB8\xB7\xCE "
    "\xBA\xB9\xB1\xB8\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.",  // 11: 스테이션[%s]과의 통신이
                                                                  // 정상적으로 복구되었습니다.
    "\xC1\xF6\xC1\xA4\xB5\xC8 \xC5\xC2\xB1\xD7[%s]\xB0\xA1 "
    "\xB5\xA5\xC0\xCC\xC5\xCD\xBA\xA3\xC0\xCC\xBD\xBA\xBF\xA1 \xB5\xEE\xB7\xCF\xB5\xC7\xC1\xF6 "
    "\xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9.",  // 12: 지정된 태그[%s]가 데이터베이스에 등록되지
                                                  // 않았습니다.
};
inline constexpr size_t kMessageCount = sizeof(kMessages) / sizeof(kMessages[0]);

// Meter models by kind, as the station dialog lists them.
inline constexpr const char* kKindNames[] = {
    "\xC3\xBB\xBF\xEC DPM",                                  // 0: 청우 DPM
    "\xC7\xD1\xB1\xB9\xC5\xDA\xB7\xB9\xBD\xC3\xBD\xBA DIM",  // 1: 한국텔레시스 DIM
    "WD-7SIG DISP",                                          // 2: WD-7SIG DISP
    "\xBF\xF8\xC0\xCF\xB1\xE2\xBC\xFA WI94-DVM5V",           // 3: 원일기술 WI94-DVM5V
    "\xBC\xB1\xB1\xA4 SKM-500",                              // 4: 선광 SKM-500
    "\xBB\xEF\xC1\xA4 C&M System 4 Digit",                   // 5: 삼정 C&M System 4 Digit
    "\xBB\xEF\xC1\xA4 C&M System 6 Digit",                   // 6: 삼정 C&M System 6 Digit
};

// %s (%d국) : %s
inline constexpr const char* kLabelFormat = "%s (%d\xB1\xB9) : %s";
// 스테이션 이름이 설정되지 않았습니다.
inline constexpr const char* kNoStationName =
    "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7 \xC0\xCC\xB8\xA7\xC0\xCC \xBC\xB3\xC1\xA4\xB5\xC7\xC1\xF6 "
    "\xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9.";
// 같은 이름의 스테이션이 이미 사용되었습니다.
inline constexpr const char* kStationNameTaken =
    "\xB0\xB0\xC0\xBA \xC0\xCC\xB8\xA7\xC0\xC7 \xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7\xC0\xCC "
    "\xC0\xCC\xB9\xCC \xBB\xE7\xBF\xEB\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.";
// 국번이 다른 스테이션과 중복되어 설정되었습니다.
inline constexpr const char* kStationNumberTaken =
    "\xB1\xB9\xB9\xF8\xC0\xCC \xB4\xD9\xB8\xA5 \xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7\xB0\xFA "
    "\xC1\xDF\xBA\xB9\xB5\xC7\xBE\xEE \xBC\xB3\xC1\xA4\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.";
// 국번이 잘못 설정되었습니다.
inline constexpr const char* kStationNumberInvalid =
    "\xB1\xB9\xB9\xF8\xC0\xCC \xC0\xDF\xB8\xF8 "
    "\xBC\xB3\xC1\xA4\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.";
// 선택된 스테이션을 삭제하시겠습니까?
inline constexpr const char* kAskDeleteStation =
    "\xBC\xB1\xC5\xC3\xB5\xC8 \xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7\xC0\xBB "
    "\xBB\xE8\xC1\xA6\xC7\xCF\xBD\xC3\xB0\xDA\xBD\xC0\xB4\xCF\xB1\xEE?";
// 데이터가 변경되었습니다.  저장하시겠습니까?
inline constexpr const char* kAskSaveChanges =
    "\xB5\xA5\xC0\xCC\xC5\xCD\xB0\xA1 \xBA\xAF\xB0\xE6\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.  "
    "\xC0\xFA\xC0\xE5\xC7\xCF\xBD\xC3\xB0\xDA\xBD\xC0\xB4\xCF\xB1\xEE?";

// The configuration window, its pages and the station dialog: captions, labels and buttons.
// Veldrane 통신 설정
inline constexpr const char* kWindowCaption = "Veldrane \xC5\xEB\xBD\xC5 \xBC\xB3\xC1\xA4";
// 편 집
inline constexpr const char* kEditButton = "\xC6\xED \xC1\xFD";
// 삭 제
inline constexpr const char* kDeleteButton = "\xBB\xE8 \xC1\xA6";
// 스테이션 추가
inline constexpr const char* kAddButton = "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7 \xC3\xDF\xB0\xA1";
// 복 사
inline constexpr const char* kCopyButton = "\xBA\xB9 \xBB\xE7";
// 붙여넣기
inline constexpr const char* kPasteButton = "\xBA\xD9\xBF\xA9\xB3\xD6\xB1\xE2";
// 저 장
inline constexpr const char* kSaveButton = "\xC0\xFA \xC0\xE5";
// 종 료
inline constexpr const char* kExitButton = "\xC1\xBE \xB7\xE1";
// 스테이션
inline constexpr const char* kStationPageCaption = "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7";
// 통신포트 (the port page's caption and the label of its port list)
inline constexpr const char* kPortPageCaption = "\xC5\xEB\xBD\xC5\xC6\xF7\xC6\xAE";
// 전송속도
inline constexpr const char* kBaudLabel = "\xC0\xFC\xBC\xDB\xBC\xD3\xB5\xB5";
// RTS/CTS 제어
inline constexpr const char* kRtsCtsCheck = "RTS/CTS \xC1\xA6\xBE\xEE";
// 스테이션 설정
inline constexpr const char* kStationDialogCaption =
    "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7 \xBC\xB3\xC1\xA4";
// 스테이션 이름
inline constexpr const char* kNameLabel = "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7 \xC0\xCC\xB8\xA7";
// DISPLAY 종류
inline constexpr const char* kKindLabel = "DISPLAY \xC1\xBE\xB7\xF9";
// 통신보드 국번
inline constexpr const char* kNumberLabel = "\xC5\xEB\xBD\xC5\xBA\xB8\xB5\xE5 \xB1\xB9\xB9\xF8";
// 소수 이하자리
inline constexpr const char* kDecimalsLabel = "\xBC\xD2\xBC\xF6 \xC0\xCC\xC7\xCF\xC0\xDA\xB8\xAE";
// 연결 태그이름
inline constexpr const char* kTagLabel = "\xBF\xAC\xB0\xE1 \xC5\xC2\xB1\xD7\xC0\xCC\xB8\xA7";
// 스테이션 설명
inline constexpr const char* kDescriptionLabel =
    "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7 \xBC\xB3\xB8\xED";
// 등 록
inline constexpr const char* kRegisterButton = "\xB5\xEE \xB7\xCF";
// 취 소
inline constexpr const char* kCancelButton = "\xC3\xEB \xBC\xD2";

// The toolkit's own refusals in the station dialog: a field that holds no whole number, and one
// outside its range (filled with the lowest and the highest value).
// 정수를 입력하십시오.
inline constexpr const char* kEnterInteger =
    "\xC1\xA4\xBC\xF6\xB8\xA6 \xC0\xD4\xB7\xC2\xC7\xCF\xBD\xCA\xBD\xC3\xBF\xC0.";
// %u에서 %u 사이의 정수를 입력하십시오.
inline constexpr const char* kEnterRange =
    "%u\xBF\xA1\xBC\xAD %u \xBB\xE7\xC0\xCC\xC0\xC7 \xC1\xA4\xBC\xF6\xB8\xA6 "
    "\xC0\xD4\xB7\xC2\xC7\xCF\xBD\xCA\xBD\xC3\xBF\xC0.";

// Text that a configuration cannot store: a character that code page 949 lacks, in a field of
// the station dialog (%1 the character) and in pasted lines (%1 the line, %2 the character's
// place in it, %3 the character). Filled with QString::arg, since the character has no bytes here.
// '%1' 문자는 코드 페이지 949에 없어 쓸 수 없습니다.
inline constexpr const char* kNotCp949Field =
    "'%1' \xB9\xAE\xC0\xDA\xB4\xC2 \xC4\xDA\xB5\xE5 \xC6\xE4\xC0\xCC\xC1\xF6 949\xBF\xA1 "
    "\xBE\xF8\xBE\xEE \xBE\xB5 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.";
// %1번째 줄 %2번째 문자 '%3'은(는) 코드 페이지 949에 없는 문자입니다. 아무것도 붙여넣지
// 않았습니다.
inline constexpr const char* kNotCp949Paste =
    "%1\xB9\xF8\xC2\xB0 \xC1\xD9 %2\xB9\xF8\xC2\xB0 \xB9\xAE\xC0\xDA '%3'\xC0\xBA(\xB4\xC2) "
    "\xC4\xDA\xB5\xE5 \xC6\xE4\xC0\xCC\xC1\xF6 949\xBF\xA1 \xBE\xF8\xB4\xC2 "
    "\xB9\xAE\xC0\xDA\xC0\xD4\xB4\xCF\xB4\xD9. \xBE\xC6\xB9\xAB\xB0\xCD\xB5\xB5 "
    "\xBA\xD9\xBF\xA9\xB3\xD6\xC1\xF6 \xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9.";

// The driver's string table as the host's error box finds it: the texts of 2700 to 2705; null
// for any other id.
inline constexpr const char* StringTableText(int id) {
  switch (id) {
    case 2700:
      return kNoStationName;
    case 2701:
      return kStationNameTaken;
    case 2702:
      return kStationNumberTaken;
    case 2703:
      return kStationNumberInvalid;
    case 2704:
      return kAskDeleteStation;
    case 2705:
      return kAskSaveChanges;
    default:
      return nullptr;
  }
}

}  // namespace veldrane::texts
