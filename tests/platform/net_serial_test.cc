// The network line below the engine: a COM port whose port-map entry names a device server in
// this process (raw TCP, or Telnet with the COM-PORT-OPTION), with the line's system calls
// wrapped by a table that fails the ones a case names and, where a case needs it, runs the line
// on time of its own.
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/net_sys.h"
#include "platform/net/telnet_codec.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_device.h"
#include "platform/serial/serial_explain.h"
#include "platform/stop_signal.h"
#include "tests/support/fault_script.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pty.h"

namespace veldrane::test {
namespace {

namespace tn = platform::telnet;
using platform::ModemLine;
using platform::Parity;
using platform::SerialDevice;
using platform::SerialFault;
using platform::SerialSettings;

// A device server: one client at a time, whose line bytes and COM-PORT-OPTION commands it
// keeps. With Telnet it takes the option (or refuses it) and loops RTS back to CTS.
class TestPeer {
 public:
  enum class Mode { kRaw, kTelnet, kRefusesOption, kNeverAccepts };

  explicit TestPeer(Mode mode) : mode_(mode) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listen_fd_, 4) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      std::abort();
    }
    port_ = ntohs(a.sin_port);
    if (mode_ != Mode::kNeverAccepts) thread_ = std::thread([this] { Serve(); });
  }
  ~TestPeer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    DropClient();
    close(listen_fd_);
  }

  std::string Address(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }
  std::string Data() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }
  std::vector<tn::Bytes> Commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  // What has arrived once `count` bytes of line data are there (bounded: 2 s).
  std::string WaitData(size_t count) {
    for (int i = 0; i < 200 && Data().size() < count; ++i) usleep(10000);
    return Data();
  }
  // The device server ends the connection (restarted, or its port taken away).
  void DropClient() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (client_fd_ >= 0) close(client_fd_);
    client_fd_ = -1;
  }

 private:
  void Serve() {
    while (!stop_.load()) {
      int client;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        client = client_fd_;
      }
      pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {client, POLLIN, 0}};
      if (poll(fds, client >= 0 ? 2 : 1, 10) <= 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      if (fds[0].revents & POLLIN) {
        if (client_fd_ >= 0) close(client_fd_);
        client_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        reader_ = tn::Reader();
        negotiator_ = tn::Negotiator({tn::kBinary}, {tn::kBinary, tn::kComPortOption});
        continue;
      }
      if (client_fd_ != client || !(fds[1].revents & (POLLIN | POLLHUP))) continue;
      uint8_t buffer[512];
      ssize_t n = recv(client_fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        close(client_fd_);
        client_fd_ = -1;
        continue;
      }
      if (mode_ == Mode::kRaw) {
        data_.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
        continue;
      }
      std::vector<tn::Event> events;
      reader_.Feed(buffer, static_cast<size_t>(n), &events);
      tn::Bytes out;
      for (const tn::Event& e : events) {
        if (e.kind == tn::Event::Kind::kData) {
          data_.append(e.bytes.begin(), e.bytes.end());
        } else if (e.kind == tn::Event::Kind::kOption) {
          if (mode_ == Mode::kRefusesOption && e.option == tn::kComPortOption) {
            out.insert(out.end(), {tn::kIac, tn::kDont, tn::kComPortOption});
          } else {
            negotiator_.Answer(e.verb, e.option, &out);
          }
        } else {
          commands_.push_back(e.bytes);
          if (e.bytes.size() == 2 && e.bytes[0] == tn::kSetControl &&
              (e.bytes[1] == tn::kRtsOn || e.bytes[1] == tn::kRtsOff)) {
            const uint8_t cts = e.bytes[1] == tn::kRtsOn ? tn::kCts : 0;
            tn::AppendComPort(tn::kNotifyModemState + tn::kServerOffset, {cts}, &out);
          }
        }
      }
      if (!out.empty()) send(client_fd_, out.data(), out.size(), MSG_NOSIGNAL);
    }
  }

  const Mode mode_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  int client_fd_ = -1;
  std::string data_;
  std::vector<tn::Bytes> commands_;
  tn::Reader reader_;
  tn::Negotiator negotiator_{{}, {}};
};

// Time of the test's own, for the cases that need it: sleeps and polls that find nothing
// advance it by their length at once.
struct VirtualTime {
  std::mutex mutex;
  bool on = false;
  uint64_t now_us = 1000000000;
  bool polls_find_nothing = false;  // a peer that never answers, a connect that hangs
  std::vector<int> outq;            // answers of SIOCOUTQ in turn, the last one repeating
  bool send_blocks = false;         // the peer's window is shut
  ssize_t first_send_takes = -1;    // the first send takes this many bytes, then it blocks
  // The name kName resolves to these addresses, in this order; connections to the silent ones
  // never come about (a firewall that drops them).
  std::vector<std::string> answers;
  std::vector<std::string> silent;
  std::vector<int> silent_fds;
};
constexpr const char* kName = "twofold.test";
VirtualTime* g_time = nullptr;

const platform::NetSysApi& Sys() {
  return platform::SystemNetSysApi();
}

bool Hit(const char* call) {
  return Faults().Hit(call);
}

const platform::NetSysApi kScripted = {
    [](const char* host, const char* service, addrinfo** result, int timeout_ms,
       const platform::StopSignal* stop) {
      // The fault's error is the resolver's code here.
      if (Hit("resolve")) return errno;
      if (std::string(host) != kName) return Sys().resolve(host, service, result, timeout_ms, stop);
      // The answers' lists chained into one (each entry is freed on its own).
      addrinfo** tail = result;
      for (const std::string& a : g_time->answers) {
        if (int rc = Sys().resolve(a.c_str(), service, tail, timeout_ms, stop); rc != 0) return rc;
        while (*tail) tail = &(*tail)->ai_next;
      }
      return 0;
    },
    [](addrinfo* list) { Sys().free_addresses(list); },
    [](int domain, int type, int protocol) {
      return Hit("socket") ? -1 : Sys().socket(domain, type, protocol);
    },
    [](int fd, const sockaddr* address, socklen_t length) {
      if (Hit("connect")) return -1;
      char text[INET6_ADDRSTRLEN] = "";
      if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
      }
      {
        std::lock_guard<std::mutex> lock(g_time->mutex);
        for (const std::string& a : g_time->silent) {
          if (a != text) continue;
          g_time->silent_fds.push_back(fd);
          errno = EINPROGRESS;
          return -1;
        }
      }
      // Always the way of a connection that takes its time.
      if (Sys().connect(fd, address, length) == 0 || errno == EINPROGRESS) errno = EINPROGRESS;
      return -1;
    },
    [](int fd, int level, int name, void* value, socklen_t* length) {
      return Hit("getsockopt") ? -1 : Sys().getsockopt(fd, level, name, value, length);
    },
    [](int fd, int level, int name, const void* value, socklen_t length) {
      return Hit("setsockopt") ? -1 : Sys().setsockopt(fd, level, name, value, length);
    },
    [](pollfd* fds, nfds_t count, int timeout_ms) {
      if (Hit("poll")) return -1;
      std::unique_lock<std::mutex> lock(g_time->mutex);
      // A silent connection is left out of the poll: nothing ever comes on it.
      std::vector<pollfd> asked(fds, fds + count);
      for (pollfd& p : asked) {
        for (int fd : g_time->silent_fds) p.fd = p.fd == fd ? -1 : p.fd;
      }
      int ready;
      if (!g_time->on) {
        lock.unlock();
        ready = Sys().poll(asked.data(), count, timeout_ms);
      } else {
        ready = g_time->polls_find_nothing ? 0 : Sys().poll(asked.data(), count, 0);
        if (ready == 0) g_time->now_us += uint64_t(timeout_ms) * 1000;
      }
      for (nfds_t i = 0; i < count; ++i) fds[i].revents = asked[i].revents;
      return ready;
    },
    [](int fd, const void* bytes, size_t count, int flags) -> ssize_t {
      if (Hit("send")) return -1;
      {
        std::lock_guard<std::mutex> lock(g_time->mutex);
        if (g_time->first_send_takes >= 0) {
          count = static_cast<size_t>(g_time->first_send_takes);
          g_time->first_send_takes = -1;
          g_time->send_blocks = true;
        } else if (g_time->send_blocks) {
          errno = EAGAIN;
          return -1;
        }
      }
      return Sys().send(fd, bytes, count, flags);
    },
    [](int fd, void* bytes, size_t count, int flags) -> ssize_t {
      return Hit("recv") ? -1 : Sys().recv(fd, bytes, count, flags);
    },
    [](int fd, unsigned long request, void* arg) {
      if (Hit("ioctl")) return -1;
      std::lock_guard<std::mutex> lock(g_time->mutex);
      if (request == SIOCOUTQ && !g_time->outq.empty()) {
        *static_cast<int*>(arg) = g_time->outq.front();
        if (g_time->outq.size() > 1) g_time->outq.erase(g_time->outq.begin());
        return 0;
      }
      return Sys().ioctl(fd, request, arg);
    },
    [](int fd) {
      Hit("close");
      {
        std::lock_guard<std::mutex> lock(g_time->mutex);
        std::erase(g_time->silent_fds, fd);
      }
      return Sys().close(fd);
    },
    []() {
      std::lock_guard<std::mutex> lock(g_time->mutex);
      return g_time->on ? g_time->now_us : Sys().now_us();
    },
    [](uint64_t us) {
      std::unique_lock<std::mutex> lock(g_time->mutex);
      if (g_time->on) {
        g_time->now_us += us;
        return;
      }
      lock.unlock();
      Sys().sleep_us(us);
    },
};

class NetSerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(platform::kPortMapVariable, ports_.path().c_str(), 1);
    g_time = &time_;
  }
  void TearDown() override {
    g_time = nullptr;
    unsetenv(platform::kPortMapVariable);
  }
  // COM1 names `address`: a symbolic link, or a file a user wrote.
  void Map(const std::string& address, bool as_file = false) {
    const std::string entry = ports_.File("com1");
    unlink(entry.c_str());
    if (as_file) {
      std::ofstream(entry) << address << "\n";
    } else {
      ASSERT_EQ(symlink(address.c_str(), entry.c_str()), 0);
    }
  }
  void UseVirtualTime() {
    std::lock_guard<std::mutex> lock(time_.mutex);
    time_.on = true;
  }
  uint64_t NowUs() {
    std::lock_guard<std::mutex> lock(time_.mutex);
    return time_.now_us;
  }
  void Advance(uint64_t us) {
    std::lock_guard<std::mutex> lock(time_.mutex);
    time_.now_us += us;
  }
  static platform::SerialResult Write(SerialDevice& device, const std::string& bytes,
                                      uint32_t timeout_ms = 1000) {
    return device.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), timeout_ms);
  }

  TempDir ports_;
  VirtualTime time_;
  InstalledApi<platform::NetSysApi> api_{&platform::SetNetSysApi, kScripted};
};

TEST_F(NetSerialTest, RawTcpCarriesTheBytesAndNoModemLines) {
  for (bool as_file : {false, true}) {
    SCOPED_TRACE(as_file ? "entry file" : "entry link");
    TestPeer peer(TestPeer::Mode::kRaw);
    Map(peer.Address("tcp"), as_file);
    auto device = platform::NewPosixSerialDevice();
    ASSERT_TRUE(device->Open("COM1", {})) << device->Open("COM1", {}).error;
    const std::string frame = std::string("(01)12\xFF\r\0", 9);
    EXPECT_TRUE(device->Purge());
    EXPECT_TRUE(Write(*device, frame));
    EXPECT_TRUE(device->WaitTransmitted(2000));
    EXPECT_EQ(peer.WaitData(frame.size()), frame);
    EXPECT_EQ(device->SetRts(true).fault, SerialFault::kSettingsRefused);
    EXPECT_EQ(device->Cts(), ModemLine::kUnsupported);
  }
  const std::string why = platform::ExplainHandshakeProblem("COM1");
  EXPECT_NE(why.find("raw TCP carries none: name the port rfc2217://127.0.0.1:"), std::string::npos)
      << why;
}

TEST_F(NetSerialTest, Rfc2217SetsTheFarPortAndCarriesRtsAndCts) {
  TestPeer peer(TestPeer::Mode::kTelnet);
  Map(peer.Address("rfc2217"));
  auto device = platform::NewPosixSerialDevice();
  const SerialSettings settings{19200, 7, Parity::kEven, 2, true};
  ASSERT_TRUE(device->Open("COM1", settings));
  EXPECT_EQ(platform::ExplainHandshakeProblem("COM1"), "");

  // The handshake as the serial line makes it: RTS up, CTS looked at until up, the frame.
  ASSERT_TRUE(device->SetRts(true));
  ModemLine cts = ModemLine::kDown;
  for (int i = 0; i < 200 && cts != ModemLine::kUp; ++i) {
    cts = device->Cts();
    usleep(5000);
  }
  EXPECT_EQ(cts, ModemLine::kUp);
  const std::string frame = "(01)\xFF\r";
  EXPECT_TRUE(Write(*device, frame));
  EXPECT_TRUE(device->WaitTransmitted(2000));
  EXPECT_EQ(peer.WaitData(frame.size()), frame);  // 0xFF doubled on the way, single here
  ASSERT_TRUE(device->SetRts(false));

  // The line settings, in the order they were sent, then RTS up and down.
  std::vector<tn::Bytes> expected;
  {
    tn::Bytes commands = tn::LineSettingsCommands(settings);
    tn::Reader reader;
    std::vector<tn::Event> events;
    reader.Feed(commands.data(), commands.size(), &events);
    for (const tn::Event& e : events) expected.push_back(e.bytes);
  }
  expected.push_back({tn::kSetControl, tn::kRtsOn});
  expected.push_back({tn::kSetControl, tn::kRtsOff});
  std::vector<tn::Bytes> got;
  for (int i = 0; i < 200 && (got = peer.Commands()).size() < expected.size(); ++i) usleep(10000);
  EXPECT_EQ(got, expected);
}

// A device server that does not take the option takes no line settings: the port does not
// open, whether the server refuses the option or does not answer within the second.
TEST_F(NetSerialTest, AServerWithoutTheOptionIsRefusedWithinASecond) {
  const struct {
    TestPeer::Mode mode;
    int error;
  } cases[] = {{TestPeer::Mode::kRefusesOption, EPROTONOSUPPORT},
               {TestPeer::Mode::kNeverAccepts, ETIMEDOUT},
               {TestPeer::Mode::kRaw, ETIMEDOUT}};
  for (const auto& c : cases) {
    TestPeer peer(c.mode);
    Map(peer.Address("rfc2217"));
    // Silence takes the whole second, and not more (on the test's time: nothing will come).
    if (c.error == ETIMEDOUT) UseVirtualTime();
    auto device = platform::NewPosixSerialDevice();
    const uint64_t start = NowUs();
    platform::SerialResult r = device->Open("COM1", {});
    EXPECT_EQ(r.fault, SerialFault::kSettingsRefused);
    EXPECT_EQ(r.error, c.error);
    if (c.error == ETIMEDOUT) {
      EXPECT_EQ(NowUs() - start, 1000000u);
    }
    const std::string why = platform::ExplainSerialFailure("COM1", r);
    EXPECT_NE(why.find("COM-PORT-OPTION, so it takes no line settings"), std::string::npos) << why;
  }
}

// Each system call of opening failing in turn: the cause a user can act on, and nothing left
// open.
TEST_F(NetSerialTest, WhatOpeningNeedsAndWhatItMayLack) {
  TestPeer peer(TestPeer::Mode::kTelnet);
  Map(peer.Address("rfc2217"));
  const struct {
    FaultScript::Fault fault;
    SerialFault result;
    int error;
    const char* told;  // a part of what the user is told
  } cases[] = {
      {{"resolve", 1, EAI_NONAME}, SerialFault::kNotFound, 0, "does not resolve"},
      {{"resolve", 1, EAI_AGAIN}, SerialFault::kTimedOut, EAGAIN, "name service did not answer"},
      {{"socket", 1, EMFILE}, SerialFault::kIoError, EMFILE, "Too many open files"},
      {{"connect", 1, ECONNREFUSED}, SerialFault::kNotFound, ECONNREFUSED, "nothing listens on"},
      {{"connect", 1, EHOSTUNREACH}, SerialFault::kNotFound, EHOSTUNREACH, "cannot be reached"},
      {{"connect", 1, EACCES}, SerialFault::kPermissionDenied, EACCES, "firewall"},
      {{"poll", 1, ENOMEM}, SerialFault::kIoError, ENOMEM, "I/O error"},
      {{"getsockopt", 1, EBADF}, SerialFault::kIoError, EBADF, "I/O error"},
      {{"send", 1, EPIPE}, SerialFault::kIoError, EPIPE, "I/O error"},
      {{"recv", 1, ECONNRESET}, SerialFault::kBusy, ECONNRESET, "another client holds the port"},
      // The set-up of the socket only tries.
      {{"setsockopt", 1, ENOPROTOOPT}, SerialFault::kNone, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault.call + " " + std::to_string(c.fault.error));
    Faults().Set({c.fault});
    auto device = platform::NewPosixSerialDevice();
    platform::SerialResult r = device->Open("COM1", {});
    EXPECT_EQ(r.fault, c.result);
    EXPECT_EQ(r.error, c.error);
    if (!r.ok()) {
      const std::string why = platform::ExplainSerialFailure("COM1", r);
      EXPECT_NE(why.find(c.told), std::string::npos) << why;
      EXPECT_FALSE(Write(*device, "x"));
    }
    device.reset();
    EXPECT_EQ(Faults().Count("close"), Faults().Count("socket") - (c.fault.call == "socket"));
  }
  // An entry that holds no valid address opens nothing, and what it holds is shown escaped.
  Map("tcp://ho\x1b[2Jst:4001", true);
  auto device = platform::NewPosixSerialDevice();
  platform::SerialResult r = device->Open("COM1", {});
  EXPECT_EQ(r.fault, SerialFault::kNotFound);
  const std::string why = platform::ExplainSerialFailure("COM1", r);
  EXPECT_NE(why.find("-> tcp://ho\\x1b[2Jst:4001): the port-map entry holds no valid address"),
            std::string::npos)
      << why;
  EXPECT_EQ(why.find('\x1b'), std::string::npos);
}

// A connection lost while in use fails like an unplugged adapter: closed at once, and tried
// again through the entry as it is then, at most once a second after the last try ended, when
// the line asks whether it came back (once a pass), never by a frame: a pass of many failing
// stations holds one try at most.
TEST_F(NetSerialTest, ALostConnectionComesBackAtMostOnceASecond) {
  UseVirtualTime();
  const struct {
    const char* call;  // how the loss shows: the peer ends it, or a call fails
    int error;
  } losses[] = {{"", 0}, {"send", ECONNRESET}, {"recv", ETIMEDOUT}, {"send", EPIPE}};
  for (const auto& loss : losses) {
    SCOPED_TRACE(std::string(loss.call) + " " + std::to_string(loss.error));
    TestPeer first(TestPeer::Mode::kRaw);
    TestPeer second(TestPeer::Mode::kRaw);
    Map(first.Address("tcp"));
    auto device = platform::NewPosixSerialDevice();
    ASSERT_TRUE(device->Open("COM1", {}));
    ASSERT_TRUE(Write(*device, "one"));
    EXPECT_EQ(first.WaitData(3), "one");
    EXPECT_FALSE(device->TakeReturned());

    Faults().Reset();
    if (*loss.call) {
      Faults().Set({{loss.call, 1, loss.error}});
    } else {
      first.DropClient();
      usleep(20000);  // the peer's FIN arrives
    }
    device->Purge();
    Write(*device, "lost");
    EXPECT_EQ(Faults().Count("close"), 1);
    // The device server moves: the entry names another.
    Map(second.Address("tcp"));
    Advance(999999);
    EXPECT_FALSE(device->TakeReturned());
    EXPECT_FALSE(Write(*device, "two"));
    EXPECT_EQ(Faults().Count("connect"), 0);
    Advance(1);
    EXPECT_FALSE(Write(*device, "two"));
    EXPECT_EQ(Faults().Count("connect"), 0);
    EXPECT_TRUE(device->TakeReturned());
    EXPECT_FALSE(device->TakeReturned());
    EXPECT_TRUE(Write(*device, "three"));
    EXPECT_EQ(second.WaitData(5), "three");
    EXPECT_EQ(first.Data(), "one");
  }
}

TEST_F(NetSerialTest, EveryWaitIsBounded) {
  UseVirtualTime();
  TestPeer peer(TestPeer::Mode::kRaw);
  Map(peer.Address("tcp"));
  auto device = platform::NewPosixSerialDevice();
  {
    // A connect that hangs ends at the second.
    std::lock_guard<std::mutex> lock(time_.mutex);
    time_.polls_find_nothing = true;
  }
  uint64_t start = NowUs();
  platform::SerialResult r = device->Open("COM1", {});
  EXPECT_EQ(r.fault, SerialFault::kTimedOut);
  EXPECT_EQ(NowUs() - start, 1000000u);
  EXPECT_NE(platform::ExplainSerialFailure("COM1", r).find("no answer from port"),
            std::string::npos);
  {
    std::lock_guard<std::mutex> lock(time_.mutex);
    time_.polls_find_nothing = false;
  }
  ASSERT_TRUE(device->Open("COM1", {}));

  // The transmitter: the send queue until the peer has every byte, then the character time
  // (12 bytes at 9600 8N1: 12.5 ms), all within the time-out.
  const struct {
    std::vector<int> outq;
    bool empties;
    uint64_t us;
  } waits[] = {
      {{3, 2, 0}, true, 2000 + 12500},  // 1 ms polls
      {{5}, false, 2000000},            // never acknowledged
      {{0}, true, 12500},
  };
  for (const auto& w : waits) {
    ASSERT_TRUE(Write(*device, std::string(12, 'A')));
    {
      std::lock_guard<std::mutex> lock(time_.mutex);
      time_.outq = w.outq;
    }
    start = NowUs();
    EXPECT_EQ(device->WaitTransmitted(2000).ok(), w.empties);
    EXPECT_EQ(NowUs() - start, w.us);
  }
  {
    std::lock_guard<std::mutex> lock(time_.mutex);
    time_.outq.clear();
    time_.send_blocks = true;
    time_.polls_find_nothing = true;
  }
  // A peer that takes nothing: the write ends at its time-out, and the connection stays.
  start = NowUs();
  Faults().Reset();
  EXPECT_EQ(Write(*device, "(01)1\r").fault, SerialFault::kTimedOut);
  EXPECT_EQ(NowUs() - start, 1000000u);
  EXPECT_EQ(Faults().Count("close"), 0);
  // One that takes part of a frame and then nothing: the rest would run into the next frame,
  // so the connection starts anew.
  {
    std::lock_guard<std::mutex> lock(time_.mutex);
    time_.first_send_takes = 2;
  }
  EXPECT_EQ(Write(*device, "(01)1\r").fault, SerialFault::kTimedOut);
  EXPECT_EQ(Faults().Count("close"), 1);
}

// A name whose first address is silent (an IPv6 address behind a firewall that drops it)
// connects through the next one well within the try's second: the next address starts beside
// the silent one. Every socket of a try is closed but the one it keeps.
TEST_F(NetSerialTest, ANameConnectsThroughWhicheverAddressAnswers) {
  TestPeer peer(TestPeer::Mode::kRaw);
  const std::string address = std::string("tcp://") + kName + ":" + peer.Address("tcp").substr(16);
  const struct {
    std::vector<std::string> answers;
    std::vector<std::string> silent;
    SerialFault result;
    int sockets;
    double least, most;  // seconds the open takes
  } cases[] = {
      {{"127.0.0.2", "127.0.0.1"}, {"127.0.0.2"}, SerialFault::kNone, 2, 0.2, 0.6},
      {{"127.0.0.1", "127.0.0.2"}, {"127.0.0.2"}, SerialFault::kNone, 1, 0, 0.2},
      {{"127.0.0.2", "127.0.0.3", "127.0.0.1"},
       {"127.0.0.2", "127.0.0.3"},
       SerialFault::kNone,
       3,
       0.45,
       0.9},
      {{"127.0.0.2", "127.0.0.3"},
       {"127.0.0.2", "127.0.0.3"},
       SerialFault::kTimedOut,
       2,
       0.95,
       1.3},
  };
  Map(address);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers.size() * 10 + c.silent.size());
    {
      std::lock_guard<std::mutex> lock(time_.mutex);
      time_.answers = c.answers;
      time_.silent = c.silent;
    }
    Faults().Reset();
    auto device = platform::NewPosixSerialDevice();
    auto start = std::chrono::steady_clock::now();
    platform::SerialResult r = device->Open("COM1", {});
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.fault, c.result);
    EXPECT_GE(took, c.least);
    EXPECT_LE(took, c.most);
    EXPECT_EQ(Faults().Count("socket"), c.sockets);
    EXPECT_EQ(Faults().Count("close"), c.sockets - (r.ok() ? 1 : 0));
    if (r.ok()) {
      EXPECT_TRUE(Write(*device, "(01)1\r"));
      EXPECT_EQ(peer.WaitData(6).substr(peer.Data().size() - 6), "(01)1\r");
    }
  }
}

// A stop ends a connection try at once, whether it comes during the try or before it, and no
// socket is left behind. The stop of a runner waits for the line only a little over a second.
TEST_F(NetSerialTest, AStopEndsAConnectionTry) {
  {
    std::lock_guard<std::mutex> lock(time_.mutex);
    time_.answers = {"127.0.0.2"};
    time_.silent = {"127.0.0.2"};
  }
  Map(std::string("rfc2217://") + kName + ":4001");
  Faults().Reset();
  platform::StopSignal stop;
  auto device = platform::NewPosixSerialDevice();
  device->WatchStop(&stop);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.Raise();
  });
  auto start = std::chrono::steady_clock::now();
  platform::SerialResult r = device->Open("COM1", {});
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stopper.join();
  EXPECT_EQ(r.fault, SerialFault::kTimedOut);
  EXPECT_EQ(r.error, ECANCELED);
  EXPECT_LT(took, 0.3);
  EXPECT_EQ(Faults().Count("close"), Faults().Count("socket"));
  Faults().Reset();
  EXPECT_EQ(device->Open("COM1", {}).error, ECANCELED);
  EXPECT_EQ(Faults().Count("socket"), 0);
}

// An entry changed between a terminal and a device server while the port is away is followed
// at the reopening, each way: the kind of device is chosen again.
TEST_F(NetSerialTest, AReopeningFollowsAnEntryToTheOtherKind) {
  UseVirtualTime();
  TestPeer peer(TestPeer::Mode::kRaw);
  auto pty = std::make_unique<TestPty>();
  Map(pty->slave());
  auto device = platform::NewPosixSerialDevice();
  ASSERT_TRUE(device->Open("COM1", {}));
  ASSERT_TRUE(Write(*device, "pty"));
  EXPECT_EQ(pty->Read(3), "pty");

  // The terminal goes away and its entry now names a device server.
  pty->Close();
  Map(peer.Address("tcp"));
  Write(*device, "lost");
  ASSERT_TRUE(device->Lost());
  EXPECT_TRUE(device->TakeReturned());
  EXPECT_FALSE(device->Lost());
  EXPECT_TRUE(Write(*device, "net"));
  EXPECT_EQ(peer.WaitData(3), "net");

  // And back: the device server goes, the entry names a terminal that is not there yet, then is.
  peer.DropClient();
  usleep(20000);  // the peer's FIN arrives
  device->Purge();
  ASSERT_TRUE(device->Lost());
  Map("/nonexistent/ttyUSB9");
  Advance(1000000);
  EXPECT_FALSE(device->TakeReturned());
  EXPECT_EQ(Write(*device, "x").fault, SerialFault::kNotFound);
  auto second = std::make_unique<TestPty>();
  Map(second->slave());
  EXPECT_FALSE(device->TakeReturned());  // within the second of the last try
  Advance(1000000);
  EXPECT_TRUE(device->TakeReturned());
  EXPECT_TRUE(Write(*device, "back"));
  EXPECT_EQ(second->Read(4), "back");
}

}  // namespace
}  // namespace veldrane::test
