// The status output of --mqtt: each station's state as a retained message on the broker
// (mqtt/mqtt_bridge.h), read once a second, as often as a station's state may go out.
#pragma once

#include <memory>
#include <string>

#include "host/runner/gateway/status_output.h"
#include "host/runner/mqtt/mqtt_bridge.h"

namespace veldrane::host {

class MqttOutput final : public StatusOutput {
 public:
  explicit MqttOutput(std::shared_ptr<MqttBridge> bridge) : bridge_(std::move(bridge)) {}

  std::string Name() const override { return "mqtt"; }
  std::chrono::milliseconds DetailsEvery() const override { return std::chrono::seconds(1); }
  // A station's state follows its frames, not its tag.
  bool ShowsEveryReading() const override { return false; }
  void Update(const GatewayView&, std::chrono::steady_clock::time_point now) override {
    bridge_->Poll(now);
  }
  void Stop() override { bridge_->Stop(); }

 private:
  std::shared_ptr<MqttBridge> bridge_;
};

}  // namespace veldrane::host
