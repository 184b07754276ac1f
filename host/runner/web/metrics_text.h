// /metrics in the Prometheus text exposition format (version 0.0.4): the stations', lines' and
// inputs' figures under the veldrane_ prefix, and the process's own under process_.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "host/runner/web/status_snapshot.h"

namespace veldrane::host {

// The process's figures, read from /proc/self; a figure that cannot be read is negative and
// left out.
struct ProcessFigures {
  double resident_bytes = -1;
  double virtual_bytes = -1;
  double cpu_seconds = -1;
  double open_fds = -1;
  double max_fds = -1;
  double start_time_seconds = -1;  // since the epoch
};
ProcessFigures ReadProcessFigures();

// What the server counts itself.
struct ServerFigures {
  std::array<uint64_t, 3> events{};  // event-log lines by level: setup, fail, state
  uint64_t stream_clients = 0;
};

std::string MetricsText(const Snapshot& snapshot, const ServerFigures& server,
                        const ProcessFigures& process);

// A label value with \, " and the line end escaped.
std::string LabelValue(const std::string& text);

}  // namespace veldrane::host
