// One connection to an MQTT broker for the whole runner, kept up on a thread of its own: it
// connects, subscribes, takes messages, publishes retained messages, and when the broker goes
// away tries again after 1 s, doubling the wait up to 30 s, saying so once per outage.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/runner/mqtt/mqtt_options.h"
#include "host/runner/outputs/console_lines.h"

struct mosquitto;
struct mosquitto_message;

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
};

class MqttLink {
 public:
  // Called on the link's thread.
  using OnMessage = std::function<void(const std::string& topic, std::string_view payload)>;
  // The link's changes of state are notices (connected, reached again), its troubles
  // warnings (the broker lost or not reached, a refused subscription).
  using Log = std::function<void(Priority priority, const std::string& text)>;

  MqttLink(MqttLinkConfig config, OnMessage on_message, Log log);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Sets the client up and starts the thread; it never waits for the broker. False with a
  // message when the client cannot be set up (a bad CA file, no memory).
  bool Start(std::string* error);
  // Any thread: the newest payload of each topic is sent (QoS 1, retained) as soon as the link
  // is up, and all of them again after each reconnection.
  void PublishRetained(const std::string& topic, std::string payload);
  // Marks the runner offline, disconnects and ends the thread, within about a second.
  void Stop();

  bool connected() const { return connected_.load(); }
  // Completed connections since Start (tests and benchmarks watch reconnections with it).
  int connections() const { return connections_.load(); }

 private:
  static void OnConnect(mosquitto* client, void* self, int result);
  static void OnDisconnect(mosquitto* client, void* self, int result);
  static void OnMessageCallback(mosquitto* client, void* self, const mosquitto_message* message);
  static void OnPublish(mosquitto* client, void* self, int mid);

  void Run();
  // One connection from connect to its loss; false when it never came up. `reason` says why
  // it ended; on_up runs when the broker accepted it.
  bool Connection(std::string* reason, const std::function<void()>& on_up);
  void Subscribe();
  void PublishDirty();
  void SayOffline();
  bool WaitOrStop(std::chrono::milliseconds delay);
  std::string Where() const;

  MqttLinkConfig config_;
  OnMessage on_message_;
  Log log_;
  mosquitto* client_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  std::atomic<int> connections_{0};

  // Link thread only.
  int connack_ = -1;  // the broker's answer: -1 none yet, 0 accepted, else refused
  std::string lost_reason_;
  int offline_mid_ = -1;
  bool offline_sent_ = false;

  std::mutex mutex_;  // guards retained_ and dirty_, and the wait between attempts
  std::condition_variable wake_;
  std::map<std::string, std::string> retained_;
  std::set<std::string> dirty_;
};

}  // namespace veldrane::host
