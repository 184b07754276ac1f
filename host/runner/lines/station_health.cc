#include "host/runner/lines/station_health.h"

#include <algorithm>

namespace veldrane::host {

const char* HealthName(StationHealth health) {
  switch (health) {
    case StationHealth::kOk:
      return "ok";
    case StationHealth::kFailing:
      return "failing";
    case StationHealth::kLost:
      return "lost";
    case StationHealth::kDisabled:
      return "disabled";
  }
  return "?";
}

StationHealth FailureRun::Update(const StationStatus& status) {
  int32_t sent = status.sent - sent_;
  int32_t failed = status.failed - failed_;
  if (!seen_ || sent < 0 || failed < 0) {
    // The first reading, or the counters were reset: count what they hold now.
    sent = status.sent;
    failed = status.failed;
  }
  seen_ = true;
  sent_ = status.sent;
  failed_ = status.failed;
  if (status.result == 0) {
    run_ = 0;
  } else if (status.result == 1) {
    // Every frame since the last reading failed: the run goes on. Otherwise a success came
    // between and only the latest frame is known to have failed.
    if (sent > 0) run_ = failed == sent ? std::min(run_ + failed, kLostAfter) : 1;
    run_ = std::max(run_, 1);
  }
  if (status.result == -1) return StationHealth::kDisabled;
  if (status.result == 0) return StationHealth::kOk;
  return run_ >= kLostAfter ? StationHealth::kLost : StationHealth::kFailing;
}

}  // namespace veldrane::host
