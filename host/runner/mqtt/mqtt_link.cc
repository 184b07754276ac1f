#include "host/runner/mqtt/mqtt_link.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veldrane::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";
constexpr int kQos = 1;
// Subscriptions go out in packets of this many topics.
constexpr size_t kTopicsPerSubscribe = 64;

// The library's texts end in a full stop; ours go on after them.
std::string Clause(const char* text) {
  std::string clause = text;
  if (!clause.empty() && clause.back() == '.') clause.pop_back();
  return clause;
}

std::string ErrorText(int result) {
  if (result == MOSQ_ERR_ERRNO) return std::strerror(errno);
  if (result == MOSQ_ERR_EAI) return "the host name cannot be resolved";
  return Clause(mosquitto_strerror(result));
}

std::string Seconds(std::chrono::milliseconds d) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(d.count()) / 1000);
  return text;
}

long SecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
}

}  // namespace

MqttLink::MqttLink(MqttLinkConfig config, OnMessage on_message, Log log)
    : config_(std::move(config)), on_message_(std::move(on_message)), log_(std::move(log)) {}

MqttLink::~MqttLink() {
  Stop();
  if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttLink::Start(std::string* error) {
  static std::once_flag init;
  std::call_once(init, [] { mosquitto_lib_init(); });
  client_ = mosquitto_new(config_.client_id.c_str(), /*clean_session=*/true, this);
  if (client_ == nullptr) {
    *error = "cannot create an MQTT client";
    return false;
  }
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  // Acknowledgements and states go out at once: a delayed acknowledgement holds up the
  // broker's next values once its window of messages in flight is full.
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(client_, &MqttLink::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttLink::OnDisconnect);
  mosquitto_message_callback_set(client_, &MqttLink::OnMessageCallback);
  mosquitto_publish_callback_set(client_, &MqttLink::OnPublish);
  int result = MOSQ_ERR_SUCCESS;
  if (!config_.user.empty()) {
    result =
        mosquitto_username_pw_set(client_, config_.user.c_str(),
                                  config_.password.empty() ? nullptr : config_.password.c_str());
  }
  if (result == MOSQ_ERR_SUCCESS) {
    result = mosquitto_will_set(client_, config_.availability_topic.c_str(),
                                static_cast<int>(std::strlen(kOffline)), kOffline, kQos, true);
  }
  if (result == MOSQ_ERR_SUCCESS && config_.broker.tls) {
    bool own_ca = !config_.ca_file.empty();
    result = mosquitto_tls_set(client_, own_ca ? config_.ca_file.c_str() : nullptr,
                               own_ca ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
  }
  if (result != MOSQ_ERR_SUCCESS) {
    *error = "cannot set the MQTT client up: " + ErrorText(result);
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void MqttLink::PublishRetained(const std::string& topic, std::string payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  retained_[topic] = std::move(payload);
  dirty_.insert(topic);
}

void MqttLink::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(true);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::string MqttLink::Where() const {
  const BrokerAddress& b = config_.broker;
  bool v6 = b.host.find(':') != std::string::npos;
  return std::string(b.tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + b.host + "]" : b.host) + ":" +
         std::to_string(b.port);
}

void MqttLink::Run() {
  std::chrono::milliseconds delay = config_.first_retry;
  bool outage = false;
  bool ever = false;
  Clock::time_point outage_start;
  while (!stop_.load()) {
    std::string reason;
    bool came_up = Connection(&reason, [&] {
      if (outage) {
        log_(Priority::kNotice, "MQTT: the broker " + Where() + " is reached again after " +
                                    std::to_string(SecondsSince(outage_start)) + " s");
      } else if (!ever) {
        log_(Priority::kNotice, "MQTT: connected to the broker " + Where());
      }
      outage = false;
      ever = true;
    });
    if (stop_.load()) break;
    if (came_up) delay = config_.first_retry;
    if (!outage) {
      outage = true;
      outage_start = Clock::now();
      log_(Priority::kWarning,
           std::string("MQTT: ") + (came_up ? "lost the broker " : "cannot reach the broker ") +
               Where() + ": " + reason + "; trying again after " + Seconds(delay) +
               ", doubling the wait up to " + Seconds(config_.last_retry));
    }
    if (!WaitOrStop(delay)) break;
    delay = std::min(delay * 2, config_.last_retry);
  }
}

bool MqttLink::Connection(std::string* reason, const std::function<void()>& on_up) {
  connack_ = -1;
  lost_reason_.clear();
  errno = 0;
  int result = mosquitto_connect_async(client_, config_.broker.host.c_str(), config_.broker.port,
                                       config_.keepalive_seconds);
  if (result != MOSQ_ERR_SUCCESS) {
    *reason = ErrorText(result);
    return false;
  }
  Clock::time_point deadline = Clock::now() + config_.connect_timeout;
  bool up = false;
  while (!stop_.load()) {
    errno = 0;
    result = mosquitto_loop(client_, 100, 1);
    if (!up && connack_ == 0) {
      up = true;
      Subscribe();
      connected_.store(true);
      connections_.fetch_add(1);
      on_up();
    }
    if (connack_ > 0) {
      *reason =
          "the broker refused the connection (" + Clause(mosquitto_connack_string(connack_)) + ")";
      break;
    }
    if (result != MOSQ_ERR_SUCCESS) {
      *reason = lost_reason_.empty() ? ErrorText(result) : lost_reason_;
      break;
    }
    if (!up && Clock::now() > deadline) {
      *reason = "no answer within " + Seconds(config_.connect_timeout);
      break;
    }
    if (up) PublishDirty();
  }
  if (stop_.load() && up) SayOffline();
  connected_.store(false);
  mosquitto_disconnect(client_);
  // Lets the disconnect go out and the socket close; ends at once when it is closed.
  for (int i = 0; i < 3 && mosquitto_loop(client_, 10, 1) == MOSQ_ERR_SUCCESS; ++i) {
  }
  return up;
}

void MqttLink::Subscribe() {
  // The runner's own retained messages go out again: the broker may have lost them.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [topic, payload] : retained_) dirty_.insert(topic);
  }
  mosquitto_publish(client_, nullptr, config_.availability_topic.c_str(),
                    static_cast<int>(std::strlen(kOnline)), kOnline, kQos, true);
  const std::vector<std::string>& topics = config_.subscriptions;
  for (size_t first = 0; first < topics.size(); first += kTopicsPerSubscribe) {
    std::vector<char*> chunk;
    for (size_t i = first; i < topics.size() && i < first + kTopicsPerSubscribe; ++i) {
      chunk.push_back(const_cast<char*>(topics[i].c_str()));
    }
    int result = mosquitto_subscribe_multiple(client_, nullptr, static_cast<int>(chunk.size()),
                                              chunk.data(), kQos, 0, nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
      log_(Priority::kWarning, "MQTT: cannot subscribe to " + topics[first] +
                                   " and the topics after it: " + ErrorText(result));
    }
  }
}

void MqttLink::PublishDirty() {
  std::vector<std::pair<std::string, std::string>> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& topic : dirty_) due.emplace_back(topic, retained_[topic]);
    dirty_.clear();
  }
  for (const auto& [topic, payload] : due) {
    // A message that cannot go out now goes out with all the others after the reconnection.
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), kQos, true);
  }
}

void MqttLink::SayOffline() {
  offline_sent_ = false;
  if (mosquitto_publish(client_, &offline_mid_, config_.availability_topic.c_str(),
                        static_cast<int>(std::strlen(kOffline)), kOffline, kQos,
                        true) != MOSQ_ERR_SUCCESS) {
    return;
  }
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
  while (!offline_sent_ && Clock::now() < deadline &&
         mosquitto_loop(client_, 50, 1) == MOSQ_ERR_SUCCESS) {
  }
}

bool MqttLink::WaitOrStop(std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, delay, [this] { return stop_.load(); });
  return !stop_.load();
}

void MqttLink::OnConnect(mosquitto*, void* self, int result) {
  static_cast<MqttLink*>(self)->connack_ = result;
}

void MqttLink::OnDisconnect(mosquitto*, void* self, int result) {
  if (result != MOSQ_ERR_SUCCESS) static_cast<MqttLink*>(self)->lost_reason_ = ErrorText(result);
}

void MqttLink::OnMessageCallback(mosquitto*, void* self, const mosquitto_message* message) {
  if (message->topic == nullptr) return;
  auto* link = static_cast<MqttLink*>(self);
  link->on_message_(message->topic,
                    std::string_view(static_cast<const char*>(message->payload),
                                     static_cast<size_t>(std::max(message->payloadlen, 0))));
}

void MqttLink::OnPublish(mosquitto*, void* self, int mid) {
  auto* link = static_cast<MqttLink*>(self);
  if (mid == link->offline_mid_) link->offline_sent_ = true;
}

}  // namespace veldrane::host
