// One connection to an MQTT broker for the whole runner, kept up on a thread of its own: it
// connects, subscribes, takes messages, publishes retained messages, and when the broker goes
// away tries again after 1 s, doubling the wait up to 30 s, saying so once per outage. Its
// memory stays bounded whatever the broker's link: a state that has not gone out yet is
// replaced by its station's newer one.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/runner/mqtt/mqtt_options.h"
#include "host/runner/mqtt/mqtt_reach.h"
#include "host/runner/outputs/console_lines.h"

namespace veldrane::host {

struct MqttLinkConfig {
  BrokerAddress broker;
  std::string ca_file;  // mqtts:// without one: the system's certificates
  std::string user;     // empty: none
  std::string password;
  std::string client_id;
  // Holds "online" (retained) while connected; the broker writes "offline" there when the
  // runner vanishes, and so does Stop.
  std::string availability_topic;
  std::vector<std::string> subscriptions;  // QoS 1; restored after each reconnection
  int keepalive_seconds = 10;
  std::chrono::milliseconds first_retry{1000};
  std::chrono::milliseconds last_retry{30000};
  std::chrono::milliseconds connect_timeout{5000};  // for the broker's answer to a connect
  // The broker's name looked up; empty: the system's resolver. It runs on the link's thread,
  // which a stop leaves behind when it waits on it: a silent name server cannot hold a stop.
  ResolveBroker resolve;
  // States handed to the client library and not yet acknowledged by the broker, at most; the
  // others wait here, only the newest of each topic, so a slow link costs no more memory.
  int in_flight = 32;
  // The largest packet the broker may send (MQTT 5): larger messages never reach the runner.
  int max_incoming = 64 * 1024;
};

// What waits for the broker (tests and benchmarks watch it).
struct MqttBacklog {
  size_t waiting = 0;      // topics whose newest state has not gone to the library
  int in_flight = 0;       // handed to the library, not yet acknowledged
  int most_in_flight = 0;  // the most at once since Start
  size_t replaced = 0;     // states replaced by newer ones before they went out
};

// Why the client library failed or the broker ended a connection, in words: `result` is a
// library code (errno_value for MOSQ_ERR_ERRNO) or an MQTT 5 reason code from the broker.
std::string MqttErrorText(int result, int errno_value);

class MqttLink {
 public:
  // Called on the link's thread, never after Stop has begun.
  using OnMessage = std::function<void(const std::string& topic, std::string_view payload)>;
  // The link's changes of state are notices (connected, reached again), its troubles
  // warnings (the broker lost or not reached, a refused subscription).
  using Log = std::function<void(Priority priority, const std::string& text)>;

  MqttLink(MqttLinkConfig config, OnMessage on_message, Log log);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Checks the client's settings and starts the thread; it never waits for the broker. False
  // with a message when the client cannot be set up (a bad CA file, no memory).
  bool Start(std::string* error);
  // Any thread: the newest payload of each topic is sent (QoS 1, retained) as soon as the link
  // is up and has room, and all of them again after each reconnection.
  void PublishRetained(const std::string& topic, std::string payload);
  // Marks the runner offline, disconnects and ends the thread, within half a second: a thread
  // that waits on the network longer (a name server that never answers) is left behind.
  void Stop();

  bool connected() const;
  // Completed connections since Start (tests and benchmarks watch reconnections with it).
  int connections() const;
  MqttBacklog backlog() const;

  class Impl;

 private:
  std::shared_ptr<Impl> impl_;  // shared with the thread, which may outlive the link
  std::thread thread_;
};

}  // namespace veldrane::host
