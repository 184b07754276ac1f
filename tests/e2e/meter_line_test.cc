// End to end: a host loads the built Veldrane.so with the reference TarkoDbm.so and TarkoRt.so,
// COM1 is mapped to a pseudo-terminal through VELDRANE_PORTS, and a configuration with one
// station of each meter kind (and one whose tag the database lacks) runs. The other end of the
// pseudo-terminal must receive the exact frames, in station order.
//
// The test opens the two host modules with dlopen, as the driver does, rather than linking them:
// both export a table named FuncTable, and a module linked into the program would lend its table
// to the other.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "host/dbm/tag_db_api.h"
#include "host/loader/driver_module.h"
#include "host/rt/event_log_api.h"
#include "tarko/host_tables.h"
#include "tarko/tagval.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pty.h"

namespace veldrane::test {
namespace {

using Pty = TestPty;

// The reference host's own API, from the modules the driver loads by name.
struct HostApi {
  decltype(&TagDbReset) reset;
  decltype(&TagDbDefine) define;
  decltype(&TagDbSet) set;
  decltype(&EventLogSetListener) set_listener;
};

template <typename Fn>
void Find(void* module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(module ? dlsym(module, name) : nullptr);
  if (!*fn) std::abort();
}

// Loaded once and kept to the end of the process, as a host keeps them.
const HostApi& Host() {
  static const HostApi api = [] {
    HostApi a{};
    void* dbm = dlopen(kDbmModuleName, RTLD_NOW | RTLD_LOCAL);
    void* rt = dlopen(kRtModuleName, RTLD_NOW | RTLD_LOCAL);
    Find(dbm, "TagDbReset", &a.reset);
    Find(dbm, "TagDbDefine", &a.define);
    Find(dbm, "TagDbSet", &a.set);
    Find(rt, "EventLogSetListener", &a.set_listener);
    return a;
  }();
  return api;
}

struct Logged {
  int32_t level_word;
  std::string line;
};

std::mutex g_log_mutex;
std::vector<Logged> g_log;

// The message number of a line by its fixed text (the lines this test expects).
int MessageOf(const std::string& line) {
  const struct {
    int number;
    const char* start;  // code page 949, after the prefix
  } known[] = {
      {1, "\xC5\xEB\xBD\xC5\xBD\xC3\xC0\xDB"},                    // 통신시작
      {2, "\xC5\xEB\xBD\xC5\xC1\xBE\xB7\xE1"},                    // 통신종료
      {3, "\xC5\xEB\xBD\xC5\xC6\xF7\xC6\xAE \xC3\xCA"},           // 통신포트 초기화 완료
      {8, "\xBD\xBA\xC5\xD7\xC0\xCC\xBC\xC7[K5]\xBF\xA1 "},       // 스테이션[K5]에 ...
      {12, "\xC1\xF6\xC1\xA4\xB5\xC8 \xC5\xC2\xB1\xD7[NOSUCH]"},  // 지정된 태그[NOSUCH]...
  };
  const std::string prefix = "[VELDRANE] ";
  for (const auto& k : known) {
    if (line.rfind(prefix + k.start, 0) == 0) return k.number;
  }
  return -1;
}

// Runs veldrane-cfg with `input` on its standard input.
int RunCfg(const std::string& args, const std::string& input) {
  std::string command = std::string(VELDRANE_CFG) + " " + args + " >/dev/null";
  FILE* pipe = popen(command.c_str(), "w");
  if (!pipe) return -1;
  std::fwrite(input.data(), 1, input.size(), pipe);
  return pclose(pipe);
}

class MeterLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only the platform layer reads it, when the port opens.
    setenv("VELDRANE_PORTS", ports_.path().c_str(), 1);
    ASSERT_EQ(symlink(pty_.slave().c_str(), ports_.File("com1").c_str()), 0);
    ASSERT_EQ(RunCfg("new " + config_, ""), 0);
    // name, kind, station number, decimals, tag, description
    const std::string lines =
        "K0\t0\t1\t1\tT0\tkind 0\r\n"
        "K1\t1\t2\t1\tT1\tkind 1\r\n"
        "K2\t2\t12\t0\tT2\tkind 2\r\n"
        "K3\t3\t3\t2\tT3\tkind 3\r\n"
        "K4\t4\t4\t0\tT4\tkind 4\r\n"
        "K5\t5\t5\t0\tT5\tkind 5\r\n"
        "K6\t6\t6\t0\tT6\tkind 6\r\n"
        "LOST\t1\t7\t0\tNOSUCH\tits tag is not in the database\r\n";
    ASSERT_EQ(RunCfg("import " + config_, lines), 0);

    Host().reset();
    const std::pair<const char*, double> values[] = {{"T0", 12.5},  {"T1", 12.5}, {"T2", 123},
                                                     {"T3", -1.5},  {"T4", 123},  {"T5", -12.5},
                                                     {"T6", 999999}};
    for (const auto& [tag, value] : values) {
      Host().define(tag, kTagTypeAnalog);
      Host().set(tag, value, kTagTypeAnalog);
    }
    Host().set_listener(
        [](int32_t, int32_t level_word, const char* line, void*) {
          std::lock_guard<std::mutex> lock(g_log_mutex);
          g_log.push_back({level_word, line});
        },
        nullptr);
    std::string error;
    ASSERT_TRUE(driver_.Load(VELDRANE_SO, &error)) << error;
  }
  void TearDown() override {
    driver_.Unload();
    Host().set_listener(nullptr, nullptr);
    unsetenv("VELDRANE_PORTS");
  }

  // The host's calls while the thread sends.
  void HostCalls() {
    int32_t sent = 0, failed = 0, third = 0, fourth = 0;
    driver_.GetStats(index_, nullptr, &sent, &failed, &third, &fourth);
    driver_.GetStats(index_, "k3", &sent, &failed, &third, &fourth);
    driver_.SetActive(index_, "lost", ++calls_ & 1);
    driver_.ResetStats(index_, "LOST");
  }

  std::vector<int> Messages() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    std::vector<int> numbers;
    for (const Logged& l : g_log) numbers.push_back(MessageOf(l.line));
    return numbers;
  }

  TempDir ports_;
  TempDir files_;
  std::string config_ = files_.File("line1.cfg");
  Pty pty_;
  host::DriverModule driver_;
  int32_t index_ = -1;
  int calls_ = 0;
};

TEST_F(MeterLineTest, ValuesReachTheMetersInStationOrder) {
  {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log.clear();
  }
  index_ = driver_.Open(config_.c_str());
  ASSERT_GE(index_, 0);
  ASSERT_EQ(driver_.OpenPort(index_), 0);
  EXPECT_EQ(driver_.ResolveTags(index_), 0);
  driver_.SetActive(index_, nullptr, 1);

  const std::string first = std::string(
                                "\x02\x3C\x01"
                                "12.5\r",
                                8) +  // kind 0: the station as a raw byte
                            "(02)12.5\r" +
                            "\x02"
                            "21   123f\x06" +  // kind 2: station 12 with its digits swapped
                            "(03  -1.50\r" +   // kind 3: no closing parenthesis
                            "M04007B\x03" +
                            "(005)-0013\r" + "(006)+999999\r";
  // Changes are taken in seconds divisible by 3.
  EXPECT_EQ(pty_.Read(first.size(), 10000, [&] { HostCalls(); }), first);

  Host().set("T1", 7.25, kTagTypeAnalog);   // a tie goes away from zero
  Host().set("T4", 70000, kTagTypeAnalog);  // 16 bits: 0x1170
  Host().set("T5", 12000, kTagTypeAnalog);  // beyond kind 5: fails, nothing written
  const std::string second = std::string("(02)7.3\r") + "M041170\x03";
  EXPECT_EQ(pty_.Read(second.size(), 10000, [&] { HostCalls(); }), second);

  // K5's failure follows the frames before it by at most 50 ms.
  int32_t sent = 0, failed = 0, third = 0, fourth = 0, result = 0;
  for (int i = 0; i < 100 && failed == 0; ++i) {
    usleep(10000);
    result = driver_.GetStats(index_, "K5", &sent, &failed, &third, &fourth);
  }
  EXPECT_EQ(result, 1);
  EXPECT_EQ(sent, 2);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(driver_.Stop(index_), 0);
  sent = failed = third = fourth = 0;
  // Stopped: nothing to report, though K5 failed.
  EXPECT_EQ(driver_.GetStats(index_, nullptr, &sent, &failed, &third, &fourth), -1);

  EXPECT_EQ(Messages(), (std::vector<int>{3, 12, 1, 8, 2}));
  std::lock_guard<std::mutex> lock(g_log_mutex);
  ASSERT_EQ(g_log.size(), 5u);
  EXPECT_EQ(g_log[0].level_word, 0x102);
  EXPECT_EQ(g_log[1].level_word, 0x100);
  EXPECT_EQ(g_log[3].level_word, 0x101);
}

TEST_F(MeterLineTest, APortInUseIsNotOpenedTwice) {
  index_ = driver_.Open(config_.c_str());
  int32_t second = driver_.Open(config_.c_str());
  ASSERT_GE(second, 0);
  ASSERT_EQ(driver_.OpenPort(index_), 0);
  EXPECT_EQ(driver_.OpenPort(second), -4);
  // Opening the first instance's port again releases the port before taking it anew.
  EXPECT_EQ(driver_.OpenPort(index_), 0);
}

// A device server that goes away while the line runs, and a new connection that hangs: the
// driver stops at once all the same (the stop ends the try).
TEST_F(MeterLineTest, DrvStopIsBoundedWhileAConnectHangs) {
  auto server = std::make_unique<Listener>(4);
  Listener hanging(0);
  const std::string entry = ports_.File("com1");
  unlink(entry.c_str());
  ASSERT_EQ(symlink(server->Address().c_str(), entry.c_str()), 0);
  index_ = driver_.Open(config_.c_str());
  ASSERT_GE(index_, 0);
  ASSERT_EQ(driver_.OpenPort(index_), 0);
  driver_.ResolveTags(index_);
  driver_.SetActive(index_, nullptr, 1);
  int connection = accept4(server->fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(connection, 0);
  pollfd p{connection, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1) << "no frame arrived";

  // The device server goes, and its entry now leads to one whose connect hangs.
  unlink(entry.c_str());
  ASSERT_EQ(symlink(hanging.Address().c_str(), entry.c_str()), 0);
  close(connection);
  server.reset();
  int32_t sent = 0, failed = 0, third = 0, fourth = 0;
  for (int i = 0; i < 100 && failed == 0; ++i) {
    Host().set("T1", 1 + i, kTagTypeAnalog);
    usleep(100000);
    driver_.GetStats(index_, "K1", &sent, &failed, &third, &fourth);
  }
  ASSERT_GT(failed, 0) << "the lost connection did not fail the frames";
  usleep(1500000);  // a try has begun by now, and hangs
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(driver_.Stop(index_), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  // The try, the pass and its pause all end with the stop.
  EXPECT_LT(took, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace veldrane::test
