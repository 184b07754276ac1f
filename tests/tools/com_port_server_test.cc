// The virtual meter as a device server: each COM-PORT-OPTION command of a client, in turn,
// with the answer it gets byte for byte and the line settings that result.
#include <gtest/gtest.h>

#include "tools/meter/com_port_server.h"

namespace veldrane::meter {
namespace {

namespace tn = platform::telnet;

TEST(ComPortServer, AnswersEachCommandWithTheValueInForce) {
  ComPortServer server({9600, 'N', 8, 1});
  const struct {
    tn::Bytes command;
    tn::Bytes answer;  // between IAC SB 44 and IAC SE, one per answer
    bool changed;
  } steps[] = {
      {{1, 0, 0, 0x4B, 0x00}, {101, 0, 0, 0x4B, 0x00}, true},  // 19200 baud
      {{1, 0, 0, 0, 0}, {101, 0, 0, 0x4B, 0x00}, false},       // asks for the rate
      {{2, 7}, {102, 7}, true},
      {{2, 9}, {102, 7}, false},  // no such data size: the one in force
      {{3, 3}, {103, 3}, true},   // even
      {{4, 3}, {104, 1}, false},  // 1.5 stop bits: not taken
      {{4, 2}, {104, 2}, true},
      {{5, 0}, {105, 1}, false},  // asks for the flow control: none
      {{12, 3}, {112, 3}, false},
      {{99, 1}, {}, false},  // unknown: no answer
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(static_cast<int>(s.command[0]));
    tn::Bytes out;
    EXPECT_EQ(server.Handle(s.command, &out), s.changed);
    tn::Bytes expected;
    if (!s.answer.empty()) {
      tn::AppendComPort(s.answer[0], tn::Bytes(s.answer.begin() + 1, s.answer.end()), &expected);
    }
    EXPECT_EQ(out, expected);
  }
  EXPECT_EQ(server.line().baud, 19200u);
  EXPECT_EQ(server.line().data_bits, 7);
  EXPECT_EQ(server.line().parity, 'E');
  EXPECT_EQ(server.line().stop_bits, 2);
}

// RTS comes back as CTS, told while the client wants to hear of it.
TEST(ComPortServer, LoopsRtsBackToCts) {
  ComPortServer server({});
  auto handle = [&](tn::Bytes command) {
    tn::Bytes out;
    server.Handle(command, &out);
    return out;
  };
  tn::Bytes up, down;
  tn::AppendComPort(105, {11}, &up);
  tn::AppendComPort(107, {0x11}, &up);  // CTS up, and that it changed
  EXPECT_EQ(handle({5, 11}), up);
  EXPECT_TRUE(server.rts());
  tn::Bytes asked;
  tn::AppendComPort(105, {11}, &asked);
  EXPECT_EQ(handle({5, 13}), asked);  // asks for RTS: nothing changed, nothing told
  EXPECT_EQ(handle({11, 0}).size(), 7u);
  tn::AppendComPort(105, {12}, &down);
  EXPECT_EQ(handle({5, 12}), down);  // the client wants no notices now
  EXPECT_FALSE(server.rts());
}

}  // namespace
}  // namespace veldrane::meter
