// Station text lines: one station per line, six fields separated by tabs, ended by CR LF:
//   name, kind, station number, decimals, tag name, description
// The writer is CStationInfo::SerializeText. The reader is lenient: it skips lines without a
// tab, drops lines with a bad station number or decimals (silently), turns a bad kind into 0 and
// merges every other line into the document by station name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "config/doc.h"
#include "config/station_info.h"

class CArchive;

namespace veldrane {

// Characters of one line; a longer line is cut there and the rest read as the next line.
inline constexpr size_t kTextLineLimit = 1024;

enum class LineVerdict { kApplied, kDropped, kSkipped };

// What became of the lines of one paste.
struct TextLineTally {
  int64_t applied = 0;
  int64_t dropped = 0;
  int64_t skipped = 0;
};

// Parses one line (without its end; it ends at its first zero byte, as clipboard memory does)
// into `record`, which holds the initial values of a new station. kApplied: merge the record.
LineVerdict ParseStationLine(const char* line, CStationInfo& record);

// Reads lines from `ar` until its data ends and merges each accepted one into `doc`.
TextLineTally ReadStationLines(CArchive& ar, CVeldraneDoc& doc);

// Writes the line of every station, in list order.
void WriteStationLines(CArchive& ar, const CVeldraneDoc& doc);

// Merges many records by name with the result of CVeldraneDoc::MergeStation for each (the first
// station of that name in list order takes the fields, or a new one is appended), through an
// index by folded name instead of a walk from the head. Nothing else may change the station
// list while a merger is in use.
class StationMerger {
 public:
  explicit StationMerger(CVeldraneDoc& doc);
  void Merge(const CStationInfo& record);

 private:
  CVeldraneDoc& doc_;
  std::unordered_map<std::string, CStationInfo*> index_;
};

}  // namespace veldrane
