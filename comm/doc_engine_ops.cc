// The document's operations that reach its communication engine. Until the engine exists they
// answer as for a bad instance index.
#include "comm/comm_engine.h"
#include "config/doc.h"

int32_t CVeldraneDoc::OpenPort() { return 0; }

int32_t CVeldraneDoc::ResolveTags() { return 0; }

int32_t CVeldraneDoc::Stop() { return 0; }

void CVeldraneDoc::SetActive(const char* name, int32_t state) {
  if (name) {
    if (CStationInfo* station = FindStation(name)) station->enabled.store(state);
  }
}

int32_t CVeldraneDoc::GetStats(const char*, int32_t*, int32_t*, int32_t*, int32_t*) {
  return -1;
}
