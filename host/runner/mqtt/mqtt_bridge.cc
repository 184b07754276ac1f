#include "host/runner/mqtt/mqtt_bridge.h"

#include <map>

#include "host/runner/lines/run_lines.h"
#include "host/runner/mqtt/mqtt_topics.h"
#include "host/runner/outputs/console_lines.h"
#include "platform/text/display_text.h"

namespace veldrane::host {

bool MqttBridge::Prepare(const std::vector<RunLine>& lines, std::string* error) {
  lines_ = &lines;
  // Each line publishes under its name as a topic level: two lines of one level (x+y.cfg and
  // x_y.cfg both give x_y) would mix.
  std::map<std::string, const RunLine*> names;
  for (const RunLine& line : lines) {
    std::string name = TopicLevel(LineName(line.config));
    auto [at, added] = names.emplace(name, &line);
    if (added) continue;
    *error = "--mqtt: " + at->second->Title() + " and " + line.Title() +
             " would publish their stations' states under the same line name '" + name +
             "': rename one of them";
    return false;
  }
  return true;
}

// The lines' states for the broker, read through the runner's watch of each running line.
bool MqttBridge::Start(ValueSink* sink, const std::string& input, std::string* error) {
  std::vector<StatusLine> status;
  for (const RunLine& line : *lines_) {
    if (!line.watch) continue;
    StatusLine s;
    s.name = LineName(line.config);
    s.stations = line.stations;
    s.watch = line.watch.get();
    status.push_back(std::move(s));
  }
  gateway_ = std::make_unique<MqttGateway>(
      options_, std::move(status),
      [sink, input](const std::string& tag, double v) { sink->SetValue(tag, v, input); },
      [](Priority priority, const std::string& text) { Tell(priority, text); });
  return gateway_->Start(error);
}

void MqttBridge::Poll(std::chrono::steady_clock::time_point now) {
  if (gateway_) gateway_->Poll(now);
}

void MqttBridge::Stop() {
  if (gateway_) gateway_->Stop();
}

InputHealth MqttBridge::Health(const std::string& input) const {
  InputHealth health;
  health.name = input;
  health.ok = gateway_ && gateway_->link().connected();
  health.detail = (health.ok ? "connected to " : "not connected to ") + options_.url;
  return health;
}

}  // namespace veldrane::host
