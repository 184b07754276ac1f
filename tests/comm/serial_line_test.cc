// The serial line of the engine on a fake line: what opening the port asks of the device and
// reports, and the RTS/CTS handshake, write and transmitter waits of one frame, in simulated
// time.
#include <gtest/gtest.h>

#include "comm/comm_engine.h"
#include "driver/driver_instance.h"
#include "hostlink/report.h"
#include "tests/comm/comm_support.h"

namespace veldrane::test {
namespace {

using platform::FakeSerialLine;
using platform::ModemLine;
using platform::Parity;
using Call = FakeSerialLine::Call;
using Outcome = FakeSerialLine::Outcome;

struct PortCase {
  int32_t port_index, baud_index, parity_index, data_bits, stop_bits;
  uint32_t option_flags;
  const char* name;
  uint32_t baud;
  uint8_t byte_size;
  Parity parity;
  uint8_t stop;
  bool rts_cts;
};

TEST(SerialLineOpen, TurnsThePortSettingsIntoTheLine) {
  const PortCase cases[] = {
      {0, 5, 0, 1, 0, 0, "COM1", 9600, 8, Parity::kNone, 1, false},
      {8, 7, 1, 0, 1, 2, "COM9", 38400, 7, Parity::kEven, 2, true},
      {9, 0, 2, 3, 4, 0xFFFFFFFD, "\\\\.\\COM10", 300, 8, Parity::kOdd, 2, false},
      {35, 6, 0, 1, 0, 0xFFFFFFFF, "\\\\.\\COM36", 19200, 8, Parity::kNone, 1, true},
  };
  for (const PortCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedEnvironment env(platform::SimulatedClock::Mode::kFreeRunning);
    EventLogCapture log;
    veldrane::DriverInstance line;
    CVeldraneDoc& doc = line.doc();
    CSerialPort& port = doc.Port();
    port.port_index = c.port_index;
    port.baud_index = c.baud_index;
    port.parity_index = c.parity_index;
    port.data_bits = c.data_bits;
    port.stop_bits = c.stop_bits;
    port.option_flags = c.option_flags;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(env.line.PortName(), c.name);
    platform::SerialSettings s = env.line.Settings();
    EXPECT_EQ(s.baud_rate, c.baud);
    EXPECT_EQ(s.byte_size, c.byte_size);
    EXPECT_EQ(s.parity, c.parity);
    EXPECT_EQ(s.stop_bits, c.stop);
    EXPECT_EQ(s.rts_cts, c.rts_cts);
    EXPECT_EQ(line.GetEngine()->RtsCts(), c.rts_cts);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].message, 3);
    EXPECT_EQ(log.Lines()[0].level_word, 0x102);
  }
}

TEST(SerialLineOpen, AFailedOpenReportsMessage4WithTheDeviceName) {
  SimulatedEnvironment env(platform::SimulatedClock::Mode::kFreeRunning);
  env.line.SetOpenFails(true);
  veldrane::DriverInstance line;
  CVeldraneDoc& doc = line.doc();
  doc.Port().port_index = 11;
  {
    EventLogCapture log;
    EXPECT_EQ(line.OpenPort(), -4);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].message, 4);
    EXPECT_EQ(log.Lines()[0].argument, "\\\\.\\COM12");
    EXPECT_EQ(log.Lines()[0].level_word, 0x100);
    EXPECT_FALSE(line.GetEngine()->PortOpen());
    EXPECT_FALSE(line.GetEngine()->LastSerialResult().ok());
  }
  // Without an event log the reporter's result is the message number itself.
  EXPECT_EQ(line.OpenPort(), 4);
}

TEST(SerialLineOpen, SettingsWithoutALineValueAreRefusedWithMessage4) {
  const struct { int32_t baud_index, parity_index; } cases[] = {{8, 0}, {-1, 0}, {5, 3}, {5, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud_index) + " " + std::to_string(c.parity_index));
    SimulatedEnvironment env(platform::SimulatedClock::Mode::kFreeRunning);
    EventLogCapture log;
    veldrane::DriverInstance line;
    CVeldraneDoc& doc = line.doc();
    doc.Port().baud_index = c.baud_index;
    doc.Port().parity_index = c.parity_index;
    EXPECT_EQ(line.OpenPort(), -4);
    EXPECT_EQ(log.Messages(), std::vector<int>{4});
    // Not run at whatever speed or parity the device had.
    EXPECT_EQ(env.line.CountOf(Call::kOpen), 0);
    EXPECT_EQ(line.GetEngine()->LastSerialResult().fault, platform::SerialFault::kSettingsRefused);
  }
}

// One frame written on the test's own thread, time running free.
class WriteFrameTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    doc_.Port().SetRtsCts(GetParam());
    ASSERT_EQ(line_.OpenPort(), 0);
    env_.line.ClearRecords();
  }
  int32_t Write(const std::string& frame = "(01)123\r") {
    return line_.GetEngine()->WriteFrame(reinterpret_cast<const uint8_t*>(frame.data()),
                                         static_cast<int32_t>(frame.size()));
  }
  std::vector<Call> Calls() const {
    std::vector<Call> calls;
    for (const auto& r : env_.line.Records()) calls.push_back(r.call);
    return calls;
  }
  bool rts_cts() const { return GetParam(); }

  SimulatedEnvironment env_{platform::SimulatedClock::Mode::kFreeRunning};
  veldrane::DriverInstance line_;
  CVeldraneDoc& doc_ = line_.doc();
};

TEST_P(WriteFrameTest, SendsAtOnceWhenTheLineIsReady) {
  EXPECT_EQ(Write(), 0);
  EXPECT_EQ(env_.clock.NowMs(), 0u);  // CTS already up: no pause after raising RTS
  ASSERT_EQ(env_.line.Frames().size(), 1u);
  EXPECT_EQ(env_.line.Frames()[0], "(01)123\r");
  if (rts_cts()) {
    EXPECT_EQ(Calls(), (std::vector<Call>{Call::kPurge, Call::kRtsUp, Call::kCts, Call::kWrite,
                                          Call::kWaitTransmitted, Call::kRtsDown}));
  } else {
    // Normal mode never touches RTS and never looks at CTS.
    EXPECT_EQ(Calls(), (std::vector<Call>{Call::kPurge, Call::kWrite, Call::kWaitTransmitted}));
  }
}

TEST_P(WriteFrameTest, FailedWritesAndTransmitterWaits) {
  struct Case {
    Outcome write, transmit;
    uint64_t elapsed_ms;
    bool waited;  // the transmitter wait was made
  };
  const Case cases[] = {
      {Outcome::kTimeout, Outcome::kOk, 1000, false},
      {Outcome::kFail, Outcome::kOk, 0, false},
      {Outcome::kOk, Outcome::kTimeout, 2000, true},
      {Outcome::kOk, Outcome::kFail, 0, true},
  };
  for (const Case& c : cases) {
    env_.line.ClearRecords();
    env_.line.SetWriteOutcome(c.write);
    env_.line.SetTransmitOutcome(c.transmit);
    uint64_t start = env_.clock.NowMs();
    EXPECT_EQ(Write(), 8);
    EXPECT_EQ(env_.clock.NowMs() - start, c.elapsed_ms);
    EXPECT_EQ(env_.line.CountOf(Call::kWaitTransmitted), c.waited ? 1 : 0);
    // RTS never stays up after a failure.
    if (rts_cts()) {
      EXPECT_EQ(Calls().back(), Call::kRtsDown);
    }
    EXPECT_EQ(env_.line.CountOf(Call::kRtsUp), env_.line.CountOf(Call::kRtsDown));
    EXPECT_EQ(env_.line.CountOf(Call::kRtsUp), rts_cts() ? 1 : 0);
    // The device's own cause goes with the failure, for whoever reports it.
    EXPECT_FALSE(line_.GetEngine()->LastSerialResult().ok());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, WriteFrameTest, ::testing::Values(false, true),
                         [](const auto& param_info) {
                           return param_info.param ? "RtsCts" : "Normal";
                         });

class HandshakeTest : public WriteFrameTest {};

TEST_P(HandshakeTest, CtsThatNeverComesUpFailsAfterASecondOfPolls) {
  env_.line.SetCts(ModemLine::kDown);
  EXPECT_EQ(Write(), 8);
  // Polls at 0, 10, ... 1000 ms: the last one finds the second gone.
  EXPECT_EQ(env_.clock.NowMs(), 1000u);
  EXPECT_EQ(env_.line.CountOf(Call::kCts), 101);
  EXPECT_EQ(env_.line.CountOf(Call::kWrite), 0);
  EXPECT_EQ(Calls().back(), Call::kRtsDown);
}

TEST_P(HandshakeTest, AModemLineThePortLacksCountsAsCtsDown) {
  env_.line.SetCts(ModemLine::kUnsupported);
  EXPECT_EQ(Write(), 8);
  EXPECT_EQ(env_.line.CountOf(Call::kWrite), 0);
}

TEST_P(HandshakeTest, CtsThatComesUpLateLetsTheFrameGo) {
  env_.line.SetCts(ModemLine::kUp, 30);
  EXPECT_EQ(Write(), 0);
  ASSERT_EQ(env_.line.FrameTicks().size(), 1u);
  EXPECT_EQ(env_.line.FrameTicks()[0], 30u);
  EXPECT_EQ(env_.line.CountOf(Call::kCts), 4);  // 0, 10, 20: down; 30: up
}

TEST_P(HandshakeTest, TheTickMayWrapDuringTheWait) {
  SimulatedEnvironment env(platform::SimulatedClock::Mode::kFreeRunning, 1800000000u,
                           0xFFFFFFFFu - 500);
  veldrane::DriverInstance line;
  CVeldraneDoc& doc = line.doc();
  doc.Port().SetRtsCts(true);
  ASSERT_EQ(line.OpenPort(), 0);
  env.line.SetCts(ModemLine::kDown);
  const uint8_t frame[] = {'M', 0x03};
  EXPECT_EQ(line.GetEngine()->WriteFrame(frame, 2), 8);
  EXPECT_EQ(env.clock.NowMs(), 1000u);
}

INSTANTIATE_TEST_SUITE_P(RtsCts, HandshakeTest, ::testing::Values(true),
                         [](const auto&) { return "RtsCts"; });

}  // namespace
}  // namespace veldrane::test
