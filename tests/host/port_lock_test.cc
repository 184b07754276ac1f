// The runner's port locks: what names a port's lock, and how a lock file found in the folder is
// judged (held, left by a process that ended, kept by a program that does not lock files).
#include "host/runner/lines/port_lock.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using veldrane::host::PortLock;
using veldrane::host::PortLockNames;
using Outcome = PortLock::Outcome;

std::string Pid(long pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", pid);
  return text;
}

std::string Read(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A device server's two spellings share their lock; a device is named as serial programs do.
TEST(PortLock, NamesFollowWhatThePortLeadsTo) {
  veldrane::test::TempDir dir;
  const struct {
    const char* entry;
    const char* target;
  } links[] = {{"com1", "tcp://localhost:4001"},
               {"com2", "rfc2217://127.0.0.1:4001"},
               {"com3", "/dev/null"},
               {"com4", "/nonexistent/ttyUSB9"},
               {"com5", "tcp://[::ffff:127.0.0.1]:4001"}};
  for (const auto& l : links) ASSERT_EQ(::symlink(l.target, dir.File(l.entry).c_str()), 0);
  ASSERT_EQ(::setenv("VELDRANE_PORTS", dir.path().c_str(), 1), 0);
  const std::string v4 = "LCK..veldrane-net-127.0.0.1-4001";
  const std::vector<std::string> by_name = PortLockNames("COM1");  // ::1 as well, maybe
  EXPECT_NE(std::find(by_name.begin(), by_name.end(), v4), by_name.end());
  EXPECT_EQ(PortLockNames("COM2"), std::vector<std::string>{v4});
  EXPECT_EQ(PortLockNames("COM5"), std::vector<std::string>{v4});
  EXPECT_EQ(PortLockNames("COM3"), std::vector<std::string>{"LCK..null"});
  EXPECT_TRUE(PortLockNames("COM4").empty());
  ::unsetenv("VELDRANE_PORTS");
}

TEST(PortLock, AFileFoundIsJudgedByItsHolder) {
  // A process that has ended, for a file it left.
  pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const struct {
    const char* what;
    std::string content;  // empty: no file
    bool flocked;         // another open of the file holds its flock
    Outcome outcome;
  } cases[] = {
      {"no file", "", false, Outcome::kTaken},
      {"left by a process that ended", Pid(ended), false, Outcome::kTaken},
      {"kept without flock by a live process", Pid(::getppid()), false, Outcome::kBusy},
      // A runner's file without its flock is left over, though its number now names another.
      {"left by a runner whose number was reused", Pid(::getppid()) + "veldrane-host\n", false,
       Outcome::kTaken},
      {"held with flock", Pid(4242), true, Outcome::kBusy},
      {"held with flock, not yet written", "", true, Outcome::kBusy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    veldrane::test::TempDir dir;
    const std::string path = dir.File("LCK..ttyS0");
    int holder = -1;
    if (!c.content.empty() || c.flocked) {
      std::ofstream(path) << c.content;
      holder = ::open(path.c_str(), O_RDONLY);
      if (c.flocked) {
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);
      }
    }
    PortLock lock;
    std::string text;
    EXPECT_EQ(lock.Take(dir.path(), "LCK..ttyS0", &text), c.outcome) << text;
    if (c.outcome == Outcome::kTaken) {
      EXPECT_EQ(Read(path), Pid(::getpid()) + "veldrane-host\n");
      lock.Release();
      EXPECT_NE(::access(path.c_str(), F_OK), 0) << "not removed";
    } else {
      EXPECT_NE(text.find(path), std::string::npos) << text;
      const std::string content = c.content.empty() ? "a process" : c.content.substr(0, 10);
      const long pid = std::atol(content.c_str());
      EXPECT_NE(text.find(pid > 0 ? "process " + std::to_string(pid) : content), std::string::npos)
          << text;
      EXPECT_EQ(Read(path), c.content) << "the holder's file was changed";
    }
    if (holder >= 0) ::close(holder);
  }
  PortLock lock;
  std::string text;
  EXPECT_EQ(lock.Take("/nonexistent", "LCK..ttyS0", &text), Outcome::kNoLock);
  EXPECT_NE(text.find("/nonexistent/LCK..ttyS0"), std::string::npos) << text;
}

}  // namespace
