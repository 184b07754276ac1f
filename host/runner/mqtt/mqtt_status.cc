#include "host/runner/mqtt/mqtt_status.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "host/runner/mqtt/mqtt_topics.h"
#include "platform/text/cp949.h"

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
    watched_.push_back({watch, stations_.size(), watch->size()});
    for (size_t i = 0; i < watch->size(); ++i) {
      std::string topic = prefix + "/" + TopicLevel(line.name) + "/" +
                          TopicLevel(platform::Cp949ToUtf8(watch->stations()[i].name));
      stations_.push_back({watch, i, std::move(topic), 0, false, 0, {}, {}, {}, {}});
    }
  }
}

namespace {

// A state changes with a failure (the driver's result, a failed frame, the health) or a frame
// of another value; frames that repeat the value do not change it.
bool SameState(const StationStatus& a, StationHealth a_health, const StationStatus& b,
               StationHealth b_health) {
  bool same_value = a.value == b.value || (std::isnan(a.value) && std::isnan(b.value));
  return a_health == b_health && a.failed == b.failed && a.result == b.result &&
         a.has_value == b.has_value && same_value;
}

}  // namespace

std::vector<RetainedMessage> StatusPublisher::Poll(std::chrono::steady_clock::time_point now) {
  size_t own = 0;
  for (const StatusLine& line : lines_) {
    if (!line.watch) own_watches_[own++]->Update(line.status);
  }
  std::vector<RetainedMessage> due;
  for (Watched& w : watched_) {
    if (w.watch->updates() == w.seen && !w.held) continue;
    w.seen = w.watch->updates();
    w.held = false;
    for (size_t i = w.first; i < w.first + w.count; ++i) {
      if (!PollStation(stations_[i], now, &due)) w.held = true;
    }
  }
  return due;
}

// False when the station's state changed but must wait for its second.
bool StatusPublisher::PollStation(Station& s, std::chrono::steady_clock::time_point now,
                                  std::vector<RetainedMessage>* due) {
  StationStatus status = s.watch->status(s.index);
  StationHealth health = s.watch->health(s.index);
  // A move of the count to more than none means frames went out since (the host may have
  // reset it); a reset to none leaves the meter showing what it showed.
  if (status.sent != s.sent) {
    if (status.sent > 0) {
      s.has_value = status.has_value;
      s.value = status.value;
    }
    s.sent = status.sent;
  }
  status.has_value = s.has_value;
  status.value = s.has_value ? s.value : 0;
  bool first = s.published.empty();
  if (!first && SameState(status, health, s.status, s.health)) return true;
  if (!first && now - s.published_at < std::chrono::seconds(1)) return false;
  std::string json = StatusJson(s.watch->stations()[s.index], health, status);
  s.status = status;
  s.health = health;
  if (json == s.published) return true;
  s.published = json;
  s.published_at = now;
  due->push_back({s.topic, std::move(json)});
  return true;
}

}  // namespace veldrane::host
