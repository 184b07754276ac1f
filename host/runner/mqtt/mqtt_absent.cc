// The runner without MQTT (the Windows build: no libmosquitto there). The --mqtt options are
// known, and refused with the reason; the link never connects.
#include "host/runner/mqtt/mqtt_link.h"
#include "host/runner/mqtt/mqtt_options.h"

namespace veldrane::host {

const char* const kMqttUsage =
    "  --mqtt URL        not in this build (no MQTT client library for Windows)\n";

bool IsMqttOption(const std::string& option) {
  return option == "--mqtt" || option == "--mqtt-ca" || option == "--mqtt-auth" ||
         option == "--mqtt-prefix" || option == "--mqtt-name";
}

bool SetMqttOption(const std::string& option, const std::string&, MqttOptions*,
                   std::string* error) {
  *error = option +
           ": this build has no MQTT (no MQTT client library for Windows); give values with "
           "--values FILE, a named pipe (\\\\.\\pipe\\NAME) or standard input";
  return false;
}

bool FinishMqttOptions(MqttOptions*, std::string*) {
  return true;
}

class MqttLink::Impl {};

MqttLink::MqttLink(MqttLinkConfig, OnMessage, Log) {}

MqttLink::~MqttLink() = default;

bool MqttLink::Start(std::string* error) {
  *error = "this build has no MQTT";
  return false;
}

void MqttLink::PublishRetained(const std::string&, std::string) {}

void MqttLink::Stop() {}

bool MqttLink::connected() const {
  return false;
}

int MqttLink::connections() const {
  return 0;
}

MqttBacklog MqttLink::backlog() const {
  return {};
}

}  // namespace veldrane::host
