#include "host/runner/mqtt/mqtt_gateway.h"

#include <unistd.h>

#include "platform/cp949.h"

namespace veldrane::host {
namespace {

// Every linked tag's topic; tags that cannot be a topic are named once.
ValueTopics TopicsOf(const std::string& prefix, const std::vector<StatusLine>& lines,
                     const MqttLink::Log& log) {
  ValueTopics topics(prefix);
  for (const StatusLine& line : lines) {
    for (const StationRow& s : line.stations) {
      if (s.tag.empty() || topics.Add(s.tag)) continue;
      log(Priority::kWarning,
          "MQTT: the tag '" + platform::Cp949ToUtf8(s.tag) + "' of station '" +
              platform::Cp949ToUtf8(s.name) +
              "' holds '+' or '#', which no topic name can: it takes no values from the broker");
    }
  }
  return topics;
}

}  // namespace

MqttGateway::MqttGateway(const MqttOptions& options, std::vector<StatusLine> lines,
                         MqttValues::Apply apply, MqttLink::Log log)
    : values_(TopicsOf(options.prefix, lines, log), std::move(apply),
              [log](const std::string& text) { log(Priority::kWarning, text); }),
      status_(StatusPrefix(options.prefix) + "/" + options.name, std::move(lines)) {
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
