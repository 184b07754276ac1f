#include "host/runner/mqtt/mqtt_status.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "host/runner/mqtt/mqtt_topics.h"
#include "platform/cp949.h"

namespace veldrane::host {

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
    const LineWatch* watch = line.watch;
    if (!watch) {
      own_watches_.push_back(std::make_unique<LineWatch>(line.stations));
      watch = own_watches_.back().get();
    }
    for (size_t i = 0; i < watch->size(); ++i) {
      std::string topic = prefix + "/" + TopicLevel(line.name) + "/" +
                          TopicLevel(platform::Cp949ToUtf8(watch->stations()[i].name));
      stations_.push_back({watch, i, std::move(topic), {}, {}, {}, {}});
    }
  }
}

namespace {

bool SameReading(const StationStatus& a, StationHealth a_health, const StationStatus& b,
                 StationHealth b_health) {
  bool same_value = a.value == b.value || (std::isnan(a.value) && std::isnan(b.value));
  return a_health == b_health && a.sent == b.sent && a.failed == b.failed && a.result == b.result &&
         a.has_value == b.has_value && same_value;
}

}  // namespace

std::vector<RetainedMessage> StatusPublisher::Poll(std::chrono::steady_clock::time_point now) {
  size_t own = 0;
  for (const StatusLine& line : lines_) {
    if (!line.watch) own_watches_[own++]->Update(line.status);
  }
  std::vector<RetainedMessage> due;
  for (Station& s : stations_) {
    const StationStatus& status = s.watch->status(s.index);
    StationHealth health = s.watch->health(s.index);
    bool first = s.published.empty();
    if (!first && SameReading(status, health, s.status, s.health)) continue;
    if (!first && now - s.published_at < std::chrono::seconds(1)) continue;
    std::string json = StatusJson(s.watch->stations()[s.index], health, status);
    s.status = status;
    s.health = health;
    if (json == s.published) continue;
    s.published = json;
    s.published_at = now;
    due.push_back({s.topic, std::move(json)});
  }
  return due;
}

}  // namespace veldrane::host
