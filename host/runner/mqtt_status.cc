#include "host/runner/mqtt_status.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "host/runner/mqtt_topics.h"
#include "platform/cp949.h"

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

std::string StatusJson(const StationRow& station, StationHealth health,
                       const StationStatus& status) {
  nlohmann::ordered_json json;
  json["state"] = HealthName(health);
  json["sent"] = status.sent;
  json["failed"] = status.failed;
  if (status.has_value && std::isfinite(status.value)) {
    json["value"] = status.value;
  } else {
    json["value"] = nullptr;
  }
  json["station"] = platform::Cp949ToUtf8(station.name);
  json["number"] = station.number;
  json["tag"] = platform::Cp949ToUtf8(station.tag);
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

StatusPublisher::StatusPublisher(std::string prefix, std::vector<StatusLine> lines)
    : lines_(std::move(lines)) {
  for (const StatusLine& line : lines_) {
    for (const StationRow& row : line.stations) {
      std::string topic =
          prefix + "/" + TopicLevel(line.name) + "/" + TopicLevel(platform::Cp949ToUtf8(row.name));
      stations_.push_back({&line, &row, std::move(topic), {}, {}, {}});
    }
  }
}

std::vector<RetainedMessage> StatusPublisher::Poll(std::chrono::steady_clock::time_point now) {
  std::vector<RetainedMessage> due;
  for (Station& s : stations_) {
    StationStatus status = s.line->status(*s.row);
    StationHealth health = s.run.Update(status);
    std::string json = StatusJson(*s.row, health, status);
    bool first = s.published.empty();
    if (json == s.published) continue;
    if (!first && now - s.published_at < std::chrono::seconds(1)) continue;
    s.published = json;
    s.published_at = now;
    due.push_back({s.topic, std::move(json)});
  }
  return due;
}

}  // namespace veldrane::host
