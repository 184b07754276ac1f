// The runner's MQTT options: the broker's address, its credentials and the topic prefixes.
#pragma once

#include <string>

namespace veldrane::host {

struct BrokerAddress {
  bool tls = false;
  std::string host;
  int port = 0;
};

// mqtt://HOST[:PORT] (port 1883) or mqtts://HOST[:PORT] (port 8883); an IPv6 address in
// brackets. Credentials in the address are refused: they belong in a file.
bool ParseBrokerUrl(const std::string& url, BrokerAddress* broker, std::string* error);

struct MqttOptions {
  std::string url;  // empty: no MQTT
  std::string ca_file;
  std::string auth_file;
  std::string prefix = "veldrane/values";
  std::string name;  // the runner's name in status topics; empty: the host name

  // Filled by FinishMqttOptions.
  BrokerAddress broker;
  std::string user;
  std::string password;

  bool enabled() const { return !url.empty(); }
};

// The option texts for --help.
extern const char* const kMqttUsage;

bool IsMqttOption(const std::string& option);
// Stores the value of one option; false with a message when it is not acceptable.
bool SetMqttOption(const std::string& option, const std::string& value, MqttOptions* options,
                   std::string* error);
// After all options: checks that they fit together, reads the credentials file and fills the
// defaults. False with a message when they cannot be used.
bool FinishMqttOptions(MqttOptions* options, std::string* error);

}  // namespace veldrane::host
