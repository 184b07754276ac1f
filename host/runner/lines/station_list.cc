#include "host/runner/lines/station_list.h"

#include <exception>

#include "config/doc.h"
#include "fw/archive.h"

namespace veldrane::host {

bool ReadStations(const std::string& path, std::vector<StationRow>* rows, std::string* error,
                  std::string* port, bool* rts_cts) {
  CVeldraneDoc doc;
  try {
    doc.LoadFile(path.c_str());
  } catch (const CArchiveException& e) {
    // What failed and where: the file (a file error names it), or the section and byte of a
    // damaged one.
    if (error) {
      *error = e.cause() == ArchiveCause::kFileError
                   ? std::string(e.what())
                   : "cannot read the configuration file " + path + ": " + e.what();
    }
    return false;
  } catch (const std::exception& e) {
    if (error) *error = "cannot read the configuration file " + path + ": " + e.what();
    return false;
  }
  if (port) *port = doc.Port().DeviceName().GetString();
  if (rts_cts) *rts_cts = doc.Port().RtsCts();
  rows->clear();
  for (const auto& s : doc.Stations()) {
    rows->push_back({std::string(s->name.GetString(), s->name.GetLength()), s->kind, s->number,
                     s->decimals, std::string(s->tag_name.GetString(), s->tag_name.GetLength())});
  }
  return true;
}

}  // namespace veldrane::host
