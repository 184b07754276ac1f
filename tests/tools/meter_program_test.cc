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
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comm/frames.h"
#include "config/doc.h"
#include "config/station_info.h"
#include "tests/support/deadline.h"
#include "tests/support/frame_for.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
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
class MeterRun : public veldrane::test::ProgramRun {
 public:
  explicit MeterRun(const std::vector<std::string>& args) : ProgramRun(VELDRANE_METER, args) {}
  // The device of "listening on DEVICE (...)".
  std::string Device() {
    std::string line = LineAfter("listening on ");
    return line.substr(0, line.find(' '));
  }
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

TEST(MeterProgram, LinkReplacesOnlyALinkAndRemovesOnlyItsOwn) {
  TempDir dir;
  std::string path = dir.File("com1");
  struct Case {
    const char* what;
    std::function<void()> make;
    bool taken;
  };
  const Case cases[] = {
      {"nothing", [] {}, true},
      {"a stale link", [&] { ASSERT_EQ(symlink("/dev/pts/nowhere", path.c_str()), 0); }, true},
      {"a configuration", [&] { veldrane::test::WriteFile(path, "keep me"); }, false},
      {"a directory", [&] { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    MeterRun meter({"--pty", "--link", path, "--seconds", "0.5"});
    if (c.taken) {
      EXPECT_FALSE(meter.Device().empty()) << meter.output();
      EXPECT_EQ(meter.Finish(), 0) << meter.output();
      struct stat st {};
      EXPECT_NE(lstat(path.c_str(), &st), 0) << "the link outlived the meter";
    } else {
      EXPECT_EQ(meter.Finish(), 1);
      EXPECT_TRUE(Contains(meter.output(), path + " exists and is not a symbolic link"))
          << meter.output();
      // Left as it was.
      EXPECT_TRUE(rmdir(path.c_str()) == 0 || veldrane::test::ReadFile(path) == "keep me");
      unlink(path.c_str());
    }
  }
  // A second meter takes the path over; the first, ending, leaves the second's link.
  MeterRun first({"--pty", "--link", path, "--seconds", "0.5"});
  ASSERT_FALSE(first.Device().empty());
  MeterRun second({"--pty", "--link", path, "--seconds", "3"});
  std::string device = second.Device();
  ASSERT_FALSE(device.empty());
  EXPECT_EQ(first.Finish(), 0);
  char target[256] = {};
  ASSERT_GT(readlink(path.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(device, target);
}

TEST(MeterProgram, NoiseIsReportedAtABoundedRateAndNamesAreEscaped) {
  TempDir dir;
  std::string config = dir.File("line.cfg");
  {
    CVeldraneDoc doc;
    CStationInfo station;
    station.name = "K\x1b[31m";
    station.number = 1;
    station.kind = 1;
    doc.MergeStation(station);
    doc.SaveFile(config.c_str());
  }
  TestPty pty;
  MeterRun meter({"--port", pty.slave(), "--config", config, "--plain", "--seconds", "1.5"});
  ASSERT_FALSE(meter.Device().empty()) << meter.output();
  std::string noise;
  for (int i = 0; i < 2000; ++i) noise += "xx\r";
  ASSERT_TRUE(pty.Write(noise + Frame(1, 1, 0, 5)));
  EXPECT_EQ(meter.Finish(), 0) << meter.output();
  const std::string& out = meter.output();
  size_t in_full = 0;  // runs of noise shown with their bytes
  for (size_t at = out.find(" bytes="); at != std::string::npos; at = out.find(" bytes=", at + 1)) {
    ++in_full;
  }
  EXPECT_LE(in_full, 10u) << out;
  EXPECT_TRUE(Contains(out, " runs not shown\n")) << out;
  EXPECT_TRUE(Contains(out, " station=1 kind=1 shows=5 name=K\\x1b[31m\n")) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
}

TEST(MeterProgram, AnEndBeyondTheClockIsNoEndAtOnce) {
  MeterRun meter({"--pty", "--seconds", "1e308"});
  ASSERT_FALSE(meter.Device().empty()) << meter.output();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(meter.running()) << meter.output();
  meter.Signal(SIGINT);
  EXPECT_EQ(meter.Finish(5), 0) << meter.output();
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
      {{"--pty", "--seconds", "inf"}, 2, "bad number of seconds: inf"},
      {{"--pty", "--seconds", "nan"}, 2, "bad number of seconds: nan"},
      {{"--pty", "--baud"}, 2, "--baud needs a value"},
      {{"--pty", "--frobnicate"}, 2, "unknown argument: --frobnicate"},
      {{"--port", "/dev/null", "--link", "x"}, 2, "--link goes with --pty"},
      {{"--pty", "--baud", "12345"}, 1, "unsupported baud rate 12345"},
      {{"--port", dir.File("missing")}, 1, dir.File("missing") + ": not found"},
      {{"--port", "/dev/null"}, 1, "/dev/null: not a serial device"},
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
