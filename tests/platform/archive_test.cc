// The archive's own rules beyond the configuration file: text lines, files that cannot tell their
// length, object indexes of several classes, and what a failure says.
#include <gtest/gtest.h>

#include <cstring>

#include "fw/archive.h"
#include "tests/support/file_bytes.h"

namespace veldrane::test {
namespace {

class CTestItem : public CObject {
  FW_DECLARE_SERIAL(CTestItem)
 public:
  void Serialize(CArchive& ar) override {
    if (ar.IsStoring()) {
      ar << value;
    } else {
      ar >> value;
    }
  }
  int32_t value = 0;
};
FW_IMPLEMENT_SERIAL(CTestItem, 1)

class CTestOther : public CObject {
  FW_DECLARE_SERIAL(CTestOther)
};
FW_IMPLEMENT_SERIAL(CTestOther, 1)

std::vector<std::string> Lines(const std::string& text, size_t max = 1024) {
  CMemFile file(text.data(), text.size());
  CArchive ar(&file, CArchive::kLoad, 7);  // a small buffer crosses its end inside lines
  std::vector<std::string> lines;
  std::vector<char> buffer(max + 1);
  while (ar.ReadString(buffer.data(), max)) lines.emplace_back(buffer.data());
  return lines;
}

TEST(Archive, ReadStringLines) {
  using L = std::vector<std::string>;
  EXPECT_EQ(Lines(""), L{});
  EXPECT_EQ(Lines("a\r\nb\r\n"), (L{"a", "b"}));
  EXPECT_EQ(Lines("a\nb"), (L{"a", "b"}));  // the last line needs no end
  EXPECT_EQ(Lines("\r\n\r\n"), (L{"", ""}));
  // A carriage return takes the one character after it along, whatever it is.
  EXPECT_EQ(Lines("a\rXb\r"), (L{"a", "b"}));
  EXPECT_EQ(Lines("abcdefgh\r\n", 5), (L{"abcde", "fgh"}));
  EXPECT_EQ(Lines("abcde\r\nf", 5), (L{"abcde", "", "f"}));
  EXPECT_EQ(Lines(std::string(1030, 'x')), (L{std::string(1024, 'x'), std::string(6, 'x')}));
}

TEST(Archive, WriteStringHasNoTerminator) {
  CMemFile file;
  CArchive ar(&file, CArchive::kStore);
  ar.WriteString("ab\r\n");
  ar.WriteString(nullptr);
  ar.Close();
  EXPECT_EQ(file.Data(), "ab\r\n");
}

// A file that cannot tell its length, like a pipe.
class PipeFile : public CMemFile {
 public:
  using CMemFile::CMemFile;
  uint64_t BytesLeft() const override { return kUnknownLength; }
};

TEST(Archive, HugeLengthFromAPipeEndsWithTheData) {
  std::string bytes = Bytes().u8(0xFF).u16(0xFFFF).u32(0xFFFFFFF0u).raw("short").str();
  PipeFile file(bytes.data(), bytes.size());
  CArchive ar(&file, CArchive::kLoad);
  CString s;
  try {
    ar >> s;
    FAIL();
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.cause(), ArchiveCause::kEndOfData);
    EXPECT_EQ(e.offset(), 0u);
  }
}

TEST(Archive, ObjectsOfTwoClassesTakeIndexesInOrder) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::kStore);
    CTestItem a, b;
    CTestOther o;
    a.value = 7;
    b.value = 8;
    ar.WriteObject(a);  // class 1, object 2
    ar.WriteObject(o);  // class 3, object 4
    ar.WriteObject(b);  // class 1 again, object 5
    ar.Close();
  }
  std::string want = Bytes()
                         .u16(0xFFFF)
                         .u16(1)
                         .u16(9)
                         .raw("CTestItem")
                         .u32(7)
                         .u16(0xFFFF)
                         .u16(1)
                         .u16(10)
                         .raw("CTestOther")
                         .u16(0x8001)
                         .u32(8)
                         .str();
  EXPECT_EQ(file.Data(), want);

  CMemFile in(want.data(), want.size());
  CArchive ar(&in, CArchive::kLoad);
  EXPECT_EQ(static_cast<CTestItem&>(*ar.ReadObject(&CTestItem::kRuntimeClass)).value, 7);
  EXPECT_NE(ar.ReadObject(nullptr), nullptr);  // any class
  EXPECT_EQ(static_cast<CTestItem&>(*ar.ReadObject(&CTestItem::kRuntimeClass)).value, 8);
  EXPECT_TRUE(ar.AtEnd());
}

TEST(Archive, StoringFailuresCarryTheSystemError) {
  class FullFile : public CMemFile {
   public:
    bool Write(const void*, size_t) override { return false; }
    int LastError() const override { return ENOSPC; }
  } full;
  CArchive ar(&full, CArchive::kStore);
  ar.SetSection("stations");
  ar << int32_t{1};
  try {
    ar.Close();
    FAIL();
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.cause(), ArchiveCause::kFileError);
    EXPECT_EQ(e.sys_error(), ENOSPC);
    EXPECT_NE(std::strstr(e.what(), "No space left"), nullptr) << e.what();
  }
}

TEST(Archive, AttachedMemoryIsReadOnly) {
  CMemFile file("abc", 3);
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_EQ(file.BytesLeft(), 3u);
}

}  // namespace
}  // namespace veldrane::test
