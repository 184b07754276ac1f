// The runner's MQTT side: tag values from the broker's value topics, and each station's state
// back to it, over one connection for every line the runner drives.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/runner/mqtt/mqtt_link.h"
#include "host/runner/mqtt/mqtt_options.h"
#include "host/runner/mqtt/mqtt_status.h"
#include "host/runner/mqtt/mqtt_values.h"

namespace veldrane::host {

class MqttGateway {
 public:
  // apply(tag, value) sets a tag, on the link's thread; log(text) tells the user, on any thread.
  MqttGateway(const MqttOptions& options, std::vector<StatusLine> lines, MqttValues::Apply apply,
              MqttLink::Log log);
  ~MqttGateway();

  // Starts the link; never waits for the broker. False with a message when the client cannot
  // be set up.
  bool Start(std::string* error);
  // Host thread, as often as it likes: reads the stations' states four times a second and
  // hands the changed ones to the link.
  void Poll(std::chrono::steady_clock::time_point now);
  // Marks the runner offline and disconnects, within about a second.
  void Stop();

  const MqttLink& link() const { return *link_; }

 private:
  MqttValues values_;
  StatusPublisher status_;
  std::unique_ptr<MqttLink> link_;
  std::chrono::steady_clock::time_point next_poll_{};
};

}  // namespace veldrane::host
