// The host runner's table of stations: meter, tag, last value, frames and state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/runner/station_list.h"

namespace veldrane::host {

struct StationStatus {
  int32_t sent = 0;
  int32_t failed = 0;
  int32_t result = -1;  // DrvGetStats: -1 disabled or unknown, 0 ok, 1 failing
  bool has_value = false;
  double value = 0;
};

// One header line and one line per station, names and tags in UTF-8, columns aligned with
// Hangul taken as two columns wide.
std::string FormatStationTable(const std::vector<StationRow>& stations,
                               const std::function<StationStatus(const StationRow&)>& status);

}  // namespace veldrane::host
