#include "host/runner/web/status_json.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "comm/meter_kinds.h"
#include "host/runner/mqtt/mqtt_status.h"
#include "platform/text/cp949.h"
#include "tools/meter/meter_face.h"

namespace veldrane::host {
namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Json LineObject(const LineSnapshot& line) {
  Json json;
  json["line"] = line.name;
  json["config"] = line.config;
  json["port"] = line.port;
  json["state"] = line.state;
  json["problem"] = line.problem;
  json["port_open"] = line.port_open;
  json["sent"] = line.sent;
  json["failed"] = line.failed;
  json["frames_per_second"] = std::round(line.frames_per_second * 10) / 10;
  return json;
}

Json InputsArray(const std::vector<InputHealth>& inputs) {
  Json array = Json::array();
  for (const InputHealth& input : inputs) {
    Json json;
    json["input"] = input.name;
    json["ok"] = input.ok;
    json["detail"] = input.detail;
    json["values"] = input.values;
    json["refused"] = input.refused;
    array.push_back(std::move(json));
  }
  return array;
}

// The head of a document: version, elapsed and the inputs, without the closing brace.
std::string Head(const Snapshot& snapshot) {
  Json head;
  head["version"] = snapshot.version;
  head["elapsed"] = std::round(snapshot.elapsed * 10) / 10;
  head["inputs"] = InputsArray(snapshot.inputs);
  std::string text = Dump(head);
  text.pop_back();
  return text;
}

const char* LevelName(int level) {
  static const char* kLevels[] = {"setup", "fail", "state"};
  return level >= 0 && level <= 2 ? kLevels[level] : "other";
}

}  // namespace

std::string PageStationJson(const StationSnapshot& station, const std::string& line_name) {
  std::string json = StatusJson(station.row, station.health, station.status);
  json.pop_back();  // the MQTT object's members first, then the page's
  const MeterKind* model = FindMeterKind(station.row.kind);
  Json more;
  more["line"] = line_name;
  more["kind"] = station.row.kind;
  more["model"] = model ? platform::Cp949ToUtf8(std::string(model->name)) : "";
  more["decimals"] = station.row.decimals;
  more["shows"] = station.shows;
  more["width"] = meter::FaceWidth(station.row.kind);
  return json + "," + Dump(more).substr(1);
}

std::string StatusDocument(const Snapshot& snapshot) {
  std::string text = Head(snapshot) + ",\"lines\":[";
  for (size_t l = 0; l < snapshot.lines.size(); ++l) {
    const LineSnapshot& line = snapshot.lines[l];
    std::string object = Dump(LineObject(line));
    object.pop_back();
    text += (l ? "," : "") + object + ",\"stations\":[";
    for (size_t i = 0; i < line.count; ++i) {
      text += (i ? "," : "") + snapshot.stations[line.first + i]->json;
    }
    text += "]}";
  }
  return text + "]}";
}

std::string StatusDelta(const Snapshot& snapshot) {
  Json lines = Json::array();
  for (const LineSnapshot& line : snapshot.lines) lines.push_back(LineObject(line));
  std::string text = Head(snapshot) + ",\"lines\":" + Dump(lines) + ",\"stations\":{";
  bool first = true;
  for (size_t i = 0; i < snapshot.stations.size(); ++i) {
    const StationSnapshot& s = *snapshot.stations[i];
    if (s.changed != snapshot.version) continue;
    text += (first ? "\"" : ",\"") + std::to_string(i) + "\":" + s.json;
    first = false;
  }
  return text + "}}";
}

std::string EventJson(const EventEntry& event) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(event.time);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  Json json;
  json["sequence"] = event.sequence;
  json["time"] = stamp;
  json["level"] = LevelName(event.level);
  json["text"] = event.text;
  return Dump(json);
}

std::string EventsDocument(const std::deque<EventEntry>& events) {
  std::string text = "{\"events\":[";
  for (auto it = events.rbegin(); it != events.rend(); ++it) {
    text += (it == events.rbegin() ? "" : ",") + EventJson(*it);
  }
  return text + "]}";
}

}  // namespace veldrane::host
