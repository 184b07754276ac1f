// The POSIX serial device on pseudo-terminals, reached through the COM port map, with its
// system calls wrapped by a table that records them, fails the ones a case names and, where a
// case needs it, runs the device on time of its own.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial/port_map.h"
#include "platform/serial/serial_device.h"
#include "platform/serial/serial_sys.h"
#include "tests/support/fault_script.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pty.h"

namespace veldrane::test {
namespace {

using platform::ModemLine;
using platform::Parity;
using platform::SerialDevice;
using platform::SerialSettings;

using Pty = veldrane::test::TestPty;

// The wrapped system calls. Plain functions reach the script through one pointer.
// Calls are named "open", "flock", "write", "ioctl TIOCEXCL", ... in the fault script.
struct SysScript {
  using Fault = FaultScript::Fault;
  std::mutex mutex;
  std::vector<std::string> ioctls;  // "TIOCMBIS 6": request and bits
  std::optional<termios> set_termios;
  bool virtual_time = false;
  uint64_t now_us = 0;
  std::vector<int> outq;            // answers of TIOCOUTQ in turn, the last one repeating
  std::vector<int> lsr;             // answers of TIOCSERGETLSR likewise
  short poll_revents = 0;           // a poll that reports this at once
  std::vector<std::string> opened;  // the paths of every open, in turn
  std::map<std::string, std::string> redirected;  // opens of a path that go elsewhere
};
SysScript* g_script = nullptr;

std::string RequestName(unsigned long request) {
  switch (request) {
    case TIOCEXCL:
      return "TIOCEXCL";
    case TIOCNXCL:
      return "TIOCNXCL";
    case TIOCMBIS:
      return "TIOCMBIS";
    case TIOCMBIC:
      return "TIOCMBIC";
    case TIOCMGET:
      return "TIOCMGET";
    case TIOCOUTQ:
      return "TIOCOUTQ";
    case TIOCSERGETLSR:
      return "TIOCSERGETLSR";
    default:
      return std::to_string(request);
  }
}

// True when this call is the one to fail (errno is then set).
bool Fails(const std::string& call) {
  return Faults().Hit(call);
}

const platform::SerialSysApi& Sys() {
  return platform::SystemSerialSysApi();
}

int Answer(std::vector<int>& answers, void* arg) {
  int value = answers.front();
  if (answers.size() > 1) answers.erase(answers.begin());
  *static_cast<int*>(arg) = value;
  return 0;
}

const platform::SerialSysApi kScripted = {
    [](const char* path, int flags) {
      std::string target = path;
      {
        std::lock_guard<std::mutex> lock(g_script->mutex);
        g_script->opened.push_back(path);
        if (auto it = g_script->redirected.find(path); it != g_script->redirected.end()) {
          target = it->second;
        }
      }
      return Fails("open") ? -1 : Sys().open(target.c_str(), flags);
    },
    [](int fd) {
      Fails("close");
      return Sys().close(fd);
    },
    [](int fd, unsigned long request, void* arg) {
      std::string name = RequestName(request);
      {
        std::lock_guard<std::mutex> lock(g_script->mutex);
        if (request == TIOCMBIS || request == TIOCMBIC) {
          g_script->ioctls.push_back(name + " " + std::to_string(*static_cast<int*>(arg)));
        }
        if (request == TIOCOUTQ && !g_script->outq.empty()) return Answer(g_script->outq, arg);
        if (request == TIOCSERGETLSR && !g_script->lsr.empty()) {
          return Answer(g_script->lsr, arg);
        }
      }
      return Fails("ioctl " + name) ? -1 : Sys().ioctl(fd, request, arg);
    },
    [](int fd, int op) { return Fails("flock") ? -1 : Sys().flock(fd, op); },
    [](int fd, termios* t) { return Fails("tcgetattr") ? -1 : Sys().tcgetattr(fd, t); },
    [](int fd, int actions, const termios* t) {
      {
        std::lock_guard<std::mutex> lock(g_script->mutex);
        g_script->set_termios = *t;
      }
      return Fails("tcsetattr") ? -1 : Sys().tcsetattr(fd, actions, t);
    },
    [](int fd, int queue) { return Fails("tcflush") ? -1 : Sys().tcflush(fd, queue); },
    [](int fd, const void* bytes, size_t count) -> ssize_t {
      return Fails("write") ? -1 : Sys().write(fd, bytes, count);
    },
    [](pollfd* fds, nfds_t count, int timeout_ms) {
      {
        std::lock_guard<std::mutex> lock(g_script->mutex);
        if (g_script->poll_revents) {
          fds[0].revents = g_script->poll_revents;
          return 1;
        }
      }
      return Sys().poll(fds, count, timeout_ms);
    },
    []() {
      std::lock_guard<std::mutex> lock(g_script->mutex);
      return g_script->virtual_time ? g_script->now_us : Sys().now_us();
    },
    [](uint64_t us) {
      std::unique_lock<std::mutex> lock(g_script->mutex);
      if (g_script->virtual_time) {
        g_script->now_us += us;
        return;
      }
      lock.unlock();
      Sys().sleep_us(us);
    },
};

class PosixSerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(platform::kPortMapVariable, ports_.path().c_str(), 1);
    Map(1, pty_.slave());
    g_script = &script_;
    Faults().Reset();
    platform::SetSerialSysApi(&kScripted);
  }
  void TearDown() override {
    platform::SetSerialSysApi(nullptr);
    g_script = nullptr;
    unsetenv(platform::kPortMapVariable);
  }
  void Map(int com, const std::string& target) {
    std::string entry = ports_.File("com" + std::to_string(com));
    unlink(entry.c_str());
    ASSERT_EQ(symlink(target.c_str(), entry.c_str()), 0);
  }
  int Count(const std::string& call) { return Faults().Count(call); }
  void Fail(const std::string& call, int nth, int error) { Faults().Fail(call, nth, error); }
  void UseVirtualTime() {
    std::lock_guard<std::mutex> lock(script_.mutex);
    script_.virtual_time = true;
  }
  uint64_t NowUs() {
    std::lock_guard<std::mutex> lock(script_.mutex);
    return script_.now_us;
  }
  void SetNowUs(uint64_t us) {
    std::lock_guard<std::mutex> lock(script_.mutex);
    script_.now_us = us;
  }
  static bool Write(SerialDevice& device, const std::string& bytes, uint32_t timeout_ms = 1000) {
    return device.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), timeout_ms)
        .ok();
  }

  TempDir ports_;
  Pty pty_;
  SysScript script_;
};

TEST(PortMap, NamesComPortsThroughTheMapDirectory) {
  TempDir dir;
  setenv(platform::kPortMapVariable, dir.path().c_str(), 1);
  ASSERT_EQ(symlink("/dev/null", dir.File("com3").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent/adapter", dir.File("com12").c_str()), 0);
  const struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"COM3", dir.File("com3")},
      {"com3", dir.File("com3")},
      // An entry whose adapter is unplugged still names the port.
      {"\\\\.\\COM12", dir.File("com12")},
      {"COM1", "/dev/ttyS0"},
      {"\\\\.\\COM36", "/dev/ttyS35"},
      {"COM0", ""},
      {"COM", ""},
      {"COM03", ""},
      {"COM3x", ""},
      {"LPT1", ""},
      {"\\\\.\\LPT1", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ComDevicePath(c.name), c.path) << c.name;
  }
  EXPECT_EQ(platform::ComDevicePath(nullptr), "");
  unsetenv(platform::kPortMapVariable);
  EXPECT_EQ(platform::ComDevicePath("COM7"), "/dev/ttyS6");
}

// Folders searched in order: the first entry wins, even one that leads nowhere; the on-board
// port only where no folder names the port. Without VELDRANE_PORTS the machine's two folders.
TEST(PortMap, SearchesItsFoldersInOrder) {
  TempDir first, second;
  ASSERT_EQ(symlink("/dev/null", second.File("com3").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", first.File("com4").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", second.File("com4").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent/adapter", first.File("com5").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", second.File("com5").c_str()), 0);
  const std::string list = ":" + first.path() + "::" + second.path() + ":";
  setenv(platform::kPortMapVariable, list.c_str(), 1);
  EXPECT_EQ(platform::PortMapDirs(), (std::vector<std::string>{first.path(), second.path()}));
  EXPECT_EQ(platform::ComDevicePath("COM3"), second.File("com3"));
  EXPECT_EQ(platform::ComDevicePath("COM4"), first.File("com4"));
  EXPECT_EQ(platform::ComDevicePath("COM5"), first.File("com5"));
  EXPECT_EQ(platform::ComDevicePath("COM6"), "/dev/ttyS5");
  EXPECT_EQ(platform::PortMapEntry(6), first.File("com6"));
  setenv(platform::kPortMapVariable, ":", 1);
  EXPECT_EQ(platform::PortMapDirs(),
            (std::vector<std::string>{"/etc/veldrane/ports", "/dev/veldrane"}));
  unsetenv(platform::kPortMapVariable);
  EXPECT_EQ(platform::PortMapDirs(),
            (std::vector<std::string>{"/etc/veldrane/ports", "/dev/veldrane"}));
}

class LineSettingsTest : public PosixSerialTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LineSettingsTest, OpensRawWithTheLineSettingsAndSetsDtrAndRtsByMode) {
  const bool rts_cts = GetParam();
  auto device = platform::NewPosixSerialDevice();
  SerialSettings s{38400, 7, Parity::kOdd, 2, rts_cts};
  ASSERT_TRUE(device->Open("COM1", s));
  ASSERT_TRUE(script_.set_termios.has_value());
  const termios& t = *script_.set_termios;
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_TRUE(t.c_cflag & PARENB);
  EXPECT_TRUE(t.c_cflag & PARODD);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  // DTR and RTS together: up for good in normal mode, down between frames with the handshake.
  EXPECT_EQ(script_.ioctls, (std::vector<std::string>{(rts_cts ? "TIOCMBIC " : "TIOCMBIS ") +
                                                      std::to_string(TIOCM_DTR | TIOCM_RTS)}));
  EXPECT_EQ(Count("ioctl TIOCEXCL"), 1);
  EXPECT_EQ(Count("flock"), 1);
  // A pseudo-terminal has no modem lines: they count as not supported, and normal mode works.
  EXPECT_FALSE(device->SetRts(true));
  EXPECT_EQ(device->Cts(), ModemLine::kUnsupported);
  EXPECT_TRUE(device->Purge());
  EXPECT_TRUE(Write(*device, "(01)123\r"));
  EXPECT_TRUE(device->WaitTransmitted(2000));
  EXPECT_EQ(pty_.Read(8), "(01)123\r");
}

INSTANTIATE_TEST_SUITE_P(Modes, LineSettingsTest, ::testing::Values(false, true),
                         [](const auto& param_info) {
                           return param_info.param ? "RtsCts" : "Normal";
                         });

TEST_F(PosixSerialTest, NoSecondOpenOfAPortThatIsInUse) {
  auto first = platform::NewPosixSerialDevice();
  auto second = platform::NewPosixSerialDevice();
  ASSERT_TRUE(first->Open("COM1", {}));
  EXPECT_FALSE(second->Open("COM1", {}));
  EXPECT_EQ(Count("close"), 1);  // the refused open left nothing behind
  first.reset();
  // The exclusive mark is cleared before the close: it would outlive the port's holder.
  EXPECT_EQ(Count("ioctl TIOCNXCL"), 1);
  EXPECT_TRUE(second->Open("COM1", {}));
}

TEST_F(PosixSerialTest, WhatOpeningNeedsAndWhatItMayLack) {
  using F = platform::SerialFault;
  const struct {
    SysScript::Fault fault;
    F result;
  } cases[] = {
      {{"open", 1, ENOENT}, F::kNotFound},
      {{"open", 1, ENXIO}, F::kNotFound},
      {{"open", 1, EACCES}, F::kPermissionDenied},
      {{"open", 1, EBUSY}, F::kBusy},  // another opened it with TIOCEXCL
      {{"open", 1, EMFILE}, F::kIoError},
      {{"flock", 1, EWOULDBLOCK}, F::kBusy},
      {{"tcgetattr", 1, ENOTTY}, F::kNotSerialDevice},
      {{"tcgetattr", 1, EINVAL}, F::kNotSerialDevice},  // /dev/urandom's answer
      {{"tcgetattr", 1, EIO}, F::kIoError},
      // The set-up after a successful open only tries.
      {{"flock", 1, ENOLCK}, F::kNone},
      {{"ioctl TIOCEXCL", 1, EPERM}, F::kNone},
      {{"tcsetattr", 1, EINVAL}, F::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault.call + " " + std::to_string(c.fault.error));
    {
      std::lock_guard<std::mutex> lock(script_.mutex);
      Faults().Set({c.fault});
    }
    auto device = platform::NewPosixSerialDevice();
    platform::SerialResult r = device->Open("COM1", {});
    EXPECT_EQ(r.fault, c.result);
    EXPECT_EQ(r.error, c.result == F::kNone ? 0 : c.fault.error);
    // A refused port is left as it was: not made exclusive behind its holder's back.
    if (c.fault.call != "ioctl TIOCEXCL") {
      EXPECT_EQ(Count("ioctl TIOCEXCL"), r.ok() ? 1 : 0);
    }
    device.reset();
    // Whatever was opened is closed again.
    EXPECT_EQ(Count("close"), Count("open") - (c.fault.call == "open" ? 1 : 0));
  }
  Map(2, "/nonexistent/ttyUSB9");  // an adapter that is not plugged in
  auto device = platform::NewPosixSerialDevice();
  EXPECT_EQ(device->Open("COM2", {}).fault, F::kNotFound);
  EXPECT_EQ(device->Open("LPT1", {}).fault, F::kNotFound);
  EXPECT_FALSE(Write(*device, "x"));
  EXPECT_FALSE(device->Purge());
  // Settings that have no line value are refused before anything is opened.
  const int opens = Count("open");
  for (SerialSettings s : {SerialSettings{0}, SerialSettings{12345}, SerialSettings{9600, 6},
                           SerialSettings{9600, 8, Parity::kNone, 3}}) {
    EXPECT_EQ(device->Open("COM1", s).fault, F::kSettingsRefused) << s.baud_rate;
  }
  EXPECT_EQ(Count("open"), opens);
}

TEST_F(PosixSerialTest, WaitsTheCharacterTimeWhereTheTransmitterCannotTell) {
  UseVirtualTime();
  const struct {
    SerialSettings settings;
    size_t bytes;
    uint64_t us;
  } cases[] = {
      {{9600, 8, Parity::kNone, 1, false}, 12, 12500},   // 10 bits a character
      {{300, 7, Parity::kEven, 2, false}, 13, 476667},   // 11 bits
      {{38400, 8, Parity::kOdd, 1, false}, 9, 2579},     // 11 bits
      {{300, 8, Parity::kEven, 2, false}, 60, 2000000},  // beyond the 2 s: fails
  };
  for (const auto& c : cases) {
    auto device = platform::NewPosixSerialDevice();
    ASSERT_TRUE(device->Open("COM1", c.settings));
    SetNowUs(1000000);
    ASSERT_TRUE(Write(*device, std::string(c.bytes, 'A')));
    EXPECT_EQ(device->WaitTransmitted(2000).ok(), c.us < 2000000);
    EXPECT_EQ(NowUs() - 1000000, c.us) << c.settings.baud_rate;
    pty_.Read(c.bytes, 100);
  }
}

TEST_F(PosixSerialTest, AskTheDriverAndTheUartWhereTheyAnswer) {
  UseVirtualTime();
  auto device = platform::NewPosixSerialDevice();
  ASSERT_TRUE(device->Open("COM1", {}));
  ASSERT_TRUE(Write(*device, "abc"));
  const struct {
    std::vector<int> outq, lsr;
    bool empties;
    uint64_t us;
  } cases[] = {
      {{3, 2, 0}, {0, 0, TIOCSER_TEMT}, true, 4000},  // 1 ms polls
      {{5}, {TIOCSER_TEMT}, false, 2000000},          // the driver never drains
      {{0}, {0}, false, 2000000},                     // the UART never empties
  };
  for (const auto& c : cases) {
    {
      std::lock_guard<std::mutex> lock(script_.mutex);
      script_.outq = c.outq;
      script_.lsr = c.lsr;
    }
    uint64_t start = NowUs();
    EXPECT_EQ(device->WaitTransmitted(2000).ok(), c.empties);
    EXPECT_EQ(NowUs() - start, c.us);
  }
}

TEST_F(PosixSerialTest, AWriteTheOtherEndDoesNotTakeTimesOut) {
  auto device = platform::NewPosixSerialDevice();
  ASSERT_TRUE(device->Open("COM1", {}));
  const std::string block(4096, 'x');
  bool taken = true;
  for (int i = 0; i < 64 && taken; ++i) taken = Write(*device, block, 20);
  EXPECT_FALSE(taken);  // the buffer filled and stayed full for 20 ms
  // A purge drops what waits, and the line takes frames again.
  pty_.Read(1 << 20, 50);
  EXPECT_TRUE(device->Purge());
  EXPECT_TRUE(Write(*device, "M01007B\x03", 20));
}

TEST_F(PosixSerialTest, AVanishedDeviceIsOpenedAgainAtMostOnceASecond) {
  UseVirtualTime();
  auto device = platform::NewPosixSerialDevice();
  ASSERT_TRUE(device->Open("COM1", {}));
  ASSERT_TRUE(Write(*device, "one"));
  EXPECT_EQ(pty_.Read(3), "one");

  pty_.Close();  // the adapter is unplugged
  EXPECT_FALSE(Write(*device, "two"));
  EXPECT_EQ(Count("close"), 1);
  const int opens = Count("open");
  SetNowUs(NowUs() + 999999);
  EXPECT_FALSE(device->Purge());
  EXPECT_FALSE(Write(*device, "two"));
  EXPECT_EQ(Count("open"), opens);

  SetNowUs(NowUs() + 1);
  EXPECT_FALSE(device->Purge());  // tried: its device node is gone
  EXPECT_EQ(Count("open"), opens + 1);
  SetNowUs(NowUs() + 500000);
  EXPECT_FALSE(device->Purge());
  EXPECT_EQ(Count("open"), opens + 1);

  Pty replugged;
  Map(1, replugged.slave());
  SetNowUs(NowUs() + 500000);
  EXPECT_TRUE(device->Purge());
  EXPECT_TRUE(Write(*device, "three"));
  EXPECT_EQ(replugged.Read(5), "three");
}

// A port opened through its port-map entry stays on that entry, and one opened as the on-board
// port stays there: a reopen never moves a running line to another device.
TEST_F(PosixSerialTest, AReopenKeepsThePathThePortWasOpenedWith) {
  UseVirtualTime();
  const std::string entry = ports_.File("com1");
  for (bool mapped : {true, false}) {
    SCOPED_TRACE(mapped ? "mapped" : "on-board");
    const std::string path = mapped ? entry : "/dev/ttyS0";
    auto first = std::make_unique<Pty>();
    {
      std::lock_guard<std::mutex> lock(script_.mutex);
      script_.opened.clear();
      script_.redirected = {{"/dev/ttyS0", first->slave()}};
    }
    if (mapped) {
      Map(1, first->slave());
    } else {
      unlink(entry.c_str());
    }
    auto device = platform::NewPosixSerialDevice();
    ASSERT_TRUE(device->Open("COM1", {}));
    EXPECT_FALSE(device->TakeReturned());

    // The meter on the line exits and takes its link (or the adapter goes); a new link appears
    // where there was none.
    first.reset();
    if (mapped) {
      unlink(entry.c_str());
    } else {
      Map(1, "/nonexistent/ttyUSB0");
    }
    EXPECT_FALSE(Write(*device, "lost"));
    SetNowUs(NowUs() + 1000000);
    EXPECT_EQ(device->Purge().fault, platform::SerialFault::kNotFound);

    // The same path comes back: the device follows it.
    Pty second;
    if (mapped) {
      Map(1, second.slave());
    } else {
      std::lock_guard<std::mutex> lock(script_.mutex);
      script_.redirected["/dev/ttyS0"] = second.slave();
    }
    SetNowUs(NowUs() + 1000000);
    ASSERT_TRUE(device->Purge());
    EXPECT_TRUE(device->TakeReturned());
    EXPECT_FALSE(device->TakeReturned());
    EXPECT_TRUE(Write(*device, "back"));
    EXPECT_EQ(second.Read(4), "back");
    std::lock_guard<std::mutex> lock(script_.mutex);
    EXPECT_EQ(script_.opened, (std::vector<std::string>{path, path, path}));
  }
}

// Things that open but are no serial line would take every frame as sent.
TEST_F(PosixSerialTest, WhatIsNoTerminalIsRefused) {
  const std::string file = ports_.File("file");
  const std::string fifo = ports_.File("fifo");
  { std::ofstream(file) << ""; }
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string target;
    int error;  // what tcgetattr answers
  } cases[] = {{"/dev/null", ENOTTY},
               {file, ENOTTY},
               {"/dev/zero", ENOTTY},
               {fifo, ENOTTY},
               {"/dev/urandom", EINVAL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    Map(1, c.target);
    Faults().Reset();
    auto device = platform::NewPosixSerialDevice();
    platform::SerialResult r = device->Open("COM1", {});
    EXPECT_EQ(r.fault, platform::SerialFault::kNotSerialDevice);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(Count("close"), 1);
    EXPECT_FALSE(Write(*device, "(01)123\r"));
  }
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
}

TEST_F(PosixSerialTest, AHangUpOrADeviceErrorCountsAsGone) {
  const struct {
    std::string call;
    int error;
    short revents;
  } cases[] = {
      {"write", ENXIO, 0}, {"write", ENODEV, 0},       {"write", EAGAIN, POLLHUP},
      {"tcflush", EIO, 0}, {"ioctl TIOCMGET", EIO, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call + " " + std::to_string(c.error));
    auto device = platform::NewPosixSerialDevice();
    ASSERT_TRUE(device->Open("COM1", {}));
    {
      std::lock_guard<std::mutex> lock(script_.mutex);
      Faults().Set({{c.call, 1, c.error}});
      script_.poll_revents = c.revents;
    }
    device->Purge();
    device->Cts();
    Write(*device, "x");
    EXPECT_EQ(Count("close"), 1);
    {
      std::lock_guard<std::mutex> lock(script_.mutex);
      script_.poll_revents = 0;
    }
    pty_.Read(1, 10);
  }
}

}  // namespace
}  // namespace veldrane::test
