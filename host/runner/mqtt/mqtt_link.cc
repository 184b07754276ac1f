#include "host/runner/mqtt/mqtt_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "platform/text/display_text.h"
#include "platform/thread_annotations.h"

namespace veldrane::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";
constexpr int kQos = 1;
// Subscriptions go out in packets of this many topics, this many packets unanswered at a time:
// thousands of topics at once would hold the keepalive's ping behind them on a slow link.
constexpr size_t kTopicsPerSubscribe = 64;
constexpr int kSubscribesInFlight = 4;
// A stop waits this long for the link's thread, then leaves it behind.
constexpr auto kStopBound = std::chrono::milliseconds(500);
// Of which the "offline" message may take this much.
constexpr auto kOfflineBound = std::chrono::milliseconds(300);

// The library's texts end in a full stop; ours go on after them.
std::string Clause(const char* text) {
  std::string clause = text;
  if (!clause.empty() && clause.back() == '.') clause.pop_back();
  return clause;
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

std::string MqttErrorText(int result, int errno_value) {
  // MQTT 5 reason codes of failure start at 128; the library's own codes are small.
  if (result >= 128) {
    return "the broker ended the connection (" + Clause(mosquitto_reason_string(result)) + ")";
  }
  switch (result) {
    case MOSQ_ERR_ERRNO:
      return errno_value != 0 ? std::strerror(errno_value) : "a system call failed";
    case MOSQ_ERR_EAI:
      return "the host name cannot be resolved";
    case MOSQ_ERR_KEEPALIVE:
      return "no answer from the broker within the keepalive time (a slow or broken link)";
    case MOSQ_ERR_MALFORMED_PACKET:
      return "the broker sent a malformed packet";
    case MOSQ_ERR_TIMEOUT:
      return "timed out";
    case MOSQ_ERR_UNKNOWN:
      return "an error the MQTT library does not name";
    case MOSQ_ERR_RETAIN_NOT_SUPPORTED:
      return "the broker keeps no retained messages";
    case MOSQ_ERR_TOPIC_ALIAS_INVALID:
      return "the broker used a topic alias it never set";
    case MOSQ_ERR_ADMINISTRATIVE_ACTION:
      return "the broker's administrator ended the connection";
    case MOSQ_ERR_CONN_LOST:
      return errno_value != 0 && errno_value != EAGAIN
                 ? "the connection was lost (" + std::string(std::strerror(errno_value)) + ")"
                 : "the connection was lost";
    default:
      break;
  }
  std::string text = Clause(mosquitto_strerror(result));
  if (text.rfind("Unknown", 0) == 0)
    return "error " + std::to_string(result) + " of the MQTT library";
  return text;
}

class MqttLink::Impl {
 public:
  Impl(MqttLinkConfig config, OnMessage on_message, Log log)
      : config_(std::move(config)), on_message_(std::move(on_message)), log_(std::move(log)) {
    if (!config_.resolve) config_.resolve = SystemResolve;
    if (config_.in_flight < 1) config_.in_flight = 1;
  }
  ~Impl() { DropClient(); }

  // A first client, which checks the settings; the first connection uses it.
  bool Prepare(std::string* error) {
    client_ = NewClient(error);
    return client_ != nullptr;
  }
  void Run();
  void Ended() {
    platform::MutexLock lock(mutex_);
    ended_ = true;
    wake_.notify_all();
  }
  void RequestStop() {
    {
      platform::MutexLock lock(mutex_);
      stop_.store(true);
    }
    wake_.notify_all();
  }
  bool WaitEnded(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_.native());
    return wake_.wait_for(lock, bound, [this] { return ended_; });
  }
  void PublishRetained(const std::string& topic, std::string payload);
  bool connected() const { return connected_.load(); }
  int connections() const { return connections_.load(); }
  MqttBacklog backlog() const {
    platform::MutexLock lock(mutex_);
    return {waiting_.size(), in_flight_.load(), most_in_flight_.load(), replaced_};
  }

 private:
  struct Retained {
    std::string payload;
    bool waiting = false;  // in waiting_
  };

  static void OnConnect(mosquitto* client, void* self, int result);
  static void OnDisconnect(mosquitto* client, void* self, int result);
  static void OnMessageCallback(mosquitto* client, void* self, const mosquitto_message* message);
  static void OnPublish(mosquitto* client, void* self, int mid);
  static void OnSubscribe(mosquitto* client, void* self, int mid, int count, const int* granted);

  mosquitto* NewClient(std::string* error);
  void DropClient();
  // One connection from connect to its loss; false when it never came up. `reason` says why
  // it ended; on_up runs when the broker accepted it.
  bool Connection(std::string* reason, const std::function<void()>& on_up);
  bool Connect(std::string* reason);
  void Subscribe();
  void SubscribeMore();
  void SubscribeAlone(size_t index);
  void ReportTopic(size_t index, const std::string& why);
  void PublishWaiting();
  void SayOffline();
  bool WaitOrStop(std::chrono::milliseconds delay);
  std::string Where() const;
  std::string Refusal() const;

  MqttLinkConfig config_;
  OnMessage on_message_;
  Log log_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> in_flight_{0};  // written by the link's thread only
  std::atomic<int> most_in_flight_{0};
  std::atomic<bool> window_full_{false};

  // Link thread only.
  mosquitto* client_ = nullptr;  // a new one for each connection: nothing old waits in it
  int protocol_ = MQTT_PROTOCOL_V5;
  int connack_ = -1;  // the broker's answer: -1 none yet, 0 accepted, else refused
  std::string lost_reason_;
  int offline_mid_ = -1;
  bool offline_sent_ = false;
  bool said_slow_ = false;
  std::map<int, size_t> subscribe_mids_;  // a subscription's packet: its first topic
  size_t next_subscription_ = 0;          // the first topic not yet asked for
  int subscribing_ = 0;                   // packets the broker has not answered
  std::set<size_t> reported_topics_;      // subscriptions refused, said once

  mutable platform::Mutex mutex_;  // guards what follows, and the waits between attempts
  std::condition_variable wake_;
  // Guarded by mutex_ too; not annotated because the wait's predicate reads it, where the
  // checker does not see the lock the condition variable holds.
  bool ended_ = false;
  std::map<std::string, Retained> retained_ GUARDED_BY(mutex_);
  // Topics whose newest payload has not gone out, oldest first.
  std::deque<std::string> waiting_ GUARDED_BY(mutex_);
  size_t replaced_ GUARDED_BY(mutex_) = 0;
  bool dropped_for_slow_link_ GUARDED_BY(mutex_) = false;
};

mosquitto* MqttLink::Impl::NewClient(std::string* error) {
  static std::once_flag init;
  std::call_once(init, [] { mosquitto_lib_init(); });
  mosquitto* client = mosquitto_new(config_.client_id.c_str(), /*clean_session=*/true, this);
  if (client == nullptr) {
    *error = "cannot create an MQTT client";
    return nullptr;
  }
  mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, protocol_);
  mosquitto_int_option(client, MOSQ_OPT_SEND_MAXIMUM, config_.in_flight);
  // Acknowledgements and states go out at once: a delayed acknowledgement holds up the
  // broker's next values once its window of messages in flight is full.
  mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(client, &Impl::OnConnect);
  mosquitto_disconnect_callback_set(client, &Impl::OnDisconnect);
  mosquitto_message_callback_set(client, &Impl::OnMessageCallback);
  mosquitto_publish_callback_set(client, &Impl::OnPublish);
  mosquitto_subscribe_callback_set(client, &Impl::OnSubscribe);
  int result = MOSQ_ERR_SUCCESS;
  if (!config_.user.empty()) {
    result =
        mosquitto_username_pw_set(client, config_.user.c_str(),
                                  config_.password.empty() ? nullptr : config_.password.c_str());
  }
  if (result == MOSQ_ERR_SUCCESS) {
    result = mosquitto_will_set(client, config_.availability_topic.c_str(),
                                static_cast<int>(std::strlen(kOffline)), kOffline, kQos, true);
  }
  if (result == MOSQ_ERR_SUCCESS && config_.broker.tls) {
    bool own_ca = !config_.ca_file.empty();
    result = mosquitto_tls_set(client, own_ca ? config_.ca_file.c_str() : nullptr,
                               own_ca ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
  }
  if (result != MOSQ_ERR_SUCCESS) {
    *error = "cannot set the MQTT client up: " + MqttErrorText(result, errno);
    mosquitto_destroy(client);
    return nullptr;
  }
  return client;
}

void MqttLink::Impl::DropClient() {
  if (client_ != nullptr) mosquitto_destroy(client_);
  client_ = nullptr;
}

void MqttLink::Impl::PublishRetained(const std::string& topic, std::string payload) {
  platform::MutexLock lock(mutex_);
  Retained& r = retained_[topic];
  r.payload = std::move(payload);
  if (r.waiting) {
    ++replaced_;
    if (connected_.load() && window_full_.load()) dropped_for_slow_link_ = true;
    return;
  }
  r.waiting = true;
  waiting_.push_back(topic);
}

std::string MqttLink::Impl::Where() const {
  const BrokerAddress& b = config_.broker;
  bool v6 = b.host.find(':') != std::string::npos;
  return std::string(b.tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + b.host + "]" : b.host) + ":" +
         std::to_string(b.port);
}

void MqttLink::Impl::Run() {
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

// The name is looked up here, where a stop may leave the thread behind, and the client is
// given an address that has just answered: its own connect blocks, but only for a round trip.
// Over TLS it needs the name to check the certificate, and looks it up again.
bool MqttLink::Impl::Connect(std::string* reason) {
  const std::string& host = config_.broker.host;
  std::vector<std::string> addresses;
  std::string error;
  if (!config_.resolve(host, &addresses, &error)) {
    *reason = "cannot look the name up (" + error + ")";
    return false;
  }
  if (stop_.load()) return false;
  std::string address =
      FirstAnswering(addresses, config_.broker.port, config_.connect_timeout, stop_, &error);
  if (address.empty()) {
    *reason = error;
    return false;
  }
  if (client_ == nullptr && (client_ = NewClient(&error)) == nullptr) {
    *reason = error;
    return false;
  }
  // MQTT 5 lets the broker know the largest packet the runner takes: it drops larger messages
  // rather than send them, so none is ever read whole.
  mosquitto_property* properties = nullptr;
  if (protocol_ == MQTT_PROTOCOL_V5) {
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                 static_cast<uint32_t>(config_.max_incoming));
  }
  std::string target = config_.broker.tls && !IsNumericAddress(host) ? host : address;
  errno = 0;
  int result = mosquitto_connect_bind_v5(client_, target.c_str(), config_.broker.port,
                                         config_.keepalive_seconds, nullptr, properties);
  int cause = errno;
  mosquitto_property_free_all(&properties);
  if (result != MOSQ_ERR_SUCCESS) *reason = MqttErrorText(result, cause);
  return result == MOSQ_ERR_SUCCESS;
}

std::string MqttLink::Impl::Refusal() const {
  if (protocol_ == MQTT_PROTOCOL_V5) {
    return "the broker refused the connection (" + Clause(mosquitto_reason_string(connack_)) + ")";
  }
  return "the broker refused the connection (" + Clause(mosquitto_connack_string(connack_)) + ")";
}

bool MqttLink::Impl::Connection(std::string* reason, const std::function<void()>& on_up) {
  connack_ = -1;
  lost_reason_.clear();
  in_flight_.store(0);
  window_full_.store(false);
  said_slow_ = false;
  subscribe_mids_.clear();
  bool up = false;
  if (Connect(reason)) {
    Clock::time_point deadline = Clock::now() + config_.connect_timeout;
    while (!stop_.load()) {
      errno = 0;
      int result = mosquitto_loop(client_, 100, 1);
      int cause = errno;
      if (!up && connack_ == 0) {
        up = true;
        Subscribe();
        connected_.store(true);
        connections_.fetch_add(1);
        on_up();
      }
      if (connack_ > 0) {
        *reason = Refusal();
        if (protocol_ == MQTT_PROTOCOL_V5 && connack_ == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION) {
          protocol_ = MQTT_PROTOCOL_V311;
          log_(Priority::kWarning,
               "MQTT: the broker " + Where() +
                   " speaks MQTT 3.1.1, not 5: it cannot be asked to keep messages over " +
                   std::to_string(config_.max_incoming / 1024) +
                   " KB from the runner, which then reads them whole before refusing them");
        }
        break;
      }
      if (result != MOSQ_ERR_SUCCESS) {
        *reason = lost_reason_.empty() ? MqttErrorText(result, cause) : lost_reason_;
        break;
      }
      if (!up && Clock::now() > deadline) {
        *reason = "no answer within " + Seconds(config_.connect_timeout);
        break;
      }
      if (up) PublishWaiting();
    }
    if (stop_.load() && up) SayOffline();
    connected_.store(false);
    mosquitto_disconnect(client_);
    // Lets the disconnect go out and the socket close; ends at once when it is closed.
    for (int i = 0; i < 3 && mosquitto_loop(client_, 10, 1) == MOSQ_ERR_SUCCESS; ++i) {
    }
  }
  // Whatever the old client still held (messages it would send again) goes with it.
  DropClient();
  return up;
}

void MqttLink::Impl::ReportTopic(size_t index, const std::string& why) {
  if (!reported_topics_.insert(index).second) return;
  log_(Priority::kWarning, "MQTT: cannot subscribe to " +
                               platform::Excerpt(config_.subscriptions[index], 200) + ": " + why +
                               "; it takes no values from the broker");
}

void MqttLink::Impl::SubscribeAlone(size_t index) {
  int mid = 0;
  int result = mosquitto_subscribe(client_, &mid, config_.subscriptions[index].c_str(), kQos);
  if (result == MOSQ_ERR_SUCCESS) {
    subscribe_mids_[mid] = index;
    ++subscribing_;
  } else {
    ReportTopic(index, MqttErrorText(result, errno));
  }
}

void MqttLink::Impl::Subscribe() {
  // The runner's own retained messages go out again: the broker may have lost them.
  {
    platform::MutexLock lock(mutex_);
    for (auto& [topic, retained] : retained_) {
      if (retained.waiting) continue;
      retained.waiting = true;
      waiting_.push_back(topic);
    }
  }
  if (mosquitto_publish(client_, nullptr, config_.availability_topic.c_str(),
                        static_cast<int>(std::strlen(kOnline)), kOnline, kQos,
                        true) == MOSQ_ERR_SUCCESS) {
    in_flight_.fetch_add(1);
  }
  next_subscription_ = 0;
  subscribing_ = 0;
  SubscribeMore();
}

// Packets of many topics; a packet the library refuses (one topic that no subscription can
// name refuses all of them) goes again topic by topic, so that the bad one costs only itself.
void MqttLink::Impl::SubscribeMore() {
  const std::vector<std::string>& topics = config_.subscriptions;
  while (subscribing_ < kSubscribesInFlight && next_subscription_ < topics.size()) {
    size_t first = next_subscription_;
    std::vector<char*> chunk;
    for (size_t i = first; i < topics.size() && i < first + kTopicsPerSubscribe; ++i) {
      chunk.push_back(const_cast<char*>(topics[i].c_str()));
    }
    next_subscription_ += chunk.size();
    int mid = 0;
    if (mosquitto_subscribe_multiple(client_, &mid, static_cast<int>(chunk.size()), chunk.data(),
                                     kQos, 0, nullptr) == MOSQ_ERR_SUCCESS) {
      subscribe_mids_[mid] = first;
      ++subscribing_;
      continue;
    }
    for (size_t i = first; i < first + chunk.size(); ++i) SubscribeAlone(i);
  }
}

void MqttLink::Impl::PublishWaiting() {
  bool say_slow = false;
  std::vector<std::pair<std::string, std::string>> due;
  {
    platform::MutexLock lock(mutex_);
    say_slow = dropped_for_slow_link_ && !said_slow_;
    dropped_for_slow_link_ = false;
    for (int room = config_.in_flight - in_flight_.load(); room > 0 && !waiting_.empty(); --room) {
      Retained& r = retained_[waiting_.front()];
      r.waiting = false;
      due.emplace_back(waiting_.front(), r.payload);
      waiting_.pop_front();
    }
  }
  if (say_slow) {
    said_slow_ = true;
    log_(Priority::kWarning,
         "MQTT: the link to the broker " + Where() +
             " is slower than the stations' states change: only the newest state of each station "
             "waits to go out, older ones are dropped (said once per connection)");
  }
  for (const auto& [topic, payload] : due) {
    // A message that cannot go out now goes out with all the others after the reconnection.
    if (mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), kQos, true) != MOSQ_ERR_SUCCESS) {
      continue;
    }
    int now = in_flight_.fetch_add(1) + 1;
    if (now > most_in_flight_.load()) most_in_flight_.store(now);
  }
  window_full_.store(in_flight_.load() >= config_.in_flight);
}

void MqttLink::Impl::SayOffline() {
  offline_sent_ = false;
  if (mosquitto_publish(client_, &offline_mid_, config_.availability_topic.c_str(),
                        static_cast<int>(std::strlen(kOffline)), kOffline, kQos,
                        true) != MOSQ_ERR_SUCCESS) {
    return;
  }
  Clock::time_point deadline = Clock::now() + kOfflineBound;
  while (!offline_sent_ && Clock::now() < deadline &&
         mosquitto_loop(client_, 50, 1) == MOSQ_ERR_SUCCESS) {
  }
}

bool MqttLink::Impl::WaitOrStop(std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(mutex_.native());
  wake_.wait_for(lock, delay, [this] { return stop_.load(); });
  return !stop_.load();
}

void MqttLink::Impl::OnConnect(mosquitto*, void* self, int result) {
  static_cast<Impl*>(self)->connack_ = result;
}

void MqttLink::Impl::OnDisconnect(mosquitto*, void* self, int result) {
  if (result != MOSQ_ERR_SUCCESS) {
    static_cast<Impl*>(self)->lost_reason_ = MqttErrorText(result, errno);
  }
}

void MqttLink::Impl::OnMessageCallback(mosquitto*, void* self, const mosquitto_message* message) {
  auto* link = static_cast<Impl*>(self);
  if (message->topic == nullptr || link->stop_.load()) return;
  link->on_message_(message->topic,
                    std::string_view(static_cast<const char*>(message->payload),
                                     static_cast<size_t>(std::max(message->payloadlen, 0))));
}

void MqttLink::Impl::OnPublish(mosquitto*, void* self, int mid) {
  auto* link = static_cast<Impl*>(self);
  if (link->in_flight_.load() > 0) link->in_flight_.fetch_sub(1);
  if (mid == link->offline_mid_) link->offline_sent_ = true;
}

// The broker's answer to a packet of subscriptions: one grant per topic, 128 or more refused.
void MqttLink::Impl::OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted) {
  auto* link = static_cast<Impl*>(self);
  auto it = link->subscribe_mids_.find(mid);
  if (it == link->subscribe_mids_.end()) return;
  for (int i = 0; i < count; ++i) {
    if (granted[i] >= 128 && it->second + i < link->config_.subscriptions.size()) {
      link->ReportTopic(it->second + i, "the broker refused it (" +
                                            Clause(mosquitto_reason_string(granted[i])) + ")");
    }
  }
  link->subscribe_mids_.erase(it);
  --link->subscribing_;
  link->SubscribeMore();
}

MqttLink::MqttLink(MqttLinkConfig config, OnMessage on_message, Log log)
    : impl_(std::make_shared<Impl>(std::move(config), std::move(on_message), std::move(log))) {}

MqttLink::~MqttLink() {
  Stop();
}

bool MqttLink::Start(std::string* error) {
  if (!impl_->Prepare(error)) return false;
  thread_ = std::thread([impl = impl_] {
    impl->Run();
    impl->Ended();
  });
  return true;
}

void MqttLink::PublishRetained(const std::string& topic, std::string payload) {
  impl_->PublishRetained(topic, std::move(payload));
}

void MqttLink::Stop() {
  impl_->RequestStop();
  if (!thread_.joinable()) return;
  if (impl_->WaitEnded(kStopBound)) {
    thread_.join();
  } else {
    // Waiting on the network (a name server that never answers): the thread keeps what it
    // uses, calls nothing of the runner's any more, and ends with the process.
    thread_.detach();
  }
}

bool MqttLink::connected() const {
  return impl_->connected();
}

int MqttLink::connections() const {
  return impl_->connections();
}

MqttBacklog MqttLink::backlog() const {
  return impl_->backlog();
}

}  // namespace veldrane::host
