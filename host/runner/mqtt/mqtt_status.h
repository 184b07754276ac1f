// Each station's state as retained JSON for the broker, from the statistics the driver gives.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/runner/lines/line_watch.h"
#include "host/runner/lines/station_health.h"
#include "host/runner/lines/station_list.h"

namespace veldrane::host {

// The stations of one line (one configuration) and how to read their statistics: through the
// runner's watch of the line when there is one (the live table shows the same states), else
// with `status` at each Poll.
struct StatusLine {
  std::string name;  // the line's level in the status topics (UTF-8)
  std::vector<StationRow> stations;
  std::function<StationStatus(const StationRow&)> status;
  const LineWatch* watch = nullptr;  // its stations are `stations`; it outlives the publisher
};

struct RetainedMessage {
  std::string topic;
  std::string payload;
};

// {"state":"ok","sent":12,"failed":0,"value":12.5,"station":"FT-101","number":3,"tag":"FLOW1"}
// with "value" null for a station without a tag's value, and for values JSON cannot hold (nan,
// inf). `status` carries the value the state shows.
std::string StatusJson(const StationRow& station, StationHealth health,
                       const StationStatus& status);

class StatusPublisher {
 public:
  // Topics are PREFIX/LINE/STATION (PREFIX: STATUS/RUNNER).
  StatusPublisher(std::string prefix, std::vector<StatusLine> lines);
  StatusPublisher(const StatusPublisher&) = delete;  // its stations point into its lines
  StatusPublisher& operator=(const StatusPublisher&) = delete;

  // Reads every station (on the host's thread: it calls the driver, or the runner's watch) and
  // returns the messages due, at most once a second per station: a station's state when a frame
  // or a failure changed it. Its value is what its meter shows: the value of the last frame
  // sent (null before the first), taken as the tag's value at the reading where the station's
  // count of frames sent moved (the entry table does not tell the value a frame carried). A
  // frame that repeats the value (the minute's refresh) changes no state; the counts go out
  // with the next message.
  std::vector<RetainedMessage> Poll(std::chrono::steady_clock::time_point now);

 private:
  struct Station {
    const LineWatch* watch;
    size_t index;  // in the watch
    std::string topic;
    // The value of the last frame sent, as the meter shows it.
    int32_t sent = 0;
    bool has_value = false;
    double value = 0;
    // The state published last: a station whose state stays the same costs no JSON.
    StationStatus status;
    StationHealth health = StationHealth::kOk;
    std::string published;
    std::chrono::steady_clock::time_point published_at;
  };
  // One line's stations in stations_, and the watch's readings they have seen: a line whose
  // watch read nothing new costs nothing, unless a change of it waits for its second.
  struct Watched {
    const LineWatch* watch;
    size_t first, count;
    uint64_t seen = ~uint64_t{0};
    bool held = false;
  };
  bool PollStation(Station& s, std::chrono::steady_clock::time_point now,
                   std::vector<RetainedMessage>* due);

  std::vector<StatusLine> lines_;
  std::vector<std::unique_ptr<LineWatch>> own_watches_;  // of the lines that bring none
  std::vector<Station> stations_;
  std::vector<Watched> watched_;
};

}  // namespace veldrane::host
