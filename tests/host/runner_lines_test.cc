// veldrane-host run with several configurations end to end: each line on its own
// pseudo-terminal, with the built driver, and veldrane-meter where the meters' view matters.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pty.h"

namespace veldrane::test {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool WaitForPath(const std::string& path) {
  for (int i = 0; i < 50; ++i) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) return true;
    usleep(100 * 1000);
  }
  return false;
}

class RunnerLines : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(mkdir(dir_.File("ports").c_str(), 0755), 0); }

  // Line `n` (1, 2, ...) on COMn: station 1 of kind 1 shows tag Ln, station 2 shows tag SHARED,
  // and `more` stations after them show tag Ln too.
  std::string WriteLine(int n, Port port = Port(), int more = 0) {
    std::string path = dir_.File("line" + std::to_string(n) + ".cfg");
    port.port_index = n - 1;
    std::string tag = "L" + std::to_string(n);
    std::vector<Station> stations = {{"A", "", 1, 1, 0, tag}, {"B", "", 1, 2, 0, "SHARED"}};
    for (int i = 0; i < more; ++i)
      stations.push_back({"M" + std::to_string(i), "", 1, 3 + i, 0, tag});
    WriteFile(path, FileBytes(stations, port));
    return path;
  }
  std::string Entry(int n) const { return dir_.File("ports/com" + std::to_string(n)); }
  // A virtual meter on a pseudo-terminal mapped as COMn.
  std::unique_ptr<ProgramRun> Meter(int n, const std::string& config) {
    // A link that an earlier meter left (killed before it could remove it) would be taken for
    // this one's before its terminal exists.
    unlink(Entry(n).c_str());
    auto meter = std::make_unique<ProgramRun>(
        VELDRANE_METER, std::vector<std::string>{"--pty", "--link", Entry(n), "--config", config,
                                                 "--plain", "--seconds", "30"});
    EXPECT_TRUE(WaitForPath(Entry(n))) << meter->output();
    return meter;
  }
  std::unique_ptr<ProgramRun> Run(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    return std::make_unique<ProgramRun>(
        VELDRANE_HOST, args,
        std::vector<std::pair<std::string, std::string>>{{"VELDRANE_PORTS", dir_.File("ports")}});
  }
  std::string Values(const std::string& text) {
    std::string path = dir_.File("values.txt");
    WriteFile(path, text);
    return path;
  }

  TempDir dir_;
};

TEST_F(RunnerLines, EachLineShowsItsOwnValuesAndAllStopTogether) {
  std::vector<std::unique_ptr<ProgramRun>> meters;
  std::vector<std::string> args;
  for (int n = 1; n <= 3; ++n) {
    args.push_back(WriteLine(n));
    meters.push_back(Meter(n, args.back()));
  }
  // Station 1 has the same number on every line: a frame on the wrong line would show there.
  args.insert(args.end(), {"--values", Values("L1 11\nL2 22\nL3 33\nSHARED 44\n"), "--plain"});
  auto runner = Run(args);
  for (int n = 1; n <= 3; ++n) {
    std::string own = "station=1 kind=1 shows=" + std::to_string(11 * n);
    EXPECT_TRUE(meters[n - 1]->WaitFor(own, 8)) << n << "\n" << meters[n - 1]->output();
    EXPECT_TRUE(meters[n - 1]->WaitFor("station=2 kind=1 shows=44", 8)) << n;
    for (int other = 1; other <= 3; ++other) {
      if (other == n) continue;
      EXPECT_FALSE(Contains(meters[n - 1]->output(), "shows=" + std::to_string(11 * other)))
          << "line " << n << " shows line " << other << "'s value";
    }
  }
  auto start = std::chrono::steady_clock::now();
  runner->Signal(SIGTERM);
  EXPECT_EQ(runner->Finish(10), 0) << runner->output();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  const std::string& out = runner->output();
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(Contains(out, "line" + std::to_string(n) + ".cfg (COM" + std::to_string(n) + "):"))
        << out;
  }
  EXPECT_TRUE(Contains(out, "all lines: ")) << out;
}

TEST_F(RunnerLines, ALineThatDoesNotOpenIsLeftOutWhileTheOthersRun) {
  struct Case {
    bool config_missing;  // besides COM2's entry leading nowhere
    int status;
  };
  for (const Case& c : {Case{false, 4}, Case{true, 3}}) {
    SCOPED_TRACE(c.status);
    std::string first = WriteLine(1), second = WriteLine(2);
    auto meter = Meter(1, first);
    unlink(Entry(2).c_str());
    ASSERT_EQ(symlink("/nonexistent/ttyUSB9", Entry(2).c_str()), 0);
    std::vector<std::string> args = {first, second};
    if (c.config_missing) args.push_back(dir_.File("missing.cfg"));
    args.insert(args.end(), {"--values", Values("L1 11\n"), "--plain", "--seconds", "5"});
    auto runner = Run(args);
    EXPECT_TRUE(meter->WaitFor("station=1 kind=1 shows=11", 8)) << meter->output();
    EXPECT_EQ(runner->Finish(10), c.status) << runner->output();
    const std::string& out = runner->output();
    EXPECT_TRUE(Contains(out, second + ": COM2 (" + Entry(2) + " -> /nonexistent/ttyUSB9)")) << out;
    EXPECT_TRUE(Contains(out, "line2.cfg (COM2): not run: the port did not open")) << out;
    EXPECT_EQ(Contains(out, "the driver could not open " + dir_.File("missing.cfg")),
              c.config_missing)
        << out;
    EXPECT_TRUE(Contains(out, "1 of " + std::to_string(args.size() - 5) + " lines run")) << out;
  }
}

TEST_F(RunnerLines, TheSameConfigurationOrPortForTwoLinesIsRefused) {
  std::string first = WriteLine(1), second = WriteLine(2);
  TestPty pty;
  ASSERT_EQ(symlink(pty.slave().c_str(), Entry(1).c_str()), 0);
  ASSERT_EQ(symlink(pty.slave().c_str(), Entry(2).c_str()), 0);  // the same device
  std::string same_port = dir_.File("same.cfg");
  Port com1;
  WriteFile(same_port, FileBytes({{"A", "", 1, 1, 0, "T"}}, com1));
  ASSERT_EQ(mkdir(dir_.File("other").c_str(), 0755), 0);
  std::string same_name = dir_.File("other/line1.cfg");
  WriteFile(same_name, FileBytes({{"A", "", 1, 1, 0, "T"}}, Port{4}));
  // Two names that are one topic level: '+' is no topic character.
  std::string plus = dir_.File("x+y.cfg"), underscore = dir_.File("x_y.cfg");
  WriteFile(plus, FileBytes({{"A", "", 1, 1, 0, "T"}}, Port{5}));
  WriteFile(underscore, FileBytes({{"A", "", 1, 1, 0, "T"}}, Port{6}));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{first, dir_.path() + "/./line1.cfg"}, "are the same configuration"},
      {{first, same_port}, "name the same port"},
      {{first, second}, "both lead to " + pty.slave()},
      {{first, same_name, "--mqtt", "mqtt://127.0.0.1:1"}, "under the same line name 'line1'"},
      {{underscore, plus, "--mqtt", "mqtt://127.0.0.1:1"}, "under the same line name 'x_y'"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--plain", "--seconds", "1"});
    auto runner = Run(args);
    EXPECT_EQ(runner->Finish(5), 2) << runner->output();
    EXPECT_TRUE(Contains(runner->output(), c.message)) << runner->output();
    EXPECT_EQ(pty.Read(1, 0), "");  // nothing was sent
  }
}

// One device server written two ways (a link and a file, an address and a name, either
// protocol) is one device: refused before anything connects. Two ports of it are two.
TEST_F(RunnerLines, OneDeviceServerUnderTwoSpellingsIsRefused) {
  const std::string first = WriteLine(1), second = WriteLine(2);
  const struct {
    std::string com1, com2;
    bool com2_file;
    const char* lead_to;  // the endpoint named, or null: the lines run
  } cases[] = {
      {"tcp://127.0.0.1:9", "tcp://127.0.0.1:9", true, "127.0.0.1:9"},
      {"tcp://127.0.0.1:9", "rfc2217://LOCALHOST:9", false, "127.0.0.1:9"},
      {"tcp://127.0.0.1:9", "tcp://127.0.0.1:7", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.com2);
    unlink(Entry(1).c_str());
    unlink(Entry(2).c_str());
    ASSERT_EQ(symlink(c.com1.c_str(), Entry(1).c_str()), 0);
    if (c.com2_file) {
      WriteFile(Entry(2), c.com2 + "\n");
    } else {
      ASSERT_EQ(symlink(c.com2.c_str(), Entry(2).c_str()), 0);
    }
    auto runner = Run({first, second, "--plain", "--seconds", "0.5"});
    const int status = runner->Finish(10);
    const std::string& out = runner->output();
    if (c.lead_to) {
      EXPECT_EQ(status, 2) << out;
      EXPECT_TRUE(Contains(out, std::string("both lead to ") + c.lead_to)) << out;
    } else {
      EXPECT_EQ(status, 4) << out;  // nothing listens on either port
      EXPECT_FALSE(Contains(out, "both lead to")) << out;
    }
  }
}

TEST_F(RunnerLines, ASignalStopsEveryLineWithinTheBoundOfOne) {
  // RTS/CTS on pseudo-terminals: CTS never comes, so every frame waits its full second and a
  // line's stop waits for its pass of twenty frames; stopped one after the other, three lines
  // would take 3.6 s.
  std::vector<std::unique_ptr<TestPty>> ptys;
  std::vector<std::string> args;
  for (int n = 1; n <= 3; ++n) {
    ptys.push_back(std::make_unique<TestPty>());
    ASSERT_EQ(symlink(ptys.back()->slave().c_str(), Entry(n).c_str()), 0);
    Port port;
    port.option_flags = 2;
    args.push_back(WriteLine(n, port, 18));
  }
  args.insert(args.end(), {"--simulate", "--plain"});
  auto runner = Run(args);
  ASSERT_TRUE(runner->WaitFor("[VELDRANE] \xED\x86\xB5\xEC\x8B\xA0\xEC\x8B\x9C\xEC\x9E\x91"))
      << runner->output();  // 통신시작
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  auto start = std::chrono::steady_clock::now();
  runner->Signal(SIGINT);
  int status = runner->Finish(10);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(status == 0 || status == 6) << status << "\n" << runner->output();
  EXPECT_LT(took, 2.0) << runner->output();
  EXPECT_TRUE(Contains(runner->output(), "all lines: ")) << runner->output();
}

}  // namespace
}  // namespace veldrane::test
