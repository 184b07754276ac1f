// veldrane-host run end to end: the built runner with the built driver on a pseudo-terminal
// mapped as COM1. What it refuses before starting, how fast it ends on a signal in each state of
// the line, and that nothing read from input reaches the terminal raw.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pty.h"

namespace veldrane::test {
namespace {

const std::string kStarted =
    "[VELDRANE] \xED\x86\xB5\xEC\x8B\xA0\xEC\x8B\x9C\xEC\x9E\x91";  // 통신시작

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A configuration and a port map whose COM1 is a pseudo-terminal of the test.
class RunnerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(dir_.File("ports").c_str(), 0755), 0);
    ASSERT_EQ(symlink(pty_.slave().c_str(), dir_.File("ports/com1").c_str()), 0);
    config_ = dir_.File("line.cfg");
    WriteConfig({{"K0", "", 0, 1, 0, "T0"}, {"K1", "", 1, 2, 0, "T1"}});
  }
  void WriteConfig(const std::vector<Station>& stations, const Port& port = Port()) {
    WriteFile(config_, FileBytes(stations, port));
  }
  std::unique_ptr<ProgramRun> Run(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    return std::make_unique<ProgramRun>(
        VELDRANE_HOST, args,
        std::vector<std::pair<std::string, std::string>>{{"VELDRANE_PORTS", dir_.File("ports")}});
  }
  // Drains what the driver sends, so that the line stays writable.
  void Drain() { pty_.Read(1 << 20, 50); }

  TempDir dir_;
  TestPty pty_;
  std::string config_;
};

TEST_F(RunnerProgram, RefusesWhatItCannotOpenBeforeStarting) {
  std::string fifo = dir_.File("fifo.cfg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{config_, "--values", dir_.path()},
       2,
       "--values: cannot read values from " + dir_.path() + ": it is a directory"},
      {{config_, "--values", dir_.File("missing")},
       2,
       "--values: cannot open " + dir_.File("missing") + ": No such file or directory"},
      {{config_, "--log", dir_.path()},
       2,
       "--log: cannot open " + dir_.path() + ": Is a directory"},
      // Not regular files: refused before they are opened, a FIFO without waiting for a writer.
      {{fifo}, 3, "cannot open " + fifo + ": a FIFO, not a regular file"},
      {{dir_.path()}, 3, "cannot open " + dir_.path() + ": a directory, not a regular file"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--seconds", "1", "--plain"});
    auto runner = Run(args);
    EXPECT_EQ(runner->Finish(5), c.status) << runner->output();
    EXPECT_TRUE(Contains(runner->output(), c.message)) << runner->output();
  }
}

// The processor time a process has used so far, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stoull(field);
    if (i == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Times beyond any run mean no limit: the runner waits for a signal as without --seconds,
// without spinning on a deadline that overflowed into the past. What is no time is refused.
TEST_F(RunnerProgram, AnEndlessTimeIsNoLimit) {
  for (const char* seconds : {"1e10", "inf", "1e300"}) {
    SCOPED_TRACE(seconds);
    auto runner = Run({config_, "--plain", "--seconds", seconds});
    ASSERT_TRUE(runner->WaitFor(kStarted)) << runner->output();
    const double before = CpuSeconds(runner->pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    Drain();
    EXPECT_TRUE(runner->running());
    EXPECT_LT(CpuSeconds(runner->pid()) - before, 0.3);
    runner->Signal(SIGTERM);
    EXPECT_EQ(runner->Finish(5), 0) << runner->output();
  }
  for (const char* seconds : {"nan", "-inf", "-1", "5s"}) {
    auto runner = Run({config_, "--plain", "--seconds", seconds});
    EXPECT_EQ(runner->Finish(5), 2) << seconds;
    EXPECT_TRUE(Contains(runner->output(), "--seconds takes a number of seconds")) << seconds;
  }
}

// A script that writes its values into the FIFO before the runner starts waits in its open
// until the runner reads, and every value arrives: the start's checks do not open the FIFO.
TEST_F(RunnerProgram, AWriterWaitingBeforeTheStartLosesNothing) {
  std::string fifo = dir_.File("early");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteConfig({{"K1", "", 1, 1, 0, "T0"}});  // frames "(01)VALUE\r"
  signal(SIGPIPE, SIG_IGN);
  for (int value = 41; value < 44; ++value) {
    SCOPED_TRACE(value);
    const std::string line = "T0 " + std::to_string(value) + "\n";
    ssize_t written = -2;
    std::thread writer([&] {
      int fd = open(fifo.c_str(), O_WRONLY);
      written = fd < 0 ? -1 : write(fd, line.data(), line.size());
      if (fd >= 0) close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the writer waits
    auto runner = Run({config_, "--plain", "--values", fifo});
    const std::string frame = "(01)" + std::to_string(value) + "\r";
    std::string seen;
    for (int i = 0; i < 40 && !Contains(seen, frame); ++i) seen += pty_.Read(1 << 16, 100);
    runner->Signal(SIGTERM);
    EXPECT_EQ(runner->Finish(5), 0) << runner->output();
    writer.join();
    EXPECT_EQ(written, static_cast<ssize_t>(line.size()));
    EXPECT_TRUE(Contains(seen, frame)) << runner->output();
  }
}

TEST_F(RunnerProgram, EndsWithinTwoSecondsOfASignalWhateverTheLineDoes) {
  enum State { kPortFailing, kFifoWriterGone, kLineDead };
  struct Case {
    State state;
    std::vector<int> signals;  // sent one after the other
  };
  const Case cases[] = {
      {kFifoWriterGone, {SIGTERM}},
      {kLineDead, {SIGINT}},
      {kLineDead, {SIGINT, SIGINT}},  // the second ends it at once
      {kPortFailing, {SIGHUP}},       // last: the line is gone for good
  };
  std::string fifo = dir_.File("values");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.state) * 100 + static_cast<int>(c.signals.size()));
    Port port;
    // RTS/CTS on a pseudo-terminal: CTS never comes, so every frame waits its full second.
    if (c.state == kLineDead) port.option_flags = 2;
    std::vector<Station> stations;
    for (int i = 0; i < 20; ++i) stations.push_back({"S" + std::to_string(i), "", 0, i, 0, "T"});
    WriteConfig(stations, port);
    std::vector<std::string> args = {config_, "--simulate", "--plain"};
    if (c.state == kFifoWriterGone) args.insert(args.end(), {"--values", fifo});
    auto runner = Run(args);
    ASSERT_TRUE(runner->WaitFor(kStarted)) << runner->output();
    if (c.state == kPortFailing) pty_.Close();
    if (c.state == kFifoWriterGone) {
      int writer = open(fifo.c_str(), O_WRONLY);
      ASSERT_GE(writer, 0);
      ASSERT_EQ(write(writer, "T 1\n", 4), 4);
      close(writer);
    }
    pty_.Read(1 << 20, 1500);
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < c.signals.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      runner->Signal(c.signals[i]);
    }
    int status = runner->Finish(10);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (c.signals.size() > 1) {
      // The first stop may well be done before the second signal comes.
      EXPECT_TRUE(status == 128 + SIGINT || status == 0) << status << "\n" << runner->output();
      EXPECT_LT(took, 0.5);
    } else {
      // The waits of a frame and of the pass end with the stop: the driver stops in time.
      EXPECT_EQ(status, 0) << runner->output();
      EXPECT_TRUE(Contains(runner->output(), "Statistics:")) << runner->output();
      EXPECT_LT(took, 2.0);
    }
  }
}

// A line that reconnects to a device server whose address never answers stops in time, at
// whatever point of its tries the stop comes: the connection try ends with it.
TEST_F(RunnerProgram, AStopWhileALineReconnectsEndsInTime) {
  const std::string entry = dir_.File("ports/com1");
  for (int delay_ms : {0, 230, 470, 710, 950, 1190}) {
    SCOPED_TRACE(delay_ms);
    Listener server(8);
    Listener silent(0);
    unlink(entry.c_str());
    ASSERT_EQ(symlink(server.Address().c_str(), entry.c_str()), 0);
    auto runner = Run({config_, "--plain", "--simulate"});
    ASSERT_TRUE(runner->WaitFor(kStarted)) << runner->output();
    // The server goes, and the entry leads to the silent one.
    unlink(entry.c_str());
    ASSERT_EQ(symlink(silent.Address().c_str(), entry.c_str()), 0);
    close(server.fd);  // the connection waiting in its queue is reset
    server.fd = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500 + delay_ms));
    auto start = std::chrono::steady_clock::now();
    runner->Signal(SIGTERM);
    EXPECT_EQ(runner->Finish(5), 0) << runner->output();
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, 0.5);
  }
  unlink(entry.c_str());
  ASSERT_EQ(symlink(pty_.slave().c_str(), entry.c_str()), 0);
}

TEST_F(RunnerProgram, InputNeverReachesTheTerminalRaw) {
  const std::string name = "K\x1b[31m";
  const std::string tag = "T\x1b]0;X\x07";
  WriteConfig({{name, "", 0, 1, 0, tag}});
  std::string values = dir_.File("v.txt");
  WriteFile(values, "\x1b]0;PWNED\x07TAG 5\n1 \x1b[2J\n");
  std::string log = dir_.File("event.log");
  auto runner = Run({config_, "--values", values, "--simulate", "--plain", "--log", log});
  ASSERT_TRUE(runner->WaitFor(kStarted)) << runner->output();
  Drain();
  pty_.Close();  // frames fail from here on: the event log names the station
  ASSERT_TRUE(runner->WaitFor("K\\x1b[31m]")) << runner->output();
  runner->Signal(SIGTERM);
  EXPECT_EQ(runner->Finish(5), 0);
  const std::string& out = runner->output();
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_EQ(out.find('\x07'), std::string::npos) << out;
  for (const char* shown : {"no station shows tag '\\x1b]0;PWNED\\x07TAG'", "'\\x1b[2J' is not",
                            "K\\x1b[31m", "T\\x1b]0;X\\x07"}) {
    EXPECT_TRUE(Contains(out, shown)) << shown << "\n" << out;
  }
  // The log keeps the driver's bytes as they are.
  EXPECT_TRUE(Contains(ReadFile(log), "[" + name + "]")) << ReadFile(log);
}

// Under systemd, with JOURNAL_STREAM naming the runner's output: every line carries the
// journal's priority and no time of its own, and nothing is a blank line.
TEST_F(RunnerProgram, GivesTheJournalEachLinesPriority) {
  struct Case {
    int com_index;  // 0: COM1, the test's line; 8: COM9, which nothing answers to
    int status;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {0, 0, {"<5>state  " + kStarted, "<6>Statistics:", "<6>total: "}},
      {8, 4, {"<3>setup  [VELDRANE] ", "<3>veldrane-host: CONFIG: COM9 (/dev/ttyS8): not found"}},
  };
  for (const Case& c : cases) {
    Port port;
    port.port_index = c.com_index;
    WriteConfig({{"K0", "", 0, 1, 0, "T0"}}, port);
    // The way systemd names the stream: the device and inode of the runner's output.
    const std::string command = "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec '" +
                                std::string(VELDRANE_HOST) + "' run '" + config_ +
                                "' --simulate --seconds 1.5";
    ProgramRun runner("/bin/sh", {"-c", command}, {{"VELDRANE_PORTS", dir_.File("ports")}});
    EXPECT_EQ(runner.Finish(10), c.status) << runner.output();
    const std::string& out = runner.output();
    for (std::string line : c.lines) {
      if (size_t at = line.find("CONFIG"); at != std::string::npos) line.replace(at, 6, config_);
      EXPECT_TRUE(Contains(out, "\n" + line) || out.rfind(line, 0) == 0) << line << "\n" << out;
    }
    size_t at = 0;
    while (at < out.size()) {
      size_t end = out.find('\n', at);
      if (end == std::string::npos) end = out.size();
      const std::string line = out.substr(at, end - at);
      EXPECT_TRUE(line.size() > 3 && line[0] == '<' && line[1] >= '3' && line[1] <= '6' &&
                  line[2] == '>')
          << "'" << line << "'\n"
          << out;
      at = end + 1;
    }
    Drain();
  }
}

TEST_F(RunnerProgram, ALogThatCannotBeWrittenIsSaidOnce) {
  auto runner = Run({config_, "--simulate", "--plain", "--log", "/dev/full", "--seconds", "1.5"});
  EXPECT_EQ(runner->Finish(10), 0);
  const std::string& out = runner->output();
  const std::string said = "cannot write to /dev/full: No space left on device";
  ASSERT_TRUE(Contains(out, said)) << out;
  EXPECT_EQ(out.find(said), out.rfind(said)) << out;
}

}  // namespace
}  // namespace veldrane::test
