// A station's state as the runner tells it, from the statistics the driver gives: ok, failing,
// lost (five or more failed frames in a row) or disabled.
#pragma once

#include <cstdint>

namespace veldrane::host {

// What the runner reads of one station: its statistics (DrvGetStats) and its tag's last value.
struct StationStatus {
  int32_t sent = 0;
  int32_t failed = 0;
  int32_t result = -1;  // DrvGetStats: -1 disabled or unknown, 0 ok, 1 failing
  bool has_value = false;
  double value = 0;
};

enum class StationHealth { kOk, kFailing, kLost, kDisabled };
const char* HealthName(StationHealth health);

// The driver reports a station lost at this many failed frames in a row.
inline constexpr int32_t kLostAfter = 5;

// Follows one station's failed frames in a row from its statistics (DrvGetStats), which tell
// only whether the latest frame failed. Exact while it is read at least once between two
// frames to the station, as a runner reading every quarter second is (the engine sends a
// station at most once a pass of 500 ms); otherwise a run broken by a success between two
// readings counts from one.
class FailureRun {
 public:
  StationHealth Update(const StationStatus& status);

 private:
  bool seen_ = false;
  int32_t sent_ = 0;
  int32_t failed_ = 0;
  int32_t run_ = 0;
};

}  // namespace veldrane::host
