#include "host/runner/station_table.h"

#include <cstdio>

#include "comm/meter_kinds.h"
#include "platform/cp949.h"
#include "platform/display_text.h"
#include "platform/text_width.h"

namespace veldrane::host {
namespace {

std::string KindName(int32_t kind) {
  const MeterKind* model = FindMeterKind(kind);
  return model ? model->short_name : "kind " + std::to_string(kind);
}

std::string State(int32_t result) {
  switch (result) {
    case -1:
      return "disabled";
    case 0:
      return "ok";
    case 1:
      return "FAILING";
    default:
      return "?";
  }
}

}  // namespace

std::string FormatStationTable(const std::vector<StationRow>& stations,
                               const std::function<StationStatus(const StationRow&)>& status) {
  std::string out;
  char line[512];
  std::snprintf(line, sizeof line, "%-3s %s %-12s %-5s %s %14s %8s %8s  %s\n", "#",
                platform::PadRight("station", 16).c_str(), "meter", "no.",
                platform::PadRight("tag", 14).c_str(), "last value", "sent", "failed", "state");
  out += line;
  for (size_t i = 0; i < stations.size(); ++i) {
    const StationRow& s = stations[i];
    StationStatus st = status(s);
    std::string shown = "-";
    if (st.has_value) {
      // The value as the tag holds it; the meter shows it rounded to its decimals.
      char v[64];
      std::snprintf(v, sizeof v, "%.10g", st.value);
      shown = v;
    }
    std::snprintf(
        line, sizeof line, "%-3zu %s %-12s %-5d %s %14s %8d %8d  %s\n", i + 1,
        platform::PadRight(platform::DisplayCp949(s.name), 16).c_str(), KindName(s.kind).c_str(),
        s.number,
        platform::PadRight(s.tag.empty() ? "-" : platform::DisplayCp949(s.tag), 14).c_str(),
        shown.c_str(), st.sent, st.failed, State(st.result).c_str());
    out += line;
  }
  return out;
}

}  // namespace veldrane::host
