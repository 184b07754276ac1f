// The station record: label, statistics, address, and the failure state machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/serial_port.h"
#include "config/station_info.h"
#include "hostlink/report.h"

namespace {

struct Logged {
  int32_t level_word;
  std::string line;
};
std::vector<Logged>* g_log = nullptr;
void Capture(int32_t, int32_t level_word, const char* line) {
  g_log->push_back({level_word, line});
}

std::string Station(const std::string& name) {
  return "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[" + name + "]";  // "스테이션[name]"
}

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log = &log_;
    veldrane::SetEventLog(&Capture);
    station_.name = "PUMP1";
  }
  void TearDown() override {
    veldrane::SetEventLog(nullptr);
    g_log = nullptr;
  }
  // "8:1" for message 8 at level 1 and so on, in order.
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const Logged& l : log_) {
      const std::string& s = l.line;
      std::string kind = s.find("\xBC\xDB\xBD\xC5") != std::string::npos           ? "8"   // 송신
                         : s.find("\xBA\xB9\xB1\xB8") != std::string::npos         ? "11"  // 복구
                         : s.find("\xC5\xEB\xBD\xC5\xC7\xD2") != std::string::npos ? "10"  // 통신할
                                                                                   : "?";
      EXPECT_NE(s.find(Station("PUMP1")), std::string::npos) << s;
      out.push_back(kind + ":" + std::to_string(l.level_word & 0xFF));
    }
    return out;
  }
  CStationInfo station_;
  std::vector<Logged> log_;
};

TEST_F(StationTest, NewRecord) {
  CStationInfo fresh;
  CString label, address, tag;
  fresh.GetLabel(label);
  EXPECT_EQ(std::string(label), " (0\xB1\xB9) : ");
  int32_t s = 9, f = 9, t = 9, u = 9;
  EXPECT_EQ(fresh.GetStats(s, f, t, u), 0);
  EXPECT_EQ(s + f + t + u, 0);
  fresh.GetAddress(address, tag);
  EXPECT_EQ(std::string(address), "0");
  EXPECT_TRUE(tag.IsEmpty());
  EXPECT_EQ(fresh.enabled.load(), 1);
  EXPECT_EQ(fresh.tag_index.load(), -1);
  EXPECT_EQ(fresh.pending.load(), 0);
}

TEST_F(StationTest, LabelAndAddress) {
  station_.number = 3;
  station_.tag_name = "FLOW1";
  CString label;
  station_.GetLabel(label);
  EXPECT_EQ(std::string(label), "PUMP1 (3\xB1\xB9) : FLOW1");
  station_.number = 7;
  CString address, tag;
  station_.GetAddress(address, tag);
  EXPECT_EQ(std::string(address), "7");
  EXPECT_EQ(std::string(tag), "FLOW1");
}

TEST_F(StationTest, DisabledStationStillDeliversItsCounters) {
  station_.frames_sent = 4;
  station_.frames_failed = 2;
  station_.third_counter = 1;
  station_.fourth_counter = 5;
  station_.enabled = 0;
  int32_t s, f, t, u;
  EXPECT_EQ(station_.GetStats(s, f, t, u), -1);
  EXPECT_EQ(s, 4);
  EXPECT_EQ(f, 2);
  EXPECT_EQ(t, 1);
  EXPECT_EQ(u, 5);
}

TEST_F(StationTest, FiveFailuresThenSilenceThenRecovery) {
  for (int i = 0; i < 5; ++i) station_.RecordResult(8, 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"8:1", "8:1", "8:1", "8:1", "8:1", "10:2"}));
  EXPECT_EQ(station_.consecutive_failures.load(), 5);
  log_.clear();
  station_.RecordResult(8, 0);
  station_.RecordResult(8, 0);
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(station_.consecutive_failures.load(), 5);
  station_.RecordResult(0, 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"11:2"}));
  EXPECT_EQ(station_.consecutive_failures.load(), 0);
  log_.clear();
  station_.RecordResult(0, 0);
  EXPECT_TRUE(log_.empty());
}

TEST_F(StationTest, ThreeFailuresThenSuccessReportNoLossNorRecovery) {
  for (int i = 0; i < 3; ++i) station_.RecordResult(8, 0);
  station_.RecordResult(0, 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"8:1", "8:1", "8:1"}));
  EXPECT_EQ(station_.consecutive_failures.load(), 0);
}

TEST_F(StationTest, RecordResultLeavesFrameCountersToTheEngine) {
  station_.RecordResult(8, 0);
  EXPECT_EQ(station_.frames_sent.load(), 0);
  EXPECT_EQ(station_.frames_failed.load(), 0);
}

TEST_F(StationTest, ResetStatsOnAFailingStationKeepsItFailing) {
  station_.frames_sent = 10;
  station_.frames_failed = 3;
  station_.pending = 1;
  station_.RecordResult(8, 0);
  station_.ResetStats();
  int32_t s, f, t, u;
  EXPECT_EQ(station_.GetStats(s, f, t, u), 1);
  EXPECT_EQ(s + f + t + u, 0);
  EXPECT_EQ(station_.pending.load(), 1);
  station_.RecordResult(0, 0);
  EXPECT_EQ(station_.GetStats(s, f, t, u), 0);
}

TEST(SerialPort, DefaultsAndLineValues) {
  CSerialPort port;
  EXPECT_EQ(port.port_index, 0);
  EXPECT_EQ(port.baud_index, 5);
  EXPECT_EQ(port.parity_index, 0);
  EXPECT_EQ(port.data_bits, 1);
  EXPECT_EQ(port.stop_bits, 0);
  EXPECT_EQ(port.option_flags, 0u);
  EXPECT_EQ(port.BaudRate(), 9600u);
  EXPECT_EQ(std::string(port.DeviceName()), "COM1");

  const uint32_t bauds[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
  for (int i = 0; i < 8; ++i) {
    port.baud_index = i;
    EXPECT_EQ(port.BaudRate(), bauds[i]);
  }
  port.baud_index = 8;
  EXPECT_EQ(port.BaudRate(), 0u);
  port.baud_index = -1;
  EXPECT_EQ(port.BaudRate(), 0u);

  for (int32_t bits : {1, 3, -1}) {
    port.data_bits = bits;
    EXPECT_EQ(port.ByteSize(), 8);
  }
  port.data_bits = 0;
  EXPECT_EQ(port.ByteSize(), 7);
  for (int32_t stop : {1, 4}) {
    port.stop_bits = stop;
    EXPECT_EQ(port.StopBitCount(), 2);
  }
}

TEST(SerialPort, DeviceNames) {
  CSerialPort port;
  port.port_index = 8;
  EXPECT_EQ(std::string(port.DeviceName()), "COM9");
  port.port_index = 9;
  EXPECT_EQ(std::string(port.DeviceName()), "\\\\.\\COM10");
  port.port_index = 35;
  EXPECT_EQ(std::string(port.DeviceName()), "\\\\.\\COM36");
}

TEST(SerialPort, HandshakeBitAloneChanges) {
  CSerialPort port;
  port.option_flags = ~CSerialPort::kRtsCtsBit;
  port.SetRtsCts(true);
  EXPECT_EQ(port.option_flags, 0xFFFFFFFFu);
  EXPECT_TRUE(port.RtsCts());
  port.SetRtsCts(false);
  EXPECT_EQ(port.option_flags, ~CSerialPort::kRtsCtsBit);
  EXPECT_FALSE(port.RtsCts());
}

}  // namespace
