// Each station's state as retained JSON for the broker, from the statistics the driver gives.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/runner/station_list.h"
#include "host/runner/station_table.h"

namespace veldrane::host {

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

// The stations of one line (one configuration) and how to read their statistics.
struct StatusLine {
  std::string name;  // the line's level in the status topics (UTF-8)
  std::vector<StationRow> stations;
  std::function<StationStatus(const StationRow&)> status;
};

struct RetainedMessage {
  std::string topic;
  std::string payload;
};

// {"state":"ok","sent":12,"failed":0,"value":12.5,"station":"FT-101","number":3,"tag":"FLOW1"}
// with "value" null for a station without a tag's value, and for values JSON cannot hold (nan,
// inf).
std::string StatusJson(const StationRow& station, StationHealth health,
                       const StationStatus& status);

class StatusPublisher {
 public:
  // Topics are PREFIX/LINE/STATION (PREFIX: STATUS/RUNNER).
  StatusPublisher(std::string prefix, std::vector<StatusLine> lines);
  StatusPublisher(const StatusPublisher&) = delete;  // its stations point into its lines
  StatusPublisher& operator=(const StatusPublisher&) = delete;

  // Reads every station (on the host's thread: it calls the driver) and returns the messages
  // due: a station's state when it changed, at most once a second per station.
  std::vector<RetainedMessage> Poll(std::chrono::steady_clock::time_point now);

 private:
  struct Station {
    const StatusLine* line;
    const StationRow* row;
    std::string topic;
    FailureRun run;
    std::string published;
    std::chrono::steady_clock::time_point published_at;
  };
  std::vector<StatusLine> lines_;
  std::vector<Station> stations_;
};

}  // namespace veldrane::host
