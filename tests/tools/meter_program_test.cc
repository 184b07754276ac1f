// veldrane-meter end to end: the built program listens on a pseudo-terminal (given with --port,
// or made by itself with --pty) while the test writes the builders' frames, noise and RTS/CTS
// zero bytes into the other side; what it prints in plain and raw mode is checked.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/frames.h"
#include "config/doc.h"
#include "config/station_info.h"
#include "tests/config/temp_dir.h"
#include "tests/support/deadline.h"
#include "tests/support/frame_for.h"
#include "tests/support/test_pty.h"

namespace {

using veldrane::test::TempDir;

std::string Frame(int32_t kind, int32_t station, uint32_t decimals, double value) {
  std::vector<uint8_t> bytes = veldrane::test::FrameFor(kind, station, decimals, value);
  return std::string(bytes.begin(), bytes.end());
}

using veldrane::test::TestPty;

// Writes to a device the meter made (its --pty).
void WriteTo(const std::string& device, const std::string& bytes) {
  int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0) << device;
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

// The program with its standard output and error captured together.
class MeterRun {
 public:
  explicit MeterRun(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> argv;
      std::string program = VELDRANE_METER;
      argv.push_back(program.data());
      std::vector<std::string> copies = args;
      for (std::string& arg : copies) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~MeterRun() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // Reads until `text` has appeared in the output (true) or 5 s have passed.
  bool WaitFor(const std::string& text) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (output_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= until || !ReadSome(100)) return false;
    }
    return true;
  }
  // The device of "listening on DEVICE (...)".
  std::string Device() {
    if (!WaitFor("listening on ")) return {};
    size_t at = output_.find("listening on ") + 13;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (output_.find('\n', at) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= until || !ReadSome(100)) return {};
    }
    return output_.substr(at, output_.find(' ', at) - at);
  }
  // Waits for the program to end; its exit status. A program still running after 20 s fails
  // the test and is killed.
  int Finish() {
    for (veldrane::test::Deadline deadline; ReadSome(100);) {
      if (deadline.Passed()) {
        ADD_FAILURE() << "veldrane-meter did not end within 20 s";
        kill(pid_, SIGKILL);
        break;
      }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    finished_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const std::string& output() const { return output_; }

 private:
  // False at the end of the output.
  bool ReadSome(int timeout_ms) {
    pollfd pfd{out_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return true;
    char buffer[4096];
    ssize_t count = read(out_, buffer, sizeof buffer);
    if (count <= 0) return false;
    output_.append(buffer, static_cast<size_t>(count));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool finished_ = false;
  std::string output_;
};

bool Contains(const std::string& output, const std::string& text) {
  return output.find(text) != std::string::npos;
}

TEST(MeterProgram, DecodesEveryKindFromTheLineInPlainLines) {
  TestPty pty;
  ASSERT_FALSE(pty.slave().empty());
  MeterRun meter({"--port", pty.slave(), "--seconds", "1.5"});
  ASSERT_EQ(meter.Device(), pty.slave()) << meter.output();
  EXPECT_TRUE(Contains(meter.output(), "(9600 8N1)"));
  std::string line = Frame(0, 1, 1, 12.5) + "noise" + Frame(1, 2, 2, -0.125) +
                     std::string(1, '\0') + Frame(2, 3, 0, 123) + Frame(3, 12, 1, -12.25) +
                     Frame(4, 100, 0, -1) + Frame(5, 200, 0, 9999) + std::string(1, '\0') +
                     Frame(6, 255, 0, -199999) + Frame(1, 2, 2, 7.5) + "(0";
  ASSERT_TRUE(pty.Write(line));
  EXPECT_EQ(meter.Finish(), 0) << meter.output();
  const std::string& out = meter.output();
  for (const char* expected :
       {" station=1 kind=0 shows=12.5\n", " rejected=5 bytes=6E 6F 69 73 65\n",
        " station=2 kind=1 shows=-0.13\n", " station=3 kind=2 shows=123\n",
        " station=12 kind=3 shows=-12.3\n", " station=100 kind=4 shows=-1\n",
        " station=200 kind=5 shows=9999\n", " station=255 kind=6 shows=-199999 ambiguous\n",
        " station=2 kind=1 shows=7.50\n", " rejected=2 bytes=28 30\n",
        "summary station=2 kind=1 frames=2 shows=7.50\n", "summary frames=8 rejected=7\n"}) {
    EXPECT_TRUE(Contains(out, expected)) << expected << "\n" << out;
  }
}

TEST(MeterProgram, RawModeShowsEachFrameInHexWithItsDecoding) {
  TestPty pty;
  MeterRun meter({"--port", pty.slave(), "--raw", "--seconds", "1"});
  ASSERT_FALSE(meter.Device().empty()) << meter.output();
  ASSERT_TRUE(pty.Write(Frame(1, 1, 0, 13) + "\xFF" + Frame(4, 1, 0, 123)));
  EXPECT_EQ(meter.Finish(), 0);
  const std::string& out = meter.output();
  EXPECT_TRUE(Contains(out, "  28 30 31 29 31 33 0D  kind 1 station 1 shows 13 (")) << out;
  EXPECT_TRUE(Contains(out, "  FF  no frame (1 byte)\n")) << out;
  EXPECT_TRUE(Contains(out, "  4D 30 31 30 30 37 42 03  kind 4 station 1 shows 123 (")) << out;
}

TEST(MeterProgram, MakesItsOwnPseudoTerminalAndLinksIt) {
  TempDir dir;
  std::string link = dir.File("com1");
  MeterRun meter({"--pty", "--link", link, "--seconds", "1.5", "--baud", "38400"});
  std::string device = meter.Device();
  ASSERT_FALSE(device.empty()) << meter.output();
  EXPECT_TRUE(Contains(meter.output(), "(38400 8N1) linked from " + link));
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(device, target);
  // Two writers one after the other: the meter keeps its side open between them.
  WriteTo(link, Frame(5, 7, 0, -12.5));
  WriteTo(device, "\n" + Frame(6, 7, 0, 42));
  EXPECT_EQ(meter.Finish(), 0) << meter.output();
  EXPECT_TRUE(Contains(meter.output(), " station=7 kind=5 shows=-13\n")) << meter.output();
  EXPECT_TRUE(Contains(meter.output(), " station=7 kind=6 shows=42\n")) << meter.output();
  EXPECT_TRUE(Contains(meter.output(), " rejected=1 bytes=0A\n")) << meter.output();
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the meter";
}

TEST(MeterProgram, TakesKindsNamesAndLineSettingsFromAConfiguration) {
  TempDir dir;
  std::string path = dir.File("line.cfg");
  {
    CVeldraneDoc doc;
    auto add = [&](const char* name, int32_t number, int32_t kind) {
      CStationInfo station;
      station.name = name;
      station.number = number;
      station.kind = kind;
      doc.MergeStation(station);
    };
    add("\xBC\xF6\xC0\xA7", 123, 3);  // 수위, code page 949
    add("PRESS", 200, 1);
    doc.Port().baud_index = 4;    // 4800
    doc.Port().parity_index = 1;  // even
    doc.SaveFile(path.c_str());
  }
  TestPty pty;
  MeterRun meter({"--port", pty.slave(), "--config", path, "--stop-bits", "2", "--seconds", "1.5"});
  ASSERT_FALSE(meter.Device().empty()) << meter.output();
  EXPECT_TRUE(Contains(meter.output(), "(4800 8E2)")) << meter.output();
  // Without the configuration both would read otherwise: station 12 showing 31234567, and a
  // kind-5 frame.
  ASSERT_TRUE(pty.Write(Frame(3, 123, 0, 1234567) + Frame(1, 200, 0, -1999) + Frame(1, 9, 0, 5)));
  EXPECT_EQ(meter.Finish(), 0) << meter.output();
  const std::string& out = meter.output();
  EXPECT_TRUE(Contains(out, " station=123 kind=3 shows=1234567 ambiguous name=수위\n")) << out;
  EXPECT_TRUE(Contains(out, " station=200 kind=1 shows=-1999 ambiguous name=PRESS\n")) << out;
  EXPECT_TRUE(Contains(out, " station=9 kind=1 shows=5 unconfigured\n")) << out;
  EXPECT_TRUE(Contains(out, "summary station=123 kind=3 frames=1 shows=1234567 name=수위\n"));
}

struct Refusal {
  std::vector<std::string> args;
  int status;
  std::string message;
};

TEST(MeterProgram, RefusesBadUseWithAClearMessage) {
  TempDir dir;
  std::string not_config = dir.File("not.cfg");
  { std::ofstream(not_config) << "hello"; }
  const Refusal refusals[] = {
      {{}, 2, "give either --port DEVICE or --pty"},
      {{"--pty", "--port", "/dev/null"}, 2, "give either --port DEVICE or --pty"},
      {{"--pty", "--parity", "mark"}, 2, "bad parity: mark"},
      {{"--pty", "--data-bits", "9"}, 2, "bad data bits: 9"},
      {{"--pty", "--seconds", "-1"}, 2, "bad number of seconds: -1"},
      {{"--pty", "--baud"}, 2, "--baud needs a value"},
      {{"--pty", "--frobnicate"}, 2, "unknown argument: --frobnicate"},
      {{"--port", "/dev/null", "--link", "x"}, 2, "--link goes with --pty"},
      {{"--pty", "--baud", "12345"}, 1, "unsupported baud rate 12345"},
      {{"--port", dir.File("missing")}, 1, "cannot open " + dir.File("missing")},
      {{"--port", "/dev/null"}, 1, "/dev/null is not a serial device or terminal"},
      {{"--pty", "--config", dir.File("missing.cfg")}, 3, "missing.cfg"},
      {{"--pty", "--config", not_config}, 3, "is damaged or not a configuration file"},
  };
  for (const Refusal& refusal : refusals) {
    MeterRun meter(refusal.args);
    EXPECT_EQ(meter.Finish(), refusal.status) << meter.output();
    EXPECT_TRUE(Contains(meter.output(), refusal.message)) << meter.output();
  }
  MeterRun help({"--help"});
  EXPECT_EQ(help.Finish(), 0);
  EXPECT_TRUE(Contains(help.output(), "Usage: veldrane-meter"));
}

}  // namespace
