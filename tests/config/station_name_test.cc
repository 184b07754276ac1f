// Station names: ASCII letters without regard to case, double-byte characters exactly.
#include <gtest/gtest.h>

#include <string>

#include "config/station_name.h"
#include "fw/cstring.h"

namespace {

TEST(StationName, AsciiLettersIgnoreCaseDoubleByteCharactersDoNot) {
  using veldrane::SameStationName;
  struct Case {
    std::string a, b;
    bool same;
  };
  const Case cases[] = {
      {"line1", "LINE1", true},
      {"Pump-1", "pUMP-1", true},
      {"PUMP1", "PUMP2", false},
      {"", "", true},
      {"A", "", false},
      {"\x81\x41", "\x81\x61", false},  // two syllables whose trail bytes are A and a
      {"\x81\x41", "\x81\x41", true},
      {"X\x81\x41y", "x\x81\x41Y", true},  // letters around a syllable still fold
      {"\xB1\xB9", "\xB1\xB9", true},
      {"\xB1\xB9"
       "a",
       "\xB1\xB9"
       "A",
       true},
      {"\xE0", "\xC0", false},  // high bytes never fold
      {std::string("A\0B", 3), "A", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameStationName(c.a.data(), c.a.size(), c.b.data(), c.b.size()), c.same)
        << c.a << " / " << c.b;
  }
}

TEST(StationName, UpperCasingLeavesDoubleByteCharactersAlone) {
  CString s("pump \x81\x61 a\xB1\xB9z");
  veldrane::UpperCaseStationText(s);
  EXPECT_EQ(s, "PUMP \x81\x61 A\xB1\xB9Z");
  CString lone("ab\x81");  // a lead byte at the very end stays as it is
  veldrane::UpperCaseStationText(lone);
  EXPECT_EQ(lone, "AB\x81");
}

}  // namespace
