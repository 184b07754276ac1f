// What the web server shows: a copy of the gateway's state made on the runner's thread at each
// Update, which the server's thread reads without ever touching a line, its watch or the driver.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/runner/gateway/status_output.h"
#include "host/runner/lines/station_health.h"
#include "host/runner/lines/station_list.h"

namespace veldrane::host {

struct StationSnapshot {
  size_t line = 0;  // index in Snapshot::lines
  StationRow row;   // code page 949 names, as the configuration holds them
  StationHealth health = StationHealth::kDisabled;
  StationStatus status;
  std::string shows;     // what the meter shows, as the virtual meter decodes it; "" before
  std::string json;      // the station's object for the page and /api/status
  uint64_t changed = 0;  // the snapshot version in which it last changed
};

struct LineSnapshot {
  std::string name;     // the configuration's file name without .cfg (UTF-8)
  std::string config;   // the path as given (UTF-8)
  std::string port;     // COMn; empty when the configuration could not be read
  std::string state;    // "running", "stopped", "config not opened", "port not opened", ...
  std::string problem;  // why the line does not run, or why its port cannot work; empty: none
  bool port_open = false;
  int64_t sent = 0, failed = 0;
  double frames_per_second = 0;
  size_t first = 0, count = 0;  // its stations in Snapshot::stations
};

struct Snapshot {
  uint64_t version = 0;
  double elapsed = 0;
  std::vector<LineSnapshot> lines;
  // Shared with the snapshots before and after while the station does not change: a snapshot of
  // thousands of stations costs little when few change.
  std::vector<std::shared_ptr<const StationSnapshot>> stations;
  std::vector<InputHealth> inputs;
};

// Makes the snapshots: remembers the previous one to tell what changed, the meters' shown texts
// (a value no frame can carry leaves the meter as it was) and the lines' frame rates.
class SnapshotBuilder {
 public:
  // The next snapshot, or null when nothing a viewer sees changed since the last one (found
  // without making anything: an idle runner's update compares only the stations of lines whose
  // watch read them again).
  std::shared_ptr<const Snapshot> Build(const GatewayView& view,
                                        std::chrono::steady_clock::time_point now);
  const std::shared_ptr<const Snapshot>& last() const { return last_; }

 private:
  struct Rate {
    int64_t frames = -1;
    std::chrono::steady_clock::time_point at;
    double per_second = 0;
  };
  std::shared_ptr<const Snapshot> last_;
  // `fresh[l]`: line l's watch read its stations since the last Build; the others' stations are
  // as they were and need no comparing.
  bool Changed(const GatewayView& view, const std::vector<LineSnapshot>& lines,
               const std::vector<bool>& fresh) const;

  std::vector<Rate> rates_;
  std::vector<uint64_t> watch_seen_;  // each line's LineWatch::updates() at the last Build
  uint64_t version_ = 0;
};

}  // namespace veldrane::host
