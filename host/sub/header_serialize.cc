// The header's bytes (written with the archive).
#include "tarko/header.h"

void CTarkoHeader::Serialize(CArchive&) {}
