// Pasted text from anywhere: the reader never crashes, and merging through the index gives what
// the walk from the head gives.
#include <cstdint>
#include <cstdlib>

#include "config/doc.h"
#include "config/text_lines.h"
#include "fw/archive.h"

namespace {

void AddStations(CVeldraneDoc& doc) {
  // Names that a paste may hit: case variants, a duplicate, Korean with letter trail bytes.
  for (const char* name : {"PUMP1", "pump1", "\x81\x41", "\x81\x61", "\xB0\xA1", ""}) {
    auto st = std::make_unique<CStationInfo>();
    st->name = name;
    doc.Stations().push_back(std::move(st));
  }
}

bool Same(const CStationInfo& a, const CStationInfo& b) {
  return a.name == b.name && a.description == b.description && a.kind == b.kind &&
         a.number == b.number && a.decimals == b.decimals && a.tag_name == b.tag_name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CVeldraneDoc indexed, walked;
  AddStations(indexed);
  AddStations(walked);
  {
    CMemFile file(data, size);
    CArchive ar(&file, CArchive::kLoad);
    veldrane::ReadStationLines(ar, indexed);
  }
  CMemFile file(data, size);
  CArchive ar(&file, CArchive::kLoad);
  char line[veldrane::kTextLineLimit + 1];
  while (ar.ReadString(line, veldrane::kTextLineLimit)) {
    CStationInfo record;
    if (veldrane::ParseStationLine(line, record) == veldrane::LineVerdict::kApplied) {
      walked.MergeStation(record);
    }
  }
  if (indexed.Stations().size() != walked.Stations().size()) std::abort();
  for (size_t i = 0; i < walked.Stations().size(); ++i) {
    if (!Same(*indexed.Stations()[i], *walked.Stations()[i])) std::abort();
    // Every station's line is well-formed for the writer.
    CMemFile out;
    CArchive text(&out, CArchive::kStore);
    indexed.Stations()[i]->SerializeText(text);
    text.Close();
  }
  return 0;
}
