// Code page 949 on a system without its converter: plain ASCII still converts; anything else
// bound for code page 949 fails with the reason instead of being stored in the wrong encoding,
// and text shown comes out as U+FFFD, never as the unconverted bytes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "fw/archive.h"
#include "platform/text/cp949.h"
#include "tests/support/fault_script.h"

namespace veldrane::test {
namespace {

using namespace veldrane::platform;

const std::string kGaNa = "\xB0\xA1\xB3\xAA";              // 가나 in code page 949
const std::string kGaNaUtf8 = "\xEA\xB0\x80\xEB\x82\x98";  // 가나 in UTF-8

TEST(Cp949WithoutConverter, AsciiConvertsTheRestFailsOrShowsAsReplacement) {
  InstalledApi<CodePageApi> none(&SetCodePageApi, NoCodePageApi());
  EXPECT_EQ(Utf8ToCp949(std::string("PUMP 1")), "PUMP 1");
  EXPECT_THROW(Utf8ToCp949(kGaNaUtf8), std::runtime_error);
  const uint16_t ascii[] = {'T', '1'};
  const uint16_t ga[] = {'T', 0xAC00};
  EXPECT_EQ(Utf16ToCp949(ascii, 2), "T1");
  EXPECT_THROW(Utf16ToCp949(ga, 2), std::runtime_error);
  EXPECT_EQ(Cp949ToUtf8("A" + kGaNa + "\xB0"), "A\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Cp949ToUtf8Exact("A1"), "A1");
  try {
    Cp949ToUtf8Exact(kGaNa);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), kNoCp949Converter);
  }

  // A string stored as UTF-16 (the archive's wide form) is not read as anything else.
  const std::string wide("\xFF\xFE\xFF\x01\x00\xAC", 6);
  CMemFile file(wide.data(), wide.size());
  CArchive ar(&file, CArchive::kLoad);
  CString s;
  EXPECT_THROW(ar >> s, std::runtime_error);
}

}  // namespace
}  // namespace veldrane::test
