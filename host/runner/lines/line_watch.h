// One line's stations as the runner last read them: each one's statistics, its tag's last value
// and its health. The live table, the final statistics and the status topics all show these
// readings, so they never disagree on a station's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "host/runner/lines/station_health.h"
#include "host/runner/lines/station_list.h"

namespace veldrane::host {

class LineWatch {
 public:
  using Read = std::function<StationStatus(const StationRow&)>;

  explicit LineWatch(std::vector<StationRow> stations);

  // Reads every station with `read` (on the host's thread when it calls the driver) and follows
  // each one's failure run; read at least every quarter second for exact runs.
  void Update(const Read& read);

  size_t size() const { return stations_.size(); }
  // Moves with every Update: a reader of the states skips a line whose readings did not.
  uint64_t updates() const { return updates_; }
  const std::vector<StationRow>& stations() const { return stations_; }
  const StationStatus& status(size_t i) const { return readings_[i].status; }
  StationHealth health(size_t i) const { return readings_[i].health; }

 private:
  struct Reading {
    FailureRun run;
    StationStatus status;
    StationHealth health = StationHealth::kDisabled;
  };
  std::vector<StationRow> stations_;
  std::vector<Reading> readings_;
  uint64_t updates_ = 0;
};

}  // namespace veldrane::host
