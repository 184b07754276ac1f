// The engine's transmit loop and statistics in simulated time: the thread runs pass by pass as
// the test advances the clock, on a fake line and a tag database whose deliveries the test
// writes.
#include <gtest/gtest.h>

#include "comm/comm_engine.h"
#include "driver/driver_instance.h"
#include "hostlink/host_modules.h"
#include "tests/comm/comm_support.h"

namespace veldrane::test {
namespace {

using platform::FakeSerialLine;
using platform::SimulatedClock;

// A calendar second divisible by 3: the first passes take changes.
constexpr uint32_t kStart = 1800000000u;

class EngineTest : public ::testing::Test {
 protected:
  explicit EngineTest(uint32_t start_seconds = kStart)
      : env_(SimulatedClock::Mode::kStepped, start_seconds) {}

  CStationInfo& Add(const StationSetup& setup, bool in_database = true) {
    if (!setup.tag.empty() && in_database) db_.Define(setup.tag);
    return AddStation(doc_, setup);
  }
  CStationInfo& At(size_t i) { return *doc_.Stations()[i]; }
  // Starts and lets the thread run until its first sleep (the pause after a frame, or after
  // the first pass).
  void Start() {
    ASSERT_EQ(line_.OpenPort(), 0);
    line_.ResolveTags();
    line_.SetActive(nullptr, 1);
    env_.clock.WaitForSleeper();
  }
  // Starts and runs the whole first pass, up to just before the second.
  void StartFirstPass() {
    Start();
    env_.clock.AdvanceTo(veldrane::comm::Engine::kPassPeriodMs - 1);
  }
  std::vector<std::string> Frames() const {
    std::vector<std::string> frames;
    for (const std::string& f : env_.line.Frames()) frames.push_back(Hex(f));
    return frames;
  }
  // The station's statistics as {result, sent, failed}.
  std::vector<int32_t> Stats(const char* name) {
    int32_t sent = 0, failed = 0, third = 0, fourth = 0;
    int32_t result = line_.GetStats(name, &sent, &failed, &third, &fourth);
    return {result, sent, failed};
  }

  SimulatedEnvironment env_;
  FakeTagDb db_{&env_.clock};
  EventLogCapture log_;
  veldrane::DriverInstance line_;  // last: destroyed (and stopped) first
  CVeldraneDoc& doc_ = line_.doc();
};

TEST_F(EngineTest, SendsChangedValuesInListOrderFiftyMillisecondsApart) {
  Add({"PUMP1", 1, 1, 0, "T1"});
  Add({"PUMP2", 5, 2, 0, "T2"});
  Add({"PUMP3", 4, 3, 0, "T3"});
  db_.Queue({{&At(2), 1, 123}, {&At(0), 1, 123}, {&At(1), 1, -12.5}});
  StartFirstPass();
  EXPECT_EQ(Frames(),
            (std::vector<std::string>{"28 30 31 29 31 32 33 0D", "28 30 30 32 29 2D 30 30 31 33 0D",
                                      "4D 30 33 30 30 37 42 03"}));
  EXPECT_EQ(env_.line.FrameTicks(), (std::vector<uint32_t>{0, 50, 100}));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(At(i).pending.load(), 0);
  EXPECT_EQ(Stats("pump2"), (std::vector<int32_t>{0, 1, 0}));
  EXPECT_EQ(Stats(nullptr), (std::vector<int32_t>{0, 3, 0}));
}

TEST_F(EngineTest, TheNewestValidValueOfAStationIsSentOnce) {
  Add({"A", 1, 1, 0, "TA"});
  Add({"B", 1, 2, 0, "TB"});
  // A type-0 record carries no usable value: B stays as it was.
  db_.Queue({{&At(0), 1, 7}, {&At(1), 0, 5}, {&At(0), 2, 123}});
  StartFirstPass();
  EXPECT_EQ(Frames(), (std::vector<std::string>{"28 30 31 29 31 32 33 0D"}));
  EXPECT_EQ(At(1).pending.load(), 0);
  EXPECT_EQ(At(1).frames_sent.load(), 0);
}

class LateStartTest : public EngineTest {
 protected:
  LateStartTest() : EngineTest(kStart + 1) {}
};

TEST_F(LateStartTest, ChangesAreTakenOnlyInSecondsDivisibleByThree) {
  Add({"A", 1, 1, 0, "TA"});
  db_.Queue({{&At(0), 1, 1}});
  Start();
  env_.clock.AdvanceTo(6000);
  // Passes every 500 ms from second S+1 on; S+3 and S+6 are divisible by 3.
  EXPECT_EQ(db_.GetChangesTicks(), (std::vector<uint32_t>{2000, 2500, 5000, 5500}));
  EXPECT_EQ(env_.line.FrameTicks(), (std::vector<uint32_t>{2000}));
}

TEST_F(EngineTest, EveryResolvedStationIsRefreshedSixtySecondsAfterTheStart) {
  Add({"A", 1, 1, 0, "TA"});
  Add({"MISSING", 1, 2, 0, "NOWHERE"}, false);
  Add({"NOTAG", 1, 3, 0, ""});
  Start();
  env_.clock.AdvanceTo(59999);
  EXPECT_TRUE(Frames().empty());
  env_.clock.AdvanceTo(60000);
  // No value has arrived yet: the meter shows 0.
  EXPECT_EQ(Frames(), (std::vector<std::string>{"28 30 31 29 30 0D"}));
  env_.clock.AdvanceTo(119999);
  EXPECT_EQ(Frames().size(), 1u);
  env_.clock.AdvanceTo(120000);
  EXPECT_EQ(Frames().size(), 2u);
  EXPECT_EQ(At(1).frames_sent.load() + At(2).frames_sent.load(), 0);
  // The missing tag was reported while resolving, between the port and the start.
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 12, 1}));
  EXPECT_EQ(log_.Lines()[1].argument, "NOWHERE");
  EXPECT_EQ(log_.Lines()[1].level_word, 0x100);
}

TEST_F(EngineTest, ADisabledStationKeepsItsPendingValueUntilEnabled) {
  Add({"PUMP1", 1, 1, 0, "T1"});
  Add({"PUMP2", 1, 2, 0, "T2"});
  line_.SetActive("pump2", 0);
  db_.Queue({{&At(0), 1, 1}, {&At(1), 1, 2}});
  StartFirstPass();
  EXPECT_EQ(Frames(), (std::vector<std::string>{"28 30 31 29 31 0D"}));
  EXPECT_EQ(At(1).pending.load(), 1);
  EXPECT_EQ(Stats("PUMP2"), (std::vector<int32_t>{-1, 0, 0}));
  line_.SetActive("Pump2", 1);
  line_.SetActive("nobody", 0);  // matches nothing, changes nothing
  env_.clock.AdvanceTo(500);
  EXPECT_EQ(Frames(), (std::vector<std::string>{"28 30 31 29 31 0D", "28 30 32 29 32 0D"}));
  EXPECT_EQ(env_.line.FrameTicks().back(), 500u);
}

TEST_F(EngineTest, APassOf400MsOrMoreIsFollowedBy100MsElseThePeriodIs500Ms) {
  struct Case {
    int frames;
    uint32_t transmit_ms;
    uint32_t next_pass;
  };
  // A frame costs its transmit time and 50 ms.
  const Case cases[] = {{0, 0, 500},   {1, 0, 500},   {1, 300, 500},
                        {1, 400, 550}, {2, 200, 600}, {3, 950, 3100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.frames << " frames of " << c.transmit_ms << " ms");
    SimulatedEnvironment env(SimulatedClock::Mode::kStepped, kStart);
    FakeTagDb db(&env.clock);
    veldrane::DriverInstance line;
    CVeldraneDoc& doc = line.doc();
    std::vector<FakeTagDb::Change> changes;
    for (int i = 0; i < c.frames; ++i) {
      CStationInfo& s = AddStation(doc, {"S" + std::to_string(i), 1, i, 0, "T"});
      changes.push_back({&s, 1, 1.0});
    }
    db.Define("T");
    db.Queue(changes);
    env.line.SetTransmitTimeMs(c.transmit_ms);
    line.OpenPort();
    line.ResolveTags();
    line.SetActive(nullptr, 1);
    env.clock.AdvanceTo(c.next_pass);
    // Every pass of the first seconds asks for changes: the second one marks its start.
    ASSERT_GE(db.GetChangesTicks().size(), 2u);
    EXPECT_EQ(db.GetChangesTicks()[1], c.next_pass);
    line.Stop();
  }
}

TEST_F(EngineTest, FramesThatCannotBeBuiltFailWithoutTouchingTheLine) {
  Add({"FOUR", 5, 1, 0, "T"});
  Add({"SIX", 6, 2, 0, "T"});
  Add({"NOKIND", -1, 3, 0, "T"});
  Add({"SEVEN", 7, 4, 0, "T"});
  db_.Queue({{&At(0), 1, 12000}, {&At(1), 1, 1e6}, {&At(2), 1, 1}, {&At(3), 1, 1}});
  StartFirstPass();
  EXPECT_EQ(env_.line.CountOf(FakeSerialLine::Call::kPurge), 0);
  std::vector<std::string> named;
  for (const auto& line : log_.Lines()) {
    if (line.message != 8) continue;
    EXPECT_EQ(line.level_word, 0x101);
    named.push_back(line.argument);
  }
  EXPECT_EQ(named, (std::vector<std::string>{"FOUR", "SIX", "NOKIND", "SEVEN"}));
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(At(i).frames_sent.load(), 1);
    EXPECT_EQ(At(i).frames_failed.load(), 1);
    EXPECT_EQ(At(i).pending.load(), 0);
  }
  EXPECT_EQ(Stats(nullptr), (std::vector<int32_t>{1, 4, 4}));
}

TEST_F(EngineTest, AStationLostOnTheLineIsReportedAndItsRecoveryToo) {
  Add({"A", 1, 1, 0, "T"});
  for (int i = 0; i < 7; ++i) db_.Queue({{&At(0), 1, static_cast<double>(i)}});
  env_.line.SetWriteOutcome(FakeSerialLine::Outcome::kFail);
  Start();
  env_.clock.AdvanceTo(6500);  // passes at 0, 500, 3000, 3500, 6000, 6500 take changes
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 1, 8, 8, 8, 8, 8, 10}));
  EXPECT_EQ(Stats("a"), (std::vector<int32_t>{1, 6, 6}));
  EXPECT_EQ(Stats(nullptr), (std::vector<int32_t>{1, 6, 6}));
  env_.line.SetWriteOutcome(FakeSerialLine::Outcome::kOk);
  env_.clock.AdvanceTo(9000);
  EXPECT_EQ(log_.Messages().back(), 11);
  EXPECT_EQ(Stats("a"), (std::vector<int32_t>{0, 7, 6}));
  EXPECT_EQ(Stats(nullptr), (std::vector<int32_t>{0, 7, 6}));
}

TEST_F(EngineTest, ALineThatComesBackRefreshesEveryResolvedMeterInTheNextPass) {
  Add({"A", 1, 1, 0, "TA"});
  Add({"B", 1, 2, 0, "TB"});
  Add({"MISSING", 1, 3, 0, "NOWHERE"}, false);
  db_.Queue({{&At(0), 1, 1}, {&At(1), 1, 2}});
  StartFirstPass();
  env_.line.SetPresent(false);  // unplugged: A's next value fails at 500
  db_.Queue({{&At(0), 1, 3}});
  env_.clock.AdvanceTo(2999);
  env_.line.SetPresent(true);
  db_.Queue({{&At(0), 1, 4}});  // taken at 3000, when the line opens again
  env_.clock.AdvanceTo(59999);
  // B's value never changed, yet it is shown again at once, not at the next refresh.
  EXPECT_EQ(Frames(),
            (std::vector<std::string>{"28 30 31 29 31 0D", "28 30 32 29 32 0D", "28 30 31 29 34 0D",
                                      "28 30 31 29 34 0D", "28 30 32 29 32 0D"}));
  EXPECT_EQ(env_.line.FrameTicks(), (std::vector<uint32_t>{0, 50, 3000, 3500, 3550}));
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 12, 1, 8}));
  // The schedule otherwise stays as it was: the refresh comes 60 s after the start.
  env_.clock.AdvanceTo(60050);
  EXPECT_EQ(env_.line.FrameTicks().back(), 60050u);
  EXPECT_EQ(Frames().size(), 7u);
}

class LineModeTest : public EngineTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LineModeTest, WithTheHandshakeEachFrameCarriesItsZeroByte) {
  doc_.Port().SetRtsCts(GetParam());
  Add({"A", 1, 1, 0, "T"});
  db_.Queue({{&At(0), 1, 123}});
  Start();
  EXPECT_EQ(Frames(), (std::vector<std::string>{GetParam() ? "28 30 31 29 31 32 33 0D 00"
                                                           : "28 30 31 29 31 32 33 0D"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, LineModeTest, ::testing::Values(false, true),
                         [](const auto& param_info) {
                           return param_info.param ? "RtsCts" : "Normal";
                         });

TEST_F(EngineTest, EachStartOpensAClientAndTheFollowingStopClosesIt) {
  Add({"A", 1, 1, 0, "TA"});
  Add({"B", 1, 2, 0, ""});
  Add({"C", 1, 3, 0, "TC"});
  ASSERT_EQ(line_.OpenPort(), 0);
  line_.ResolveTags();
  // The client used for resolving is closed at once.
  EXPECT_EQ(db_.ClientsOpened(), 1);
  EXPECT_EQ(db_.OpenClients(), 0);

  line_.SetActive(nullptr, 1);
  line_.SetActive(nullptr, 1);  // already running: nothing
  line_.SetActive(nullptr, 2);  // any nonzero state is a start: nothing either
  EXPECT_EQ(db_.ClientsOpened(), 2);
  EXPECT_EQ(db_.OpenClients(), 1);
  std::vector<FakeTagDb::Advice> advices = db_.Advices();
  ASSERT_EQ(advices.size(), 2u);
  EXPECT_EQ(advices[0].user_data, &At(0));
  EXPECT_EQ(advices[1].user_data, &At(2));
  EXPECT_EQ(advices[1].client, 1);

  EXPECT_EQ(line_.Stop(), 0);
  EXPECT_EQ(db_.OpenClients(), 0);
  EXPECT_EQ(line_.Stop(), 0);
  line_.SetActive(nullptr, 0);
  line_.SetActive(nullptr, 1);
  EXPECT_EQ(db_.ClientsOpened(), 3);
  line_.SetActive(nullptr, 0);
  EXPECT_EQ(db_.OpenClients(), 0);
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 1, 2, 1, 2}));
  // The port stays open across stops.
  EXPECT_EQ(env_.line.OpenDevices(), 1);
}

TEST_F(EngineTest, StopEndsTheSendCycleAfterTheFrameOnTheLine) {
  for (int i = 0; i < 3; ++i) Add({"S" + std::to_string(i), 1, i, 0, "T"});
  db_.Queue({{&At(0), 1, 1}, {&At(1), 1, 2}, {&At(2), 1, 3}});
  env_.line.SetTransmitTimeMs(1000);
  Start();  // parked in the first frame's transmitter wait
  EXPECT_EQ(env_.line.Frames().size(), 1u);
  line_.Stop();
  // The frame on the line finishes; the pause after it, the rest of the cycle and the pause
  // at the end of the pass do not come.
  EXPECT_EQ(env_.line.Frames().size(), 1u);
  EXPECT_EQ(env_.clock.NowMs(), 1000u);
  EXPECT_EQ(log_.Messages().back(), 2);
  EXPECT_EQ(At(1).pending.load(), 1);
  EXPECT_EQ(At(2).pending.load(), 1);
  // The next start sends what was left.
  env_.line.SetTransmitTimeMs(0);
  line_.SetActive(nullptr, 1);
  env_.clock.AdvanceTo(env_.clock.NowMs() + 200);
  EXPECT_EQ(env_.line.Frames().size(), 3u);
  EXPECT_EQ(At(2).pending.load(), 0);
}

// With the handshake on a line whose CTS never comes up, a cycle of 256 stations takes over four
// minutes; Stop ends the wait of the frame under way and returns within one frame's bounds.
TEST_F(EngineTest, StopOnADeadHandshakeLineCutsTheFrameShort) {
  doc_.Port().SetRtsCts(true);
  env_.line.SetCts(platform::ModemLine::kDown);
  std::vector<FakeTagDb::Change> changes;
  for (int i = 0; i < 256; ++i) {
    changes.push_back({&Add({"S" + std::to_string(i), 1, i, 0, "T" + std::to_string(i)}), 1, 1});
  }
  db_.Queue(changes);
  Start();
  // Two frames have failed; the third waits for CTS.
  env_.clock.AdvanceTo(
      2 * (veldrane::comm::Engine::kCtsWaitMs + veldrane::comm::Engine::kFramePauseMs) + 500);
  const uint64_t before = env_.clock.NowMs();
  line_.Stop();
  EXPECT_EQ(env_.clock.NowMs(), before);
  EXPECT_EQ(Stats("S1"), (std::vector<int32_t>{1, 1, 1}));
  // The frame cut short counts as not sent and is no failure; it and the rest stay pending.
  EXPECT_EQ(Stats("S2"), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(At(2).pending.load(), 1);
  EXPECT_EQ(At(255).pending.load(), 1);
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 1, 8, 8, 2}));
  EXPECT_EQ(env_.line.CountOf(FakeSerialLine::Call::kWrite), 0);
  EXPECT_EQ(env_.line.Records().back().call, FakeSerialLine::Call::kRtsDown);
}

TEST_F(EngineTest, WithoutATagDatabaseClientTheEngineStillStarts) {
  Add({"A", 1, 1, 0, "TA"});
  db_.SetOpenClientFailure(-3);
  Start();
  EXPECT_TRUE(db_.Advices().empty());
  EXPECT_EQ(At(0).tag_index.load(), -1);  // nothing was resolved
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 1}));
  env_.clock.AdvanceTo(61000);
  EXPECT_TRUE(Frames().empty());
}

TEST_F(EngineTest, AStationMayBeResolvedWithoutATagDatabase) {
  SetDbmTable(nullptr);
  Add({"A", 1, 1, 0, "TA"});
  At(0).tag_index.store(4);  // resolved earlier
  Start();
  env_.clock.AdvanceTo(60000);
  EXPECT_EQ(Frames().size(), 1u);  // the refresh needs no database
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 1}));
}

TEST_F(EngineTest, ASecondOpenPortStopsAndReleasesThePreviousEngine) {
  Add({"A", 1, 1, 0, "TA"});
  Start();
  ASSERT_EQ(line_.OpenPort(), 0);
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 1, 2, 3}));
  EXPECT_EQ(db_.OpenClients(), 0);
  EXPECT_EQ(env_.line.OpenDevices(), 1);
  EXPECT_EQ(env_.line.CountOf(FakeSerialLine::Call::kClose), 1);
  EXPECT_FALSE(line_.GetEngine()->Running());
}

TEST_F(EngineTest, DestroyingARunningDocumentStopsItFirst) {
  {
    veldrane::DriverInstance line;
    CVeldraneDoc& doc = line.doc();
    CStationInfo& a = AddStation(doc, {"A", 1, 1, 0, "TA"});
    db_.Define("TA");
    db_.SetEndless({{&a, 1, 1.0}});
    ASSERT_EQ(line.OpenPort(), 0);
    line.ResolveTags();
    line.SetActive(nullptr, 1);
    env_.clock.WaitForSleeper();
  }
  EXPECT_EQ(log_.Messages(), (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(db_.OpenClients(), 0);
  EXPECT_EQ(env_.line.OpenDevices(), 0);
}

// Statistics, enable and the slots that need an engine, in each state of the instance.
class StatisticsTest : public EngineTest {
 protected:
  void SetUp() override {
    Add({"A", 1, 1, 0, ""});
    Add({"B", 1, 2, 0, ""});
    At(0).frames_sent.store(5);
    At(0).frames_failed.store(2);
    At(1).frames_sent.store(7);
    At(1).consecutive_failures.store(1);
  }
  // {result, sent, failed, third, fourth} starting from outputs of 100.
  std::vector<int32_t> Query(const char* name) {
    int32_t out[4] = {100, 100, 100, 100};
    int32_t result = line_.GetStats(name, &out[0], &out[1], &out[2], &out[3]);
    return {result, out[0], out[1], out[2], out[3]};
  }
};

TEST_F(StatisticsTest, BeforeThePortWasOpenedTheSlotsAnswerAsForABadIndex) {
  EXPECT_EQ(Query(nullptr), (std::vector<int32_t>{-1, 100, 100, 100, 100}));
  EXPECT_EQ(Query("A"), (std::vector<int32_t>{-1, 100, 100, 100, 100}));
  EXPECT_EQ(line_.ResolveTags(), 0);
  EXPECT_EQ(line_.Stop(), 0);
  line_.SetActive(nullptr, 1);
  EXPECT_EQ(db_.ClientsOpened(), 0);
  EXPECT_TRUE(log_.Lines().empty());
  // Enabling by name needs no engine.
  line_.SetActive("b", 0);
  EXPECT_EQ(At(1).enabled.load(), 0);
}

TEST_F(StatisticsTest, WithThePortClosedEveryQueryAnswersFailing) {
  env_.line.SetOpenFails(true);
  EXPECT_EQ(line_.OpenPort(), -4);
  for (const char* name : {static_cast<const char*>(nullptr), "A", "nobody"}) {
    EXPECT_EQ(Query(name), (std::vector<int32_t>{1, 100, 100, 100, 100}));
  }
  line_.SetActive(nullptr, 1);  // no port: nothing starts, nothing is said
  EXPECT_FALSE(line_.GetEngine()->Running());
  EXPECT_EQ(log_.Messages(), (std::vector<int>{4}));
}

TEST_F(StatisticsTest, AStationsOwnCountersAreAssigned) {
  ASSERT_EQ(line_.OpenPort(), 0);
  EXPECT_EQ(Query("a"), (std::vector<int32_t>{0, 5, 2, 0, 0}));
  EXPECT_EQ(Query("B"), (std::vector<int32_t>{1, 7, 0, 0, 0}));
  EXPECT_EQ(Query("nobody"), (std::vector<int32_t>{-1, 100, 100, 100, 100}));
  line_.SetActive("A", 0);
  EXPECT_EQ(Query("A"), (std::vector<int32_t>{-1, 5, 2, 0, 0}));
  // A null output is skipped.
  int32_t sent = 0;
  EXPECT_EQ(line_.GetStats("B", &sent, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(sent, 7);
}

TEST_F(StatisticsTest, TheSummaryAddsEveryStationAndSpeaksOnlyWhileRunning) {
  ASSERT_EQ(line_.OpenPort(), 0);
  // Stopped: nothing to report, though B is failing; the sums are still added.
  EXPECT_EQ(Query(nullptr), (std::vector<int32_t>{-1, 112, 102, 100, 100}));
  Start();
  EXPECT_EQ(Query(nullptr), (std::vector<int32_t>{1, 112, 102, 100, 100}));
  At(1).consecutive_failures.store(0);
  EXPECT_EQ(Query(nullptr), (std::vector<int32_t>{0, 112, 102, 100, 100}));
  line_.SetActive("A", 0);
  line_.SetActive("B", 0);
  EXPECT_EQ(Query(nullptr), (std::vector<int32_t>{-1, 112, 102, 100, 100}));
  doc_.ResetStats(nullptr);
  EXPECT_EQ(Query(nullptr), (std::vector<int32_t>{-1, 100, 100, 100, 100}));
}

}  // namespace
}  // namespace veldrane::test
