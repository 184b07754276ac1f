#include "config/text_lines.h"

#include <cstring>
#include <optional>

#include "config/station_name.h"
#include "fw/archive.h"
#include "hostlink/station_limits.h"

namespace veldrane {
namespace {

constexpr int kMaxFields = 6;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct Field {
  const char* text;
  size_t length;
};

struct Number {
  uint32_t value;
  bool left_over;  // characters follow the number, or the field holds no digits
};

// The standard library's unsigned conversion in base 10, on 32 bits: leading white space, one
// sign (minus negates in unsigned arithmetic), digits; beyond the range the largest value. A
// field without digits is left over as a whole, except the empty field, which is 0.
Number ConvertNumber(Field f) {
  size_t i = 0;
  while (i < f.length && IsSpace(f.text[i])) ++i;
  bool negative = false;
  if (i < f.length && (f.text[i] == '+' || f.text[i] == '-')) negative = f.text[i++] == '-';
  size_t digits = i;
  uint64_t value = 0;
  bool overflow = false;
  for (; i < f.length && f.text[i] >= '0' && f.text[i] <= '9'; ++i) {
    if (!overflow) {
      value = value * 10 + static_cast<uint64_t>(f.text[i] - '0');
      overflow = value > UINT32_MAX;
    }
  }
  if (i == digits) return {0, f.length > 0};
  uint32_t result = static_cast<uint32_t>(value);
  if (overflow) {
    result = UINT32_MAX;
  } else if (negative) {
    result = 0u - result;
  }
  return {result, i < f.length};
}

// Trimmed at both ends and upper-cased (single-byte letters only).
CString NameText(Field f) {
  CString text(f.text, f.length);
  text.Trim();
  UpperCaseStationText(text);
  return text;
}

}  // namespace

LineVerdict ParseStationLine(const char* line, CStationInfo& record) {
  // At most five splits from the left: the description keeps any further tabs.
  Field fields[kMaxFields];
  int count = 0;
  const char* start = line;
  const char* end = line + std::strlen(line);
  while (count < kMaxFields - 1) {
    const char* tab = static_cast<const char*>(std::memchr(start, '\t', end - start));
    if (!tab) break;
    fields[count++] = {start, static_cast<size_t>(tab - start)};
    start = tab + 1;
  }
  if (count == 0) return LineVerdict::kSkipped;
  fields[count++] = {start, static_cast<size_t>(end - start)};

  record.name = NameText(fields[0]);

  Number kind = ConvertNumber(fields[1]);
  int32_t kind_value = static_cast<int32_t>(kind.value);
  record.kind = (kind.left_over || !IsValidKind(kind_value)) ? 0 : kind_value;

  if (count > 2) {
    Number number = ConvertNumber(fields[2]);
    int32_t value = static_cast<int32_t>(number.value);
    if (number.left_over || !IsValidStationNumber(value)) return LineVerdict::kDropped;
    record.number = value;
  }
  if (count > 3) {
    Number decimals = ConvertNumber(fields[3]);
    if (decimals.left_over || !IsValidDecimals(decimals.value)) return LineVerdict::kDropped;
    record.decimals = decimals.value;
  }
  if (count > 4) record.tag_name = NameText(fields[4]);
  if (count > 5) record.description.Assign(fields[5].text, fields[5].length);
  return LineVerdict::kApplied;
}

TextLineTally ReadStationLines(CArchive& ar, CVeldraneDoc& doc) {
  TextLineTally tally;
  // Built at the first line that reaches the document.
  std::optional<StationMerger> merger;
  char buffer[kTextLineLimit + 1];
  while (ar.ReadString(buffer, kTextLineLimit)) {
    CStationInfo record;
    switch (ParseStationLine(buffer, record)) {
      case LineVerdict::kApplied:
        if (!merger) merger.emplace(doc);
        merger->Merge(record);
        ++tally.applied;
        break;
      case LineVerdict::kDropped:
        ++tally.dropped;
        break;
      case LineVerdict::kSkipped:
        ++tally.skipped;
        break;
    }
  }
  return tally;
}

void WriteStationLines(CArchive& ar, const CVeldraneDoc& doc) {
  for (const auto& station : doc.Stations()) station->SerializeText(ar);
}

StationMerger::StationMerger(CVeldraneDoc& doc) : doc_(doc) {
  index_.reserve(doc.Stations().size());
  // emplace keeps the first station of a name, the one a walk from the head finds.
  for (const auto& station : doc.Stations()) {
    index_.emplace(FoldStationName(station->name.GetString(), station->name.GetLength()),
                   station.get());
  }
}

void StationMerger::Merge(const CStationInfo& record) {
  std::string key = FoldStationName(record.name.GetString(), record.name.GetLength());
  auto it = index_.find(key);
  CStationInfo& station = doc_.MergeStation(record, it == index_.end() ? nullptr : it->second);
  // A matched station keeps its key: its new name folds the same.
  if (it == index_.end()) index_.emplace(std::move(key), &station);
}

}  // namespace veldrane
