#include "host/runner/mqtt/mqtt_gateway.h"

#include <unistd.h>

#include "host/runner/mqtt/mqtt_topics.h"
#include "platform/text/cp949.h"
#include "platform/text/display_text.h"

namespace veldrane::host {
namespace {

// Every linked tag's topic; tags that cannot be a topic are named once.
ValueTopics TopicsOf(const std::string& prefix, const std::vector<StatusLine>& lines,
                     const MqttLink::Log& log) {
  ValueTopics topics(prefix);
  for (const StatusLine& line : lines) {
    for (const StationRow& s : line.stations) {
      std::string why;
      if (s.tag.empty() || topics.Add(s.tag, &why)) continue;
      log(Priority::kWarning, "MQTT: the tag '" + platform::DisplayCp949(s.tag) + "' of station '" +
                                  platform::DisplayCp949(s.name) + "' (line " +
                                  platform::EscapeControls(line.name) + ") " + why +
                                  ", which no topic name can: it takes no values from the broker");
    }
  }
  return topics;
}

// Names that no topic level can hold as they are go out escaped; the user learns where.
void SayEscapedNames(const std::string& prefix, const std::vector<StatusLine>& lines,
                     const MqttLink::Log& log) {
  auto escaped = [](const std::string& utf8) { return platform::EscapeControls(utf8) != utf8; };
  for (const StatusLine& line : lines) {
    std::string line_topic = prefix + "/" + TopicLevel(line.name);
    if (escaped(line.name)) {
      log(Priority::kWarning,
          "MQTT: the line name " + line_topic.substr(prefix.size() + 1) +
              " is not UTF-8 or holds a control character: its stations' states go to " +
              line_topic + "/...");
    }
    for (const StationRow& s : line.stations) {
      std::string name = platform::Cp949ToUtf8(s.name);
      if (!escaped(name)) continue;
      log(Priority::kWarning, "MQTT: the station name '" + platform::EscapeControls(name) +
                                  "' holds a control character: its state goes to " + line_topic +
                                  "/" + TopicLevel(name));
    }
  }
}

}  // namespace

MqttGateway::MqttGateway(const MqttOptions& options, std::vector<StatusLine> lines,
                         MqttValues::Apply apply, MqttLink::Log log)
    : values_(TopicsOf(options.prefix, lines, log), std::move(apply),
              [log](const std::string& text) { log(Priority::kWarning, text); }),
      status_(StatusPrefix(options.prefix) + "/" + options.name, lines) {
  SayEscapedNames(StatusPrefix(options.prefix) + "/" + options.name, lines, log);
  MqttLinkConfig config;
  config.broker = options.broker;
  config.ca_file = options.ca_file;
  config.user = options.user;
  config.password = options.password;
  config.client_id = "veldrane-" + options.name + "-" + std::to_string(::getpid());
  config.availability_topic = StatusPrefix(options.prefix) + "/" + options.name;
  config.subscriptions = values_.topics().Topics();
  link_ = std::make_unique<MqttLink>(
      std::move(config),
      [this](const std::string& topic, std::string_view payload) {
        values_.OnMessage(topic, payload);
      },
      std::move(log));
}

MqttGateway::~MqttGateway() {
  Stop();
}

bool MqttGateway::Start(std::string* error) {
  return link_->Start(error);
}

void MqttGateway::Poll(std::chrono::steady_clock::time_point now) {
  if (now < next_poll_) return;
  // A quarter second keeps the failure runs exact: the engine sends a station at most once a
  // pass of half a second.
  next_poll_ = now + std::chrono::milliseconds(250);
  for (RetainedMessage& m : status_.Poll(now))
    link_->PublishRetained(m.topic, std::move(m.payload));
}

void MqttGateway::Stop() {
  link_->Stop();
}

}  // namespace veldrane::host
