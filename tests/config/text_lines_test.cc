// Station text lines: the writer, the lenient reader, merging by name (with Korean names) and
// the merge index against the walk from the head.
#include <gtest/gtest.h>

#include <random>

#include "config/doc.h"
#include "config/station_name.h"
#include "config/text_lines.h"
#include "fw/archive.h"

namespace veldrane::test {
namespace {

const std::string kGak = "\x81\x41";  // 갂: the trail byte is the letter A
const std::string kGat = "\x81\x61";  // 갵: the trail byte is the letter a

std::string Text(const CString& s) {
  return std::string(s.GetString(), s.GetLength());
}

CStationInfo& Add(CVeldraneDoc& doc, const std::string& name, int32_t number = 0) {
  auto st = std::make_unique<CStationInfo>();
  st->name.Assign(name.data(), name.size());
  st->number = number;
  doc.Stations().push_back(std::move(st));
  return *doc.Stations().back();
}

TextLineTally Paste(CVeldraneDoc& doc, const std::string& text) {
  CMemFile file(text.data(), text.size());
  CArchive ar(&file, CArchive::kLoad);
  return ReadStationLines(ar, doc);
}

std::string Copy(const CVeldraneDoc& doc) {
  CMemFile file;
  CArchive ar(&file, CArchive::kStore);
  WriteStationLines(ar, doc);
  ar.Close();
  return file.Data();
}

// The six fields as one line, to compare stations at a glance.
std::string Fields(const CStationInfo& st) {
  return Text(st.name) + "|" + std::to_string(st.kind) + "|" + std::to_string(st.number) + "|" +
         std::to_string(st.decimals) + "|" + Text(st.tag_name) + "|" + Text(st.description);
}

TEST(TextLines, WriterFormat) {
  CVeldraneDoc doc;
  CStationInfo& st = Add(doc, "Pump1", 10);
  st.kind = 3;
  st.decimals = 2;
  st.tag_name = "Flow1";
  st.description = "Tank A";
  EXPECT_EQ(Copy(doc), "Pump1\t3\t10\t2\tFlow1\tTank A\r\n");
}

// One line pasted into an empty document: the station it yields, or none.
TEST(TextLines, ReaderCases) {
  struct Case {
    const char* line;
    const char* station;  // null: nothing reaches the document
    LineVerdict verdict;
  } cases[] = {
      {"Pump1\t3\t10\t2\tFlow1\tTank A", "PUMP1|3|10|2|FLOW1|Tank A", LineVerdict::kApplied},
      {"name\t2", "NAME|2|0|0||", LineVerdict::kApplied},
      {"  pump 1 \t1\t5\t0\t flow \t  desc  ", "PUMP 1|1|5|0|FLOW|  desc  ", LineVerdict::kApplied},
      {"a\t1\t256", nullptr, LineVerdict::kDropped},
      {"a\t1\t-1", nullptr, LineVerdict::kDropped},
      {"a\t1\t7x", nullptr, LineVerdict::kDropped},
      {"a\t1\t7 ", nullptr, LineVerdict::kDropped},
      {"a\t1\t   ", nullptr, LineVerdict::kDropped},
      {"a\t1\t+", nullptr, LineVerdict::kDropped},
      {"a\t1\t99999999999", nullptr, LineVerdict::kDropped},
      {"a\t1\t\t3", "A|1|0|3||", LineVerdict::kApplied},  // an empty number is 0
      {"a\t1\t 255", "A|1|255|0||", LineVerdict::kApplied},
      {"a\t1\t+7", "A|1|7|0||", LineVerdict::kApplied},
      {"a\t7\t1", "A|0|1|0||", LineVerdict::kApplied},
      {"a\t-1\t1", "A|0|1|0||", LineVerdict::kApplied},
      {"a\t2x\t1", "A|0|1|0||", LineVerdict::kApplied},
      {"a\t-4294967290\t1", "A|6|1|0||", LineVerdict::kApplied},  // minus wraps as unsigned
      {"a\t\t1", "A|0|1|0||", LineVerdict::kApplied},
      {"a\t1\t1\t8", nullptr, LineVerdict::kDropped},
      {"a\t1\t1\t-1", nullptr, LineVerdict::kDropped},
      {"a\t1\t1\t7", "A|1|1|7||", LineVerdict::kApplied},
      {"a\t1\t1\t1\tt\td\te\tf", "A|1|1|1|T|d\te\tf", LineVerdict::kApplied},
      {"\t1", "|1|0|0||", LineVerdict::kApplied},  // an empty name is taken
      {"no tab", nullptr, LineVerdict::kSkipped},
      {"", nullptr, LineVerdict::kSkipped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CStationInfo record;
    EXPECT_EQ(ParseStationLine(c.line, record), c.verdict);
    CVeldraneDoc doc;
    TextLineTally tally = Paste(doc, std::string(c.line) + "\r\n");
    EXPECT_EQ(tally.applied, c.station ? 1 : 0);
    if (c.station) {
      ASSERT_EQ(doc.Stations().size(), 1u);
      EXPECT_EQ(Fields(*doc.Stations()[0]), c.station);
    } else {
      EXPECT_TRUE(doc.Stations().empty());
    }
  }
}

TEST(TextLines, BadLinesDoNotStopTheRest) {
  CVeldraneDoc doc;
  TextLineTally t = Paste(doc, "a\t1\t256\r\nno tab\r\n\r\nb\t1\t2\r\nc\t1\t2\t9\nd\t1\t3");
  EXPECT_EQ(t.applied, 2);
  EXPECT_EQ(t.dropped, 2);
  EXPECT_EQ(t.skipped, 2);
  ASSERT_EQ(doc.Stations().size(), 2u);
  EXPECT_EQ(Text(doc.Stations()[1]->name), "D");  // the last line needs no end
}

TEST(TextLines, ClipboardZerosAndLongLines) {
  CVeldraneDoc doc;
  // The zero-filled rest of clipboard memory reads as lines without a tab.
  Paste(doc, std::string("a\t1\t2\r\nb\t3", 10) + std::string(20, '\0'));
  ASSERT_EQ(doc.Stations().size(), 2u);
  EXPECT_EQ(Fields(*doc.Stations()[1]), "B|3|0|0||");

  // 1030 characters: a line of 1024 and a line of 6.
  CVeldraneDoc cut;
  std::string line = "x\t1\t2\t3\tt\t" + std::string(1020, 'd');
  Paste(cut, line.substr(0, 1030) + "\r\n");
  ASSERT_EQ(cut.Stations().size(), 1u);
  EXPECT_EQ(cut.Stations()[0]->description.GetLength(), 1024u - 10u);
}

TEST(TextLines, MergeUpdatesInPlaceOrAppends) {
  CVeldraneDoc doc;
  Add(doc, "Pump1", 1);
  Add(doc, "Other", 2);
  doc.Stations()[0]->enabled.store(0);
  doc.Stations()[0]->frames_sent.store(9);
  Paste(doc, "pump1\t3\t10\t2\tFlow1\tTank A\r\nNew\t0\t4\r\n");
  ASSERT_EQ(doc.Stations().size(), 3u);
  EXPECT_EQ(Fields(*doc.Stations()[0]), "PUMP1|3|10|2|FLOW1|Tank A");
  EXPECT_EQ(doc.Stations()[0]->enabled.load(), 0);  // run-time fields stay
  EXPECT_EQ(doc.Stations()[0]->frames_sent.load(), 9);
  EXPECT_EQ(Text(doc.Stations()[2]->name), "NEW");
}

TEST(TextLines, CopyAndPasteBackChangesOnlyCase) {
  CVeldraneDoc doc;
  CStationInfo& a = Add(doc, "pump1", 1);
  a.tag_name = "flow";
  a.description = " tabs\tand spaces ";
  Add(doc, kGak + "b", 2);
  TextLineTally t = Paste(doc, Copy(doc));
  EXPECT_EQ(t.applied, 2);
  ASSERT_EQ(doc.Stations().size(), 2u);
  EXPECT_EQ(Fields(*doc.Stations()[0]), "PUMP1|0|1|0|FLOW| tabs\tand spaces ");
  EXPECT_EQ(Text(doc.Stations()[1]->name), kGak + "B");
}

TEST(TextLines, KoreanTrailBytesAreNotLetters) {
  // Upper-casing leaves both bytes of a double-byte character alone.
  CString name((kGat + "x").c_str());
  UpperCaseStationText(name);
  EXPECT_EQ(Text(name), kGat + "X");
  // 갂 and 갵 are different names everywhere a name is compared.
  EXPECT_TRUE(SameStationName(CString((kGak + "x").c_str()), (kGak + "X").c_str()));
  EXPECT_FALSE(SameStationName(CString(kGak.c_str()), kGat.c_str()));
  EXPECT_FALSE(SameStationName(CString(("a" + kGak).c_str()), ("A" + kGat).c_str()));

  CVeldraneDoc doc;
  Add(doc, kGak, 1);
  EXPECT_EQ(doc.FindStation(kGat.c_str()), nullptr);
  EXPECT_EQ(doc.CheckName(kGat.c_str(), nullptr), 0);
  EXPECT_EQ(doc.CheckName(kGak.c_str(), nullptr), CVeldraneDoc::kNameUsed);
  Paste(doc, kGat + "\t1\t2\r\n");
  ASSERT_EQ(doc.Stations().size(), 2u);
  EXPECT_EQ(doc.Stations()[0]->number, 1);
  EXPECT_EQ(doc.FindStation(kGat.c_str()), doc.Stations()[1].get());
}

// The index must give what a walk from the head gives, duplicates in the document included.
TEST(TextLines, MergeIndexMatchesTheWalk) {
  const char* names[] = {"a", "A", "b", "B ", "ab", "Ab", "\x81\x41", "\x81\x61", "\x81\x41Z", ""};
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    CVeldraneDoc indexed, walked;
    for (int i = 0, n = static_cast<int>(random() % 6); i < n; ++i) {
      const char* name = names[random() % std::size(names)];
      Add(indexed, name, i);
      Add(walked, name, i);
    }
    std::string text;
    for (int i = 0, n = static_cast<int>(random() % 12); i < n; ++i) {
      text += std::string(names[random() % std::size(names)]) + "\t" +
              std::to_string(random() % 7) + "\t" + std::to_string(random() % 300) + "\r\n";
    }
    Paste(indexed, text);
    // The reference: each accepted line through the document's own walk.
    CMemFile file(text.data(), text.size());
    CArchive ar(&file, CArchive::kLoad);
    char line[kTextLineLimit + 1];
    while (ar.ReadString(line, kTextLineLimit)) {
      CStationInfo record;
      if (ParseStationLine(line, record) == LineVerdict::kApplied) walked.MergeStation(record);
    }
    ASSERT_EQ(indexed.Stations().size(), walked.Stations().size()) << text;
    for (size_t i = 0; i < walked.Stations().size(); ++i) {
      EXPECT_EQ(Fields(*indexed.Stations()[i]), Fields(*walked.Stations()[i])) << text;
    }
  }
}

}  // namespace
}  // namespace veldrane::test
