// A pseudo-terminal for tests and benchmarks: the program under test opens the slave side by
// name (as a serial device or a mapped COM port); the test reads and writes the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace veldrane::test {

class TestPty {
 public:
  TestPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      std::abort();  // no pseudo-terminals: nothing here can be tested
    }
    slave_ = name;
  }
  ~TestPty() { Close(); }
  TestPty(const TestPty&) = delete;
  TestPty& operator=(const TestPty&) = delete;

  // Closing the master is what unplugging an adapter looks like to the slave's user.
  void Close() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  int master() const { return master_; }
  const std::string& slave() const { return slave_; }

  bool Write(const std::string& bytes) {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // What arrives until `count` bytes are there or `timeout_ms` has passed; `while_waiting`
  // runs between polls (a test's calls while the driver sends).
  template <typename Fn>
  std::string Read(size_t count, int timeout_ms, Fn while_waiting) {
    std::string bytes;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (bytes.size() < count && std::chrono::steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) {
        char buffer[256];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) bytes.append(buffer, static_cast<size_t>(n));
      }
      while_waiting();
    }
    return bytes;
  }
  std::string Read(size_t count, int timeout_ms = 2000) {
    return Read(count, timeout_ms, [] {});
  }

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace veldrane::test
