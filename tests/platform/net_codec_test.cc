// The pure parts of the network line: device-server addresses, the port-map entries that name
// them, and the Telnet COM-PORT-OPTION codec, byte for byte.
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/net/net_address.h"
#include "platform/net/telnet_codec.h"
#include "platform/serial/port_map.h"
#include "tests/support/temp_dir.h"

namespace veldrane::test {
namespace {

namespace tn = platform::telnet;
using platform::NetAddress;
using platform::NetProtocol;
using platform::Parity;
using platform::SerialSettings;

tn::Bytes B(std::initializer_list<int> bytes) {
  tn::Bytes b;
  for (int x : bytes) b.push_back(static_cast<uint8_t>(x));
  return b;
}

TEST(NetAddress, ParsesWhatAnEntryMayNameAndSaysWhatIsWrong) {
  const struct {
    const char* text;
    bool ok;
    NetProtocol protocol;
    const char* host;
    uint16_t port;
    const char* problem;  // a part of the reason
  } cases[] = {
      {"tcp://10.0.0.5:4001", true, NetProtocol::kRawTcp, "10.0.0.5", 4001, ""},
      {"RFC2217://hall-3.plant.example:1", true, NetProtocol::kRfc2217, "hall-3.plant.example", 1,
       ""},
      {"tcp://[::1]:65535", true, NetProtocol::kRawTcp, "::1", 65535, ""},
      {"rfc2217://[fe80::1%eth0]:7000", true, NetProtocol::kRfc2217, "fe80::1%eth0", 7000, ""},
      {"tcp://::1:4001", false, {}, "", 0, "goes in brackets: tcp://[::1]:4001"},
      {"tcp://[::1]4001", false, {}, "", 0, "no port"},
      {"tcp://[host]:1", false, {}, "", 0, "no IPv6 address"},
      {"tcp://[::1:4001", false, {}, "", 0, "without its ']'"},
      {"udp://host:1", false, {}, "", 0, "unknown kind of address 'udp://'"},
      {"tcp://host", false, {}, "", 0, "no port"},
      {"tcp://:4001", false, {}, "", 0, "no host"},
      {"tcp://host:0", false, {}, "", 0, "outside 1 to 65535"},
      {"tcp://host:65536", false, {}, "", 0, "outside 1 to 65535"},
      {"tcp://host:123456", false, {}, "", 0, "no port number"},
      {"tcp://host:40a1", false, {}, "", 0, "'40a1' is no port number"},
      {"tcp://host:4001/", false, {}, "", 0, "no port number"},
      {"tcp://ho st:4001", false, {}, "", 0, "no host name"},
      {"/dev/ttyUSB0", false, {}, "", 0, "is no address"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    NetAddress a;
    std::string problem;
    ASSERT_EQ(platform::ParseNetAddress(c.text, &a, &problem), c.ok) << problem;
    if (!c.ok) {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
      continue;
    }
    EXPECT_EQ(a.protocol, c.protocol);
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
    NetAddress again;
    ASSERT_TRUE(platform::ParseNetAddress(platform::NetAddressText(a), &again, nullptr));
    EXPECT_EQ(again.host, a.host);
  }
}

TEST(NetAddress, AnEntryNamesAnAddressByItsLinkOrItsFirstLine) {
  TempDir dir;
  auto link = [&](const std::string& name, const std::string& target) {
    EXPECT_EQ(symlink(target.c_str(), dir.File(name).c_str()), 0);
    return dir.File(name);
  };
  auto file = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir.File(name), std::ios::binary) << text;
    return dir.File(name);
  };
  const struct {
    std::string entry;
    std::string address;
  } cases[] = {
      {link("com1", "tcp://10.0.0.5:4001"), "tcp://10.0.0.5:4001"},
      {link("com2", "/dev/ttyUSB0"), ""},
      // Written by hand: blanks and a CR LF around the address, a comment on the next line.
      {file("com3", "  rfc2217://[::1]:7000 \r\n# hall 3\n"), "rfc2217://[::1]:7000"},
      // A wrong address still names a device server, so that its opening says what is wrong.
      {file("com4", "tcp://host\n"), "tcp://host"},
      {file("com5", "just a file\n"), ""},
      {file("com6", std::string(5000, 'x') + "tcp://h:1"), ""},
      {dir.File("com7"), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::PortEntryAddress(c.entry), c.address) << c.entry;
  }
}

TEST(TelnetCodec, LineSettingsGoOutAsComPortCommands) {
  const struct {
    SerialSettings settings;
    tn::Bytes bytes;
  } cases[] = {
      {{9600, 8, Parity::kNone, 1, false},
       B({255, 250, 44, 1,  0,  0,   0x25, 0x80, 255, 240,  // baud rate
          255, 250, 44, 2,  8,  255, 240,                   // data size
          255, 250, 44, 3,  1,  255, 240,                   // no parity
          255, 250, 44, 4,  1,  255, 240,                   // one stop bit
          255, 250, 44, 5,  1,  255, 240,                   // no flow control
          255, 250, 44, 5,  8,  255, 240,                   // DTR up
          255, 250, 44, 5,  11, 255, 240,                   // RTS up
          255, 250, 44, 11, 0,  255, 240})},                // no modem-state notices
      {{19200, 7, Parity::kEven, 2, true},
       B({255, 250, 44,  1,   0,    0,   0x4B, 0x00, 255, 240, 255, 250, 44, 2,   7,
          255, 240, 255, 250, 44,   3,   3,    255,  240, 255, 250, 44,  4,  2,   255,
          240, 255, 250, 44,  5,    1,   255,  240,  255, 250, 44,  5,   9,  255, 240,  // DTR down
          255, 250, 44,  5,   12,   255, 240,     // RTS down between frames
          255, 250, 44,  11,  0x11, 255, 240})},  // tell of CTS
      {{300, 8, Parity::kOdd, 1, false},
       B({255, 250, 44,  1,   0,  0,   0x01, 0x2C, 255, 240, 255, 250, 44,  2,   8,
          255, 240, 255, 250, 44, 3,   2,    255,  240, 255, 250, 44,  4,   1,   255,
          240, 255, 250, 44,  5,  1,   255,  240,  255, 250, 44,  5,   8,   255, 240,
          255, 250, 44,  5,   11, 255, 240,  255,  250, 44,  11,  0,   255, 240})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tn::LineSettingsCommands(c.settings), c.bytes) << c.settings.baud_rate;
  }
  // 0xFF is doubled in the line's bytes and in a command's value alike.
  tn::Bytes out;
  const uint8_t data[] = {'(', 0xFF, 0x00, '\r'};
  tn::AppendData(data, sizeof data, &out);
  tn::AppendComPort(tn::kSetBaudRate, tn::BaudRateValue(0x1FF), &out);
  EXPECT_EQ(out, B({'(', 255, 255, 0, '\r', 255, 250, 44, 1, 0, 0, 1, 255, 255, 255, 240}));
}

TEST(TelnetCodec, TheReaderSplitsDataOptionsAndSubnegotiationsWhereverTheyAreCut) {
  tn::Bytes stream = B({'a', 'b', 255, 255, 'c',                 // data with a doubled 0xFF
                        255, 251, 44,                            // WILL COM-PORT-OPTION
                        255, 250, 44,  107, 255, 255, 255, 240,  // NOTIFY-MODEMSTATE 0xFF
                        255, 241, 'd',                           // NOP is dropped
                        255, 250, 44,  1});
  stream.insert(stream.end(), 70, 'x');  // a subnegotiation longer than any: dropped
  stream.insert(stream.end(), {255, 240, 'e'});
  const std::vector<tn::Event> expected = {
      {tn::Event::Kind::kData, 0, 0, B({'a', 'b', 255, 'c'})},
      {tn::Event::Kind::kOption, 251, 44, {}},
      {tn::Event::Kind::kSubnegotiation, 0, 44, B({107, 255})},
      {tn::Event::Kind::kData, 0, 0, B({'d', 'e'})},
  };
  auto same = [](const std::vector<tn::Event>& a, const std::vector<tn::Event>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i].kind != b[i].kind || a[i].verb != b[i].verb || a[i].option != b[i].option ||
          a[i].bytes != b[i].bytes) {
        return false;
      }
    }
    return true;
  };
  for (size_t piece : {stream.size(), size_t{1}, size_t{3}}) {
    SCOPED_TRACE(piece);
    tn::Reader reader;
    std::vector<tn::Event> events;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.Feed(stream.data() + at, std::min(piece, stream.size() - at), &events);
    }
    // Data cut into pieces comes as several events: join neighbours before comparing.
    std::vector<tn::Event> joined;
    for (tn::Event& e : events) {
      if (!joined.empty() && e.kind == tn::Event::Kind::kData &&
          joined.back().kind == tn::Event::Kind::kData) {
        joined.back().bytes.insert(joined.back().bytes.end(), e.bytes.begin(), e.bytes.end());
      } else {
        joined.push_back(std::move(e));
      }
    }
    EXPECT_TRUE(same(joined, expected));
  }
}

// A device server's opening, as ser2net sends it on a telnet(rfc2217) port, answered by the
// network line: what it offers and asks that the line takes is acknowledged once, echo is
// refused, and a second round of the same gets no answer that could start a loop.
TEST(TelnetCodec, NegotiationAgreesOnceAndRefusesTheRest) {
  tn::Negotiator client({tn::kComPortOption, tn::kBinary, tn::kSuppressGoAhead},
                        {tn::kBinary, tn::kSuppressGoAhead});
  tn::Bytes out;
  client.Offer(tn::kComPortOption, &out);
  client.Offer(tn::kBinary, &out);
  client.Ask(tn::kBinary, &out);
  EXPECT_EQ(out, B({255, 251, 44, 255, 251, 0, 255, 253, 0}));
  EXPECT_FALSE(client.LocalOn(tn::kComPortOption));

  const tn::Bytes opening = B(
      {255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0, 255, 251, 0, 255, 253, 44});
  auto answer = [&](const tn::Bytes& bytes) {
    tn::Reader reader;
    std::vector<tn::Event> events;
    reader.Feed(bytes.data(), bytes.size(), &events);
    tn::Bytes answers;
    for (const tn::Event& e : events) client.Answer(e.verb, e.option, &answers);
    return answers;
  };
  EXPECT_EQ(answer(opening), B({255, 253, 3, 255, 251, 3, 255, 254, 1}));
  EXPECT_TRUE(client.LocalOn(tn::kComPortOption));
  EXPECT_TRUE(client.LocalOn(tn::kBinary));
  EXPECT_TRUE(client.RemoteOn(tn::kBinary));
  EXPECT_EQ(answer(opening), B({255, 254, 1}));  // echo, refused again; nothing else

  // A server without the option refuses it: no answer, and the refusal is known.
  tn::Negotiator plain({tn::kComPortOption}, {});
  out.clear();
  plain.Offer(tn::kComPortOption, &out);
  out.clear();
  plain.Answer(tn::kDont, tn::kComPortOption, &out);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(plain.LocalRefused(tn::kComPortOption));
  // Switched off after it was on: acknowledged once.
  tn::Negotiator on({tn::kBinary}, {});
  on.Answer(tn::kDo, tn::kBinary, &out);
  on.Answer(tn::kDont, tn::kBinary, &out);
  on.Answer(tn::kDont, tn::kBinary, &out);
  EXPECT_EQ(out, B({255, 251, 0, 255, 252, 0}));
}

}  // namespace
}  // namespace veldrane::test
