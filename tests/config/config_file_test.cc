// Configuration files: the byte layouts, and reading damaged or hostile files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "config/doc.h"
#include "fw/archive.h"
#include "tests/support/faulty_file_api.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace veldrane::test {
namespace {

const std::string kGa = "\xB0\xA1";   // 가
const std::string kNa = "\xB3\xAA";   // 나
const std::string kGak = "\x81\x41";  // 갂: the trail byte is the letter A
const std::string kGat = "\x81\x61";  // 갵: the trail byte is the letter a

std::unique_ptr<CStationInfo> MakeStation(const std::string& name, int32_t kind, int32_t number,
                                          uint32_t decimals, const std::string& tag,
                                          const std::string& description = "") {
  auto st = std::make_unique<CStationInfo>();
  st->name.Assign(name.data(), name.size());
  st->description.Assign(description.data(), description.size());
  st->kind = kind;
  st->number = number;
  st->decimals = decimals;
  st->tag_name.Assign(tag.data(), tag.size());
  return st;
}

std::string Saved(CVeldraneDoc& doc) {
  TempDir dir;
  doc.SaveFile(dir.File("a.cfg").c_str());
  return ReadFile(dir.File("a.cfg"));
}

void LoadBytes(CVeldraneDoc& doc, const std::string& bytes) {
  CMemFile file(bytes.data(), bytes.size());
  CArchive ar(&file, CArchive::kLoad);
  doc.Serialize(ar);
}

// The failure of loading `bytes` into a new document, which must stay as constructed.
CArchiveException LoadFailure(const std::string& bytes) {
  CVeldraneDoc doc;
  try {
    LoadBytes(doc, bytes);
  } catch (const CArchiveException& e) {
    EXPECT_TRUE(doc.Stations().empty());
    EXPECT_TRUE(doc.Names().empty());
    EXPECT_EQ(doc.Port().baud_index, 5);
    return e;
  }
  ADD_FAILURE() << "the load did not fail";
  return CArchiveException(ArchiveCause::kEndOfData, 0, "");
}

void ExpectStation(const CStationInfo& st, const Station& want) {
  EXPECT_EQ(std::string(st.name.GetString(), st.name.GetLength()), want.name);
  EXPECT_EQ(std::string(st.description.GetString(), st.description.GetLength()), want.description);
  EXPECT_EQ(st.kind, want.kind);
  EXPECT_EQ(st.number, want.number);
  EXPECT_EQ(st.decimals, want.decimals);
  EXPECT_EQ(std::string(st.tag_name.GetString(), st.tag_name.GetLength()), want.tag);
}

TEST(ConfigFile, EmptyDocumentIsTheHeaderAnd28Bytes) {
  CVeldraneDoc doc;
  const std::string body(
      "\x00\x00"
      "\x00\x00\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00"
      "\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00",
      28);
  EXPECT_EQ(Saved(doc), std::string("\x03\x00\x00\x00\x0C", 5) + "Veldrane.Dll" + body);
}

TEST(ConfigFile, TwoStationsByteForByte) {
  CVeldraneDoc doc;
  doc.Stations().push_back(MakeStation("A", 1, 2, 3, "T"));
  doc.Stations().push_back(MakeStation("B", 0, 5, 0, ""));
  const std::string body = std::string(
                               "\x02\x00\x01"
                               "A\x01"
                               "B",
                               6) +
                           BodyBytes({}).substr(2, 24) + std::string("\x02\x00", 2) +
                           std::string("\xFF\xFF\x01\x00\x0C\x00", 6) + "CStationInfo" +
                           std::string(
                               "\x01"
                               "A\x00\x01\x00\x00\x00\x02\x00\x00\x00"
                               "\x03\x00\x00\x00\x01"
                               "T",
                               17) +
                           std::string("\x01\x80", 2) +
                           std::string(
                               "\x01"
                               "B\x00\x00\x00\x00\x00\x05\x00\x00\x00"
                               "\x00\x00\x00\x00\x00",
                               16);
  std::string file = Saved(doc);
  EXPECT_EQ(file, HeaderBytes() + body);

  CVeldraneDoc back;
  LoadBytes(back, file);
  ASSERT_EQ(back.Stations().size(), 2u);
  ExpectStation(*back.Stations()[0], {"A", "", 1, 2, 3, "T"});
  ExpectStation(*back.Stations()[1], {"B", "", 0, 5, 0, ""});
  ASSERT_EQ(back.Names().size(), 2u);
  EXPECT_EQ(back.Names()[1], "B");
  EXPECT_EQ(back.GetPath(), "");  // loading sets no path
}

// Another module of the process registering a class of the same name (the newest registration
// answers lookups by name) must not change what the document reads its stations as.
TEST(ConfigFile, StationsAreReadAsTheDocumentsOwnClass) {
  CVeldraneDoc doc;
  doc.Stations().push_back(MakeStation("A", 1, 2, 3, "T"));
  std::string file = Saved(doc);
  CRuntimeClass other{"CStationInfo", 1, nullptr};
  CRuntimeClassRegistrar registrar(&other);
  ASSERT_EQ(FindRuntimeClass("CStationInfo", 12), &other);
  CVeldraneDoc back;
  LoadBytes(back, file);
  ASSERT_EQ(back.Stations().size(), 1u);
  EXPECT_EQ(back.Stations()[0]->GetRuntimeClass(), &CStationInfo::kRuntimeClass);
  ExpectStation(*back.Stations()[0], {"A", "", 1, 2, 3, "T"});
}

TEST(ConfigFile, StringPrefixesAtTheirBoundaries) {
  struct Case {
    size_t length;
    std::string prefix;
  } cases[] = {{0, std::string("\x00", 1)},
               {254, "\xFE"},
               {255, std::string("\xFF\xFF\x00", 3)},
               {300, "\xFF\x2C\x01"},
               {0xFFFD, "\xFF\xFD\xFF"},
               {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
               {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string description(c.length, 'd');
    CVeldraneDoc doc;
    doc.Stations().push_back(MakeStation("A", 0, 0, 0, "", description));
    std::string file = Saved(doc);
    EXPECT_EQ(file, FileBytes({{"A", description}}));
    // The description's prefix follows the class description and the name.
    size_t at = HeaderBytes().size() + 2 + 2 + 24 + 2 + 6 + 12 + 2;
    EXPECT_EQ(file.substr(at, c.prefix.size()), c.prefix);
    CVeldraneDoc back;
    LoadBytes(back, file);
    ASSERT_EQ(back.Stations().size(), 1u);
    EXPECT_EQ(back.Stations()[0]->description.GetLength(), c.length);
  }
}

TEST(ConfigFile, KoreanNameCountsBytes) {
  CVeldraneDoc doc;
  doc.Stations().push_back(MakeStation(kGa + kNa, 0, 1, 0, ""));
  std::string file = Saved(doc);
  EXPECT_EQ(file.substr(HeaderBytes().size(), 7), std::string("\x01\x00\x04", 3) + kGa + kNa);
  CVeldraneDoc back;
  LoadBytes(back, file);
  EXPECT_EQ(back.Stations()[0]->name, CString((kGa + kNa).c_str()));
}

TEST(ConfigFile, ReadsWideStringsAsCodePage949) {
  // The name as 16-bit characters: 가 is U+AC00, 나 U+B098.
  Bytes b;
  b.raw(HeaderBytes()).count(0).u32(0).u32(5).u32(0).u32(1).u32(0).u32(0).count(1);
  b.u16(0xFFFF).u16(1).u16(12).raw("CStationInfo");
  b.u8(0xFF).u16(0xFFFE).u8(2).u16(0xAC00).u16(0xB098);  // name
  b.u8(0xFF).u16(0xFFFE).u8(0xFF).u16(1).u16('x');       // description, long prefix form
  b.u32(0).u32(9).u32(0).str("");
  CVeldraneDoc doc;
  LoadBytes(doc, b.str());
  ASSERT_EQ(doc.Stations().size(), 1u);
  ExpectStation(*doc.Stations()[0], {kGa + kNa, "x", 0, 9, 0, ""});
}

TEST(ConfigFile, LongCountForm) {
  Bytes b;
  b.raw(HeaderBytes()).u16(0xFFFF).u32(2).str("X").str("Y");
  b.u32(2).u32(5).u32(0).u32(1).u32(0).u32(0).u16(0xFFFF).u32(0);
  CVeldraneDoc doc;
  LoadBytes(doc, b.str());
  ASSERT_EQ(doc.Names().size(), 2u);
  EXPECT_EQ(doc.Names()[1], "Y");
  EXPECT_EQ(doc.Port().port_index, 2);
}

TEST(ConfigFile, MoreThan32767StationsUseTheLongTag) {
  const uint32_t kCount = 32800;
  CVeldraneDoc doc;
  std::vector<Station> want;
  for (uint32_t i = 0; i < kCount; ++i) {
    std::string name = "S" + std::to_string(i);
    want.push_back(
        {name, "", static_cast<int32_t>(i % 7), static_cast<int32_t>(i % 256), i % 8, "T"});
    doc.Stations().push_back(
        MakeStation(name, want.back().kind, want.back().number, want.back().decimals, "T"));
  }
  std::string file = Saved(doc);
  std::string expected = FileBytes(want);
  ASSERT_EQ(file.size(), expected.size());
  EXPECT_TRUE(file == expected);
  EXPECT_NE(file.find(std::string("\xFF\x7F\x01\x00\x00\x80", 6)), std::string::npos);

  CVeldraneDoc back;
  LoadBytes(back, file);
  ASSERT_EQ(back.Stations().size(), kCount);
  for (uint32_t i : {0u, 32764u, 32765u, 32766u, kCount - 1}) {
    SCOPED_TRACE(i);
    ExpectStation(*back.Stations()[i], want[i]);
  }
}

TEST(ConfigFile, ReadsTheLongTagAnywhere) {
  Bytes b;
  b.raw(HeaderBytes()).count(0).raw(BodyBytes({}).substr(2, 24)).count(2);
  AppendStation(b, {"A"}, 1);
  b.u16(0x7FFF).u32(0x80000001u).str("B").str("").u32(0).u32(1).u32(0).str("");
  CVeldraneDoc doc;
  LoadBytes(doc, b.str());
  ASSERT_EQ(doc.Stations().size(), 2u);
  EXPECT_EQ(doc.Stations()[1]->name, "B");
}

// Files that must be refused as a whole, with the cause and section of the failure.
TEST(ConfigFile, RefusesDamagedAndHostileFiles) {
  const std::string header = HeaderBytes();
  const std::string port = BodyBytes({}).substr(2, 24);
  auto stations = [&](const std::string& list) {
    return header + std::string("\x00\x00", 2) + port + list;
  };
  auto one = [&](const std::string& tag_and_class) {
    return stations(Bytes().count(1).raw(tag_and_class).str()) +
           Bytes().str("A").str("").u32(0).u32(0).u32(0).str("").str();
  };
  const std::string klass = Bytes().u16(0xFFFF).u16(1).u16(12).raw("CStationInfo").str();
  struct Case {
    const char* what;
    std::string bytes;
    ArchiveCause cause;
    const char* section;
    uint64_t offset;
  } cases[] = {
      {"header of type 4", HeaderBytes(4) + BodyBytes({}), ArchiveCause::kBadHeader, "header", 0},
      {"empty file", "", ArchiveCause::kEndOfData, "header", 0},
      {"name count beyond the data", header + Bytes().u16(0xFFFF).u32(0x7FFFFFFF).str(),
       ArchiveCause::kTooLong, "station names", header.size()},
      {"string length beyond the data",
       header + Bytes().count(1).u8(0xFF).u16(0xFFFF).u32(0xFFFFFFF0u).str(),
       ArchiveCause::kTooLong, "station names", header.size() + 2},
      {"wide string length beyond the data",
       header + Bytes().count(1).u8(0xFF).u16(0xFFFE).u8(0xFF).u16(0xFFFF).u32(0x80000000u).str(),
       ArchiveCause::kTooLong, "station names", header.size() + 2},
      {"station count beyond the data", stations(Bytes().count(40).str()), ArchiveCause::kTooLong,
       "stations", header.size() + 26},
      {"schema 2", one(Bytes().u16(0xFFFF).u16(2).u16(12).raw("CStationInfo").str()),
       ArchiveCause::kBadSchema, "stations", header.size() + 28},
      {"class name in other case",
       one(Bytes().u16(0xFFFF).u16(1).u16(12).raw("CSTATIONINFO").str()),
       ArchiveCause::kUnknownClass, "stations", header.size() + 28},
      {"class name of 64 bytes",
       one(Bytes().u16(0xFFFF).u16(1).u16(64).raw(std::string(64, 'C')).str()),
       ArchiveCause::kClassNameTooLong, "stations", header.size() + 28},
      {"another registered class", one(Bytes().u16(0xFFFF).u16(1).u16(11).raw("CSerialPort").str()),
       ArchiveCause::kWrongClass, "stations", header.size() + 28},
      {"class index never given", one(Bytes().u16(0x8001).str()), ArchiveCause::kBadIndex,
       "stations", header.size() + 28},
      {"class index of an object",
       stations(Bytes()
                    .count(2)
                    .raw(klass)
                    .str("A")
                    .str("")
                    .u32(0)
                    .u32(0)
                    .u32(0)
                    .str("")
                    .u16(0x8002)
                    .str("B")
                    .str("")
                    .u32(0)
                    .u32(0)
                    .u32(0)
                    .str("")
                    .str()),
       ArchiveCause::kBadIndex, "stations", header.size() + 28 + 18 + 16},
      {"null tag", one(Bytes().u16(0).str()), ArchiveCause::kUnexpectedTag, "stations",
       header.size() + 28},
      {"back-reference",
       stations(
           Bytes().count(2).raw(klass).str("A").str("").u32(0).u32(0).u32(0).str("").u16(2).str()),
       ArchiveCause::kUnexpectedTag, "stations", header.size() + 28 + 18 + 16},
      {"trailing byte", HeaderBytes() + BodyBytes({{"A"}}) + "x", ArchiveCause::kTrailingData,
       "stations", header.size() + BodyBytes({{"A"}}).size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CArchiveException e = LoadFailure(c.bytes);
    EXPECT_EQ(e.cause(), c.cause) << e.what();
    EXPECT_EQ(e.section(), c.section);
    EXPECT_EQ(e.offset(), c.offset);
  }
}

TEST(ConfigFile, EveryTruncationFailsCleanly) {
  std::string file = FileBytes({{"PUMP1", "Tank A", 3, 10, 2, "FLOW1"},
                                {kGa + kNa, std::string(300, 'd'), 1, 2, 3, ""},
                                {"B", "", 0, 5, 0, "T"}});
  for (size_t n = 0; n < file.size(); ++n) {
    SCOPED_TRACE(n);
    CArchiveException e = LoadFailure(file.substr(0, n));
    EXPECT_TRUE(e.cause() == ArchiveCause::kEndOfData || e.cause() == ArchiveCause::kTooLong)
        << e.what();
    EXPECT_LE(e.offset(), n);
  }
}

TEST(ConfigFile, RandomByteChangesNeverCrash) {
  std::vector<Station> many;
  for (int i = 0; i < 40; ++i) many.push_back({"S" + std::to_string(i), "d", i % 7, i, 1, "T"});
  const std::string file = FileBytes(many);
  std::mt19937 random(1234);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = file;
    int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i) {
      bytes[random() % bytes.size()] = static_cast<char>(random() & 0xFF);
    }
    CVeldraneDoc doc;
    try {
      LoadBytes(doc, bytes);
      ++loaded;
    } catch (const CArchiveException&) {
      EXPECT_TRUE(doc.Stations().empty());
    }
  }
  EXPECT_GT(loaded, 0);  // changes inside texts and numbers still load
}

TEST(ConfigFile, LoadFromDiskNamesWhatFailed) {
  TempDir dir;
  CVeldraneDoc doc;
  EXPECT_FALSE(doc.Load(dir.File("missing.cfg").c_str()));
  try {
    doc.LoadFile(dir.File("missing.cfg").c_str());
    FAIL();
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.cause(), ArchiveCause::kFileError);
    EXPECT_EQ(e.sys_error(), ENOENT);
  }
  WriteFile(dir.File("short.cfg"), FileBytes({{"A"}}).substr(0, 40));
  try {
    doc.LoadFile(dir.File("short.cfg").c_str());
    FAIL();
  } catch (const CArchiveException& e) {
    EXPECT_STREQ(e.what(), "the data ends early at byte 37 in the port settings");
  }
  WriteFile(dir.File("good.cfg"), FileBytes({{"A", "", 1, 2, 3, "T"}}, {2, 6, 1, 0, 1, 2}));
  ASSERT_TRUE(doc.Load(dir.File("good.cfg").c_str()));
  EXPECT_EQ(doc.Port().port_index, 2);
  EXPECT_TRUE(doc.Port().RtsCts());
  ExpectStation(*doc.Stations()[0], {"A", "", 1, 2, 3, "T"});
}

// Reading's system calls failing one at a time: a refused open or a failing read is the file
// error with the system's reason, and the document keeps nothing of the file; a file whose size
// cannot be told is read to its end all the same.
TEST(ConfigFile, ReadingFailuresKeepTheSystemsReason) {
  TempDir dir;
  const std::string path = dir.File("line.cfg");
  std::vector<Station> stations;
  for (int i = 0; i < 600; ++i) stations.push_back({"S" + std::to_string(i), "", 1, i % 256, 0});
  WriteFile(path, FileBytes(stations));  // several reads of the archive's buffer
  struct Case {
    FaultScript::Fault fault;
    const char* what;  // the start of the message; null: the file loads
  } cases[] = {
      {{"open_read", 1, EACCES}, "cannot open "},
      {{"read", 1, EIO}, "cannot read"},
      {{"read", 2, EIO}, "cannot read"},  // among the stations
      {{"size", 1, EINVAL}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault.call + " #" + std::to_string(c.fault.nth));
    FaultyFiles files;
    Faults().Set({c.fault});
    CVeldraneDoc doc;
    try {
      doc.LoadFile(path.c_str());
      EXPECT_EQ(c.what, nullptr) << "the load did not fail";
      ASSERT_EQ(doc.Stations().size(), 600u);
      EXPECT_EQ(doc.Stations().back()->name, "S599");
    } catch (const CArchiveException& e) {
      ASSERT_NE(c.what, nullptr) << e.what();
      EXPECT_EQ(e.cause(), ArchiveCause::kFileError);
      EXPECT_EQ(e.sys_error(), c.fault.error);
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(c.what, 0), 0u) << message;
      EXPECT_NE(message.find(std::strerror(c.fault.error)), std::string::npos) << message;
      EXPECT_TRUE(doc.Stations().empty());
      EXPECT_TRUE(doc.Names().empty());
    }
    EXPECT_EQ(Faults().Count(c.fault.call), c.fault.nth);  // the fault was reached
  }
}

}  // namespace
}  // namespace veldrane::test
