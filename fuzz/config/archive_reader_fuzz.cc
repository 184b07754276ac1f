// Configuration files from anywhere: reading never crashes, and a file that loads stores and
// loads again to the same stations.
#include <cstdint>
#include <cstdlib>

#include "config/doc.h"
#include "fw/archive.h"

namespace {

void Load(CVeldraneDoc& doc, const void* data, size_t size) {
  CMemFile file(data, size);
  CArchive ar(&file, CArchive::kLoad);
  doc.Serialize(ar);
}

bool Same(const CStationInfo& a, const CStationInfo& b) {
  return a.name == b.name && a.description == b.description && a.kind == b.kind &&
         a.number == b.number && a.decimals == b.decimals && a.tag_name == b.tag_name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CVeldraneDoc doc;
  try {
    Load(doc, data, size);
  } catch (const CArchiveException&) {
    if (!doc.Stations().empty() || !doc.Names().empty()) std::abort();  // nothing of it kept
    return 0;
  }
  CMemFile stored;
  CArchive out(&stored, CArchive::kStore);
  doc.Serialize(out);
  out.Close();
  CVeldraneDoc again;
  Load(again, stored.Data().data(), stored.Data().size());
  if (again.Stations().size() != doc.Stations().size()) std::abort();
  for (size_t i = 0; i < doc.Stations().size(); ++i) {
    if (!Same(*doc.Stations()[i], *again.Stations()[i])) std::abort();
  }
  return 0;
}
