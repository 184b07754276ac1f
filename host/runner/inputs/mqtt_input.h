// The value input of --mqtt: tag values from the broker's value topics (mqtt/mqtt_bridge.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/runner/gateway/value_input.h"
#include "host/runner/mqtt/mqtt_bridge.h"

namespace veldrane::host {

class MqttInput final : public ValueInput {
 public:
  explicit MqttInput(std::shared_ptr<MqttBridge> bridge) : bridge_(std::move(bridge)) {}

  std::string Name() const override { return "mqtt"; }
  bool Prepare(const std::vector<RunLine>& lines, std::string* error) override {
    return bridge_->Prepare(lines, error);
  }
  bool Start(ValueSink* sink, std::string* error) override {
    return bridge_->Start(sink, Name(), error);
  }
  void Stop() override { bridge_->Stop(); }
  InputHealth Health() const override { return bridge_->Health(Name()); }

 private:
  std::shared_ptr<MqttBridge> bridge_;
};

}  // namespace veldrane::host
