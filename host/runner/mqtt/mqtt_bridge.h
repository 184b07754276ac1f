// The runner's one MQTT connection, shared by its value input (inputs/mqtt_input.h: tag values
// from the broker's value topics) and its status output (outputs/mqtt_output.h: each station's
// state back to it). A thin layer over MqttGateway that builds it once the lines run.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/runner/gateway/value_input.h"
#include "host/runner/mqtt/mqtt_gateway.h"
#include "host/runner/mqtt/mqtt_options.h"

namespace veldrane::host {

class MqttBridge {
 public:
  explicit MqttBridge(MqttOptions options) : options_(std::move(options)) {}

  // Each line publishes under its name: false with a message when two lines would mix. Keeps
  // `lines`, which outlive the bridge.
  bool Prepare(const std::vector<RunLine>& lines, std::string* error);
  // Connects (never waiting for the broker) with the running lines' states to publish and `sink`
  // for the values. False with a message when the client cannot be set up.
  bool Start(ValueSink* sink, const std::string& input, std::string* error);
  // The runner's thread: the changed states to the broker.
  void Poll(std::chrono::steady_clock::time_point now);
  // Marks the runner offline and disconnects. Safe to call twice.
  void Stop();
  InputHealth Health(const std::string& input) const;

 private:
  MqttOptions options_;
  const std::vector<RunLine>* lines_ = nullptr;
  std::unique_ptr<MqttGateway> gateway_;
};

}  // namespace veldrane::host
