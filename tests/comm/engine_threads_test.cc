// The host's thread and a transmit thread at once, through the entry slots, as ThreadSanitizer
// sees them: statistics, resets and enables by station name while frames go out, starts and
// stops in quick succession, and an instance destroyed while it runs. Time runs free, so the
// transmit thread sends as fast as it can.
#include <gtest/gtest.h>

#include "driver/driver_instance.h"
#include "driver/entry_points.h"
#include "driver/registry.h"
#include "tests/comm/comm_support.h"
#include "tests/support/deadline.h"

namespace veldrane::test {
namespace {

using platform::FakeSerialLine;
using platform::SimulatedClock;

constexpr int kStations = 8;

class EngineThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto instance = std::make_unique<DriverInstance>();
    CVeldraneDoc* doc = &instance->doc();
    std::vector<FakeTagDb::Change> changes;
    for (int i = 0; i < kStations; ++i) {
      std::string tag = "T" + std::to_string(i);
      db_.Define(tag);
      CStationInfo& s = AddStation(*doc, {"S" + std::to_string(i), i % 7, i, 1, tag});
      changes.push_back({&s, 1, 10.0 * i + 0.25});
    }
    db_.SetEndless(changes);
    index_ = RegisterInstance(std::move(instance));
    ASSERT_EQ(entry::DrvOpenPort(index_), 0);
    ASSERT_EQ(entry::DrvResolveTags(index_), 0);
  }
  void TearDown() override { DestroyAllInstances(); }

  size_t FramesSent() const { return env_.line.Frames().size(); }

  SimulatedEnvironment env_{SimulatedClock::Mode::kFreeRunning, 1800000000u};
  FakeTagDb db_{&env_.clock};
  EventLogCapture log_;
  int32_t index_ = -1;
};

TEST_F(EngineThreadsTest, HostCallsWhileTheThreadSends) {
  entry::DrvSetActive(index_, nullptr, 1);
  int32_t last_result = 0;
  Deadline deadline;
  for (int i = 0; i < 20000 || (FramesSent() < 500 && !deadline.Passed()); ++i) {
    int32_t sent = 0, failed = 0, third = 0, fourth = 0;
    last_result = entry::DrvGetStats(index_, nullptr, &sent, &failed, &third, &fourth);
    entry::DrvGetStats(index_, "s3", &sent, &failed, &third, &fourth);
    entry::DrvSetActive(index_, "S2", i & 1);
    entry::DrvResetStats(index_, i % 64 == 0 ? nullptr : "s5");
    // The line fails now and then: failure and recovery messages come from the thread.
    if (i % 2000 == 0) {
      env_.line.SetWriteOutcome(i % 4000 == 0 ? FakeSerialLine::Outcome::kFail
                                              : FakeSerialLine::Outcome::kOk);
    }
  }
  EXPECT_GE(FramesSent(), 500u) << "the transmit thread sent too few frames within 20 s";
  EXPECT_NE(last_result, -1);
  EXPECT_EQ(entry::DrvStop(index_), 0);
  EXPECT_EQ(log_.Messages().back(), 2);
  // The thread has ended: nothing moves any more.
  size_t after_stop = FramesSent();
  int32_t sent = 0, failed = 0, third = 0, fourth = 0;
  entry::DrvGetStats(index_, "S1", &sent, &failed, &third, &fourth);
  EXPECT_EQ(FramesSent(), after_stop);
  int32_t sent_again = 0;
  entry::DrvGetStats(index_, "S1", &sent_again, &failed, &third, &fourth);
  EXPECT_EQ(sent_again, sent);
}

TEST_F(EngineThreadsTest, StartsAndStopsInQuickSuccession) {
  for (int i = 0; i < 200; ++i) {
    entry::DrvSetActive(index_, nullptr, 1);
    int32_t sent = 0, failed = 0, third = 0, fourth = 0;
    entry::DrvGetStats(index_, nullptr, &sent, &failed, &third, &fourth);
    if (i % 2) {
      entry::DrvStop(index_);
    } else {
      entry::DrvSetActive(index_, nullptr, 0);
    }
  }
  EXPECT_EQ(db_.ClientsOpened(), 201);  // one for resolving, one per start
  EXPECT_EQ(db_.OpenClients(), 0);
}

TEST_F(EngineThreadsTest, AnInstanceDestroyedWhileRunningStopsFirst) {
  entry::DrvSetActive(index_, nullptr, 1);
  for (Deadline deadline; FramesSent() < 50;) {
    ASSERT_FALSE(deadline.Passed()) << "the transmit thread sent no 50 frames within 20 s";
  }
  DestroyAllInstances();
  EXPECT_EQ(log_.Messages().back(), 2);
  EXPECT_EQ(db_.OpenClients(), 0);
  EXPECT_EQ(env_.line.OpenDevices(), 0);
}

}  // namespace
}  // namespace veldrane::test
