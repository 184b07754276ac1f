// The header's bytes: the type as a 32-bit integer, then the description as a string.
#include "fw/archive.h"
#include "tarko/header.h"

void CTarkoHeader::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << type_ << desc_;
    return;
  }
  int32_t type = 0;
  ar >> type;
  // A file of another kind is refused rather than read as this one.
  if (type != type_) ar.Fail(ArchiveCause::kBadHeader);
  ar >> desc_;
}
