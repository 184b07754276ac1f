// The runner's link to a real broker (mosquitto, started here on a free loopback port): what a
// slow uplink, a silent name server, an oversized message and a topic no subscription can
// name do to it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/host/bench_broker.h"
#include "bench/host/slow_uplink.h"
#include "host/runner/mqtt/mqtt_link.h"

namespace {

using namespace veldrane::host;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What a link told and took, for the test's thread to wait on.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> log;
  std::map<std::string, std::string> values;  // the newest payload of each topic

  MqttLink::OnMessage OnMessage() {
    return [this](const std::string& topic, std::string_view payload) {
      std::lock_guard<std::mutex> lock(mutex);
      values[topic] = std::string(payload);
      changed.notify_all();
    };
  }
  MqttLink::Log Log() {
    return [this](Priority, const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex);
      log.push_back(text);
      changed.notify_all();
    };
  }
  // Waits (bounded) until `done` holds.
  template <typename Done>
  bool WaitFor(Done done, milliseconds within = milliseconds(10000)) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, within, [&] { return done(); });
  }
  size_t LogsHolding(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex);
    size_t n = 0;
    for (const std::string& line : log) n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
  }
};

MqttLinkConfig Config(int port, const std::string& name) {
  MqttLinkConfig config;
  config.broker.host = "127.0.0.1";
  config.broker.port = port;
  config.client_id = "test-" + name + "-" + std::to_string(getpid());
  config.availability_topic = "test/status/" + name;
  return config;
}

class MqttLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/veldrane-mqtt-link.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    broker_ = std::make_unique<veldrane::bench::Broker>(dir_, true);
    ASSERT_TRUE(broker_->Start()) << "mosquitto did not start";
  }
  void TearDown() override {
    broker_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }

  std::string dir_;
  std::unique_ptr<veldrane::bench::Broker> broker_;
};

TEST_F(MqttLinkTest, ASlowUplinkHoldsOnlyTheNewestStateOfEachTopic) {
  veldrane::bench::SlowUplink uplink(broker_->port());
  uplink.set_rate(2000);
  Seen runner, watcher;
  MqttLinkConfig config = Config(uplink.port(), "slow");
  config.in_flight = 8;
  MqttLink link(config, runner.OnMessage(), runner.Log());
  MqttLinkConfig watch_config = Config(broker_->port(), "watch");
  const int kTopics = 40, kRounds = 30;
  for (int t = 0; t < kTopics; ++t) watch_config.subscriptions.push_back("s/" + std::to_string(t));
  MqttLink watch(watch_config, watcher.OnMessage(), watcher.Log());
  std::string error;
  ASSERT_TRUE(watch.Start(&error)) << error;
  ASSERT_TRUE(link.Start(&error)) << error;
  ASSERT_TRUE(runner.WaitFor([&] { return link.connected(); }));

  // Each round every station's state changes: far more than 2 KB/s can carry.
  for (int round = 0; round < kRounds; ++round) {
    for (int t = 0; t < kTopics; ++t) {
      link.PublishRetained("s/" + std::to_string(t),
                           std::to_string(round) + std::string(60, '.'));  // a state's size
    }
    std::this_thread::sleep_for(milliseconds(50));
    MqttBacklog b = link.backlog();
    EXPECT_LE(b.waiting, size_t{kTopics}) << "round " << round;
    EXPECT_LE(b.in_flight, config.in_flight) << "round " << round;
  }
  MqttBacklog b = link.backlog();
  EXPECT_LE(b.most_in_flight, config.in_flight);
  EXPECT_GT(b.replaced, size_t{kTopics});
  EXPECT_EQ(runner.LogsHolding("is slower than the stations' states"), 1u);
  EXPECT_EQ(link.connections(), 1);  // the link stayed up

  // Once the uplink is free again, the newest state of every topic arrives: nothing is lost
  // that mattered.
  uplink.set_rate(0);
  std::string last = std::to_string(kRounds - 1) + std::string(60, '.');
  EXPECT_TRUE(watcher.WaitFor([&] {
    if (watcher.values.size() < size_t{kTopics}) return false;
    for (const auto& [topic, payload] : watcher.values) {
      if (payload != last) return false;
    }
    return true;
  })) << watcher.values.size()
      << " topics";
}

TEST_F(MqttLinkTest, MessagesOverTheLimitAndBadTopicsCostOnlyThemselves) {
  Seen runner, sender;
  MqttLinkConfig config = Config(broker_->port(), "runner");
  config.max_incoming = 16 * 1024;
  // One topic that no subscription can name (a control character) among good ones: the
  // library refuses the whole packet of them.
  config.subscriptions = {"v/a", "v/b\x01", "v/big", "v/c"};
  MqttLink link(config, runner.OnMessage(), runner.Log());
  MqttLink publisher(Config(broker_->port(), "sender"), sender.OnMessage(), sender.Log());
  std::string error;
  ASSERT_TRUE(link.Start(&error)) << error;
  ASSERT_TRUE(runner.WaitFor([&] { return link.connected(); }));
  ASSERT_TRUE(publisher.Start(&error)) << error;
  publisher.PublishRetained("v/big", std::string(1 << 20, '7'));
  publisher.PublishRetained("v/a", "1");
  publisher.PublishRetained("v/c", "3");
  EXPECT_TRUE(runner.WaitFor([&] { return runner.values.size() >= 2; }));
  std::this_thread::sleep_for(milliseconds(300));
  std::lock_guard<std::mutex> lock(runner.mutex);
  EXPECT_EQ(runner.values, (std::map<std::string, std::string>{{"v/a", "1"}, {"v/c", "3"}}));
  EXPECT_EQ(link.connections(), 1);  // the broker dropped the large message, not the runner
  size_t named = 0;
  for (const std::string& line : runner.log) {
    named += line.find("cannot subscribe to v/b\\x01:") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(named, 1u);
}

TEST(MqttLink, AStopDoesNotWaitForANameServerThatNeverAnswers) {
  struct Hang {
    std::mutex mutex;
    std::condition_variable released;
    bool free = false;
    bool asked = false;
  };
  auto hang = std::make_shared<Hang>();
  MqttLinkConfig config = Config(1883, "dns");
  config.broker.host = "broker.plant";
  config.resolve = [hang](const std::string&, std::vector<std::string>*, std::string* error) {
    std::unique_lock<std::mutex> lock(hang->mutex);
    hang->asked = true;
    hang->released.notify_all();
    hang->released.wait(lock, [&] { return hang->free; });
    *error = "released by the test";
    return false;
  };
  Seen seen;
  {
    MqttLink link(config, seen.OnMessage(), seen.Log());
    std::string error;
    ASSERT_TRUE(link.Start(&error)) << error;
    {
      std::unique_lock<std::mutex> lock(hang->mutex);
      ASSERT_TRUE(hang->released.wait_for(lock, milliseconds(2000), [&] { return hang->asked; }));
    }
    Clock::time_point start = Clock::now();
    link.Stop();
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
  }
  // The thread left behind ends once the lookup returns, and tells nothing any more.
  {
    std::lock_guard<std::mutex> lock(hang->mutex);
    hang->free = true;
  }
  hang->released.notify_all();
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_TRUE(seen.log.empty());
}

}  // namespace
