// The host runner's tables of stations: meter, tag, last value, frames and state, one table per
// line at the end of a run, and the live view of every line grouped by line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/runner/lines/line_watch.h"

namespace veldrane::host {

// One header line and one line per station, names and tags in UTF-8, columns aligned with
// Hangul taken as two columns wide. The state is ok, FAILING, LOST or disabled.
std::string FormatStationTable(const LineWatch& line);

// One line of the runner in the live view.
struct LiveLine {
  std::string title;                 // the configuration and its port, for the terminal
  const LineWatch* watch = nullptr;  // null: the line does not run
  std::string note;                  // why it does not run
};

// The live view in at most about `rows` terminal lines: the column header, then for each line a
// heading with its stations' states counted and its frames, followed by its stations. When not
// every station fits, the stations that are not ok come first, then the others, shared among the
// lines, each line saying how many of its stations it does not show.
std::string FormatLiveLines(const std::vector<LiveLine>& lines, size_t rows);

}  // namespace veldrane::host
