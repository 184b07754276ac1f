// The Modbus server on loopback against a fake sink: its bounds (clients at once, idle clients,
// the networks allowed, the unit answered) and a write's values reaching the sink together.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/runner/inputs/modbus_input.h"

namespace {

using veldrane::host::ModbusInput;
using veldrane::host::ModbusServerSettings;
using veldrane::host::ValueSink;

class FakeSink : public ValueSink {
 public:
  Result SetValue(const std::string& tag, double value, std::string_view input) override {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(input, "modbus");
    values_[tag] = value;
    return Result::kSet;
  }
  bool LastValue(const std::string& tag, double* value) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = values_.find(tag);
    *value = it == values_.end() ? 0 : it->second;
    return true;
  }
  std::map<std::string, double> values() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_;
  }

 private:
  mutable std::mutex mutex_;  // guards values_: the server's thread sets, the test reads
  std::map<std::string, double> values_;
};

veldrane::host::ModbusMap TestMap() {
  veldrane::host::ModbusMap map;
  std::string error;
  EXPECT_TRUE(veldrane::host::ParseModbusMap("0 int16 A 10\n1 float32 B\n", "m", &map, &error));
  return map;
}

int Connect(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return fd;
}

// The answer to `pdu` for `unit` (its PDU), or empty when the server closed or stayed silent
// for `wait_ms`.
std::vector<uint8_t> Ask(int fd, std::vector<uint8_t> pdu, uint8_t unit = 1, int wait_ms = 2000) {
  std::vector<uint8_t> adu = {0x12, 0x34, 0, 0, 0, static_cast<uint8_t>(pdu.size() + 1), unit};
  adu.insert(adu.end(), pdu.begin(), pdu.end());
  EXPECT_EQ(::send(fd, adu.data(), adu.size(), MSG_NOSIGNAL), static_cast<ssize_t>(adu.size()));
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, wait_ms) != 1) return {};
  uint8_t answer[260];
  ssize_t got = ::recv(fd, answer, sizeof answer, 0);
  if (got < 8) return {};
  return std::vector<uint8_t>(answer + 7, answer + got);
}

// Whether the server closed `fd` within `wait_ms`.
bool ClosedWithin(int fd, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, wait_ms) != 1) return false;
  char byte;
  return ::recv(fd, &byte, 1, 0) == 0;
}

TEST(ModbusInput, BoundsAndWrites) {
  FakeSink sink;
  ModbusServerSettings settings;
  settings.port = 0;
  settings.max_clients = 2;
  settings.unit = 7;
  settings.idle = std::chrono::milliseconds(400);
  std::vector<std::string> told;
  settings.log = [&](const std::string& text) { told.push_back(text); };
  ModbusInput input(settings, TestMap());
  std::string error;
  ASSERT_TRUE(input.Start(&sink, &error)) << error;

  // Two at once; the third is refused and the first two still served.
  int silent = Connect(input.port());
  int client = Connect(input.port());
  int third = Connect(input.port());
  EXPECT_TRUE(ClosedWithin(third, 2000));
  ::close(third);

  // One write of both values: both reach the sink; a read gives them back. Other units' requests
  // are not answered.
  std::vector<uint8_t> write = {16, 0, 0, 0, 3, 6, 0xFF, 0x85, 0x41, 0x44, 0, 0};
  EXPECT_TRUE(Ask(client, write, 3, 300).empty());
  EXPECT_TRUE(sink.values().empty());
  EXPECT_EQ(Ask(client, write, 7), (std::vector<uint8_t>{16, 0, 0, 0, 3}));
  EXPECT_EQ(sink.values(), (std::map<std::string, double>{{"A", -12.3}, {"B", 12.25}}));
  EXPECT_EQ(Ask(client, {3, 0, 0, 0, 3}, 7),
            (std::vector<uint8_t>{3, 6, 0xFF, 0x85, 0x41, 0x44, 0, 0}));
  EXPECT_EQ(input.Health().detail,
            "tcp://127.0.0.1:" + std::to_string(input.port()) + ": 2 clients, 1 write");
  EXPECT_EQ(input.Health().values, 2u);

  // The silent client is closed once idle, and its place is free again; the busy one stays.
  EXPECT_TRUE(ClosedWithin(silent, 2000));
  ::close(silent);
  int next = Connect(input.port());
  EXPECT_EQ(Ask(next, {3, 0, 0, 0, 1}, 7), (std::vector<uint8_t>{3, 2, 0xFF, 0x85}));
  ::close(next);
  ::close(client);
  input.Stop();
  EXPECT_FALSE(input.Health().ok);
  ASSERT_EQ(told.size(), 1u);  // the refused third, once
  EXPECT_NE(told[0].find("2 clients are connected (--modbus-clients)"), std::string::npos);
}

TEST(ModbusInput, OnlyAllowedNetworksConnect) {
  FakeSink sink;
  ModbusServerSettings settings;
  settings.port = 0;
  std::string error;
  ASSERT_TRUE(veldrane::host::ParseNetworks("10.0.0.0/8,::1", &settings.allow, &error));
  ModbusInput refusing(settings, TestMap());
  ASSERT_TRUE(refusing.Start(&sink, &error)) << error;
  int fd = Connect(refusing.port());
  EXPECT_TRUE(ClosedWithin(fd, 2000));
  ::close(fd);
  EXPECT_EQ(refusing.Health().refused, 1u);

  ASSERT_TRUE(veldrane::host::ParseNetworks("127.0.0.0/8", &settings.allow, &error));
  ModbusInput allowing(settings, TestMap());
  ASSERT_TRUE(allowing.Start(&sink, &error)) << error;
  fd = Connect(allowing.port());
  EXPECT_EQ(Ask(fd, {6, 0, 0, 0, 5}), (std::vector<uint8_t>{6, 0, 0, 0, 5}));
  ::close(fd);
}

TEST(ModbusOptions, AddressesAndNetworks) {
  struct Url {
    std::string text;
    std::string host;  // empty: refused
    uint16_t port;
  };
  const Url urls[] = {
      {"tcp://127.0.0.1", "127.0.0.1", 502},
      {"tcp://0.0.0.0:1502", "0.0.0.0", 1502},
      {"tcp://[::1]", "::1", 502},
      {"tcp://[::]:5020", "::", 5020},
      {"tcp://plc-gw.local", "plc-gw.local", 502},
      {"tcp://::1", "", 0},
      {"tcp://h:0", "", 0},
      {"rfc2217://h:1", "", 0},
      {"mqtt://h", "", 0},
      {"tcp://", "", 0},
  };
  for (const Url& u : urls) {
    veldrane::platform::NetAddress address;
    std::string error;
    bool ok = veldrane::host::ParseModbusUrl(u.text, &address, &error);
    EXPECT_EQ(ok, !u.host.empty()) << u.text << ": " << error;
    if (!ok) continue;
    EXPECT_EQ(address.host, u.host);
    EXPECT_EQ(address.port, u.port);
  }

  std::vector<veldrane::host::IpNetwork> networks;
  std::string error;
  ASSERT_TRUE(
      veldrane::host::ParseNetworks("192.168.10.0/23,[fd00::]/8,10.1.2.3", &networks, &error));
  auto v4 = [&](const char* text) {
    uint8_t a[4];
    inet_pton(AF_INET, text, a);
    return veldrane::host::NetworksAllow(networks, false, a);
  };
  auto v6 = [&](const char* text) {
    uint8_t a[16];
    inet_pton(AF_INET6, text, a);
    return veldrane::host::NetworksAllow(networks, true, a);
  };
  EXPECT_TRUE(v4("192.168.11.200"));
  EXPECT_FALSE(v4("192.168.12.1"));
  EXPECT_TRUE(v4("10.1.2.3"));
  EXPECT_FALSE(v4("10.1.2.4"));
  EXPECT_TRUE(v6("fdab::1"));
  EXPECT_FALSE(v6("fe80::1"));
  EXPECT_TRUE(v6("::ffff:192.168.10.9"));  // an IPv4 client of a server on [::]
  for (const char* bad :
       {"", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/-1", "::1/129", "host", "10.0.0.1,,10.0.0.2"}) {
    EXPECT_FALSE(veldrane::host::ParseNetworks(bad, &networks, &error)) << bad;
  }
}

}  // namespace
