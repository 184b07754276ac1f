#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "host/runner/inputs/value_source.h"

namespace veldrane::host {
namespace {

class FdSource final : public ValueSource {
 public:
  FdSource(int fd, bool is_stdin, bool is_fifo) : fd_(fd), is_stdin_(is_stdin), is_fifo_(is_fifo) {}
  ~FdSource() override {
    if (!is_stdin_) ::close(fd_);
  }

  Read ReadSome(char* buffer, size_t size, size_t* n) override {
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, 200);
    if (r < 0 && errno != EINTR) return Fail();
    if (r <= 0) return Read::kIdle;
    ssize_t got = ::read(fd_, buffer, size);
    if (got > 0) {
      writer_seen_ = true;
      *n = static_cast<size_t>(got);
      return Read::kData;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return Read::kIdle;
    if (got < 0) return Fail();
    // End of data: a FIFO without writer reads as the end too.
    if (is_fifo_ && !writer_seen_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return Read::kIdle;
    }
    return Read::kEnd;
  }

  bool Reopens() const override { return is_fifo_; }
  std::string Failure() const override { return failure_; }

 private:
  Read Fail() {
    failure_ = std::strerror(errno);
    return Read::kEnd;
  }

  int fd_;
  bool is_stdin_;
  bool is_fifo_;
  bool writer_seen_ = false;
  std::string failure_;
};

}  // namespace

bool CheckValueSource(const std::string& path, std::string* error) {
  if (path == "-") return true;
  struct stat st {};
  const bool found = ::stat(path.c_str(), &st) == 0;
  if (found && S_ISDIR(st.st_mode)) {
    *error = "cannot read values from " + path + ": it is a directory";
    return false;
  }
  // A FIFO is not opened here: a writer already waiting would be let in, and lose what it
  // wrote (or be killed by SIGPIPE) when the check closed it again.
  if (found && S_ISFIFO(st.st_mode)) {
    if (::access(path.c_str(), R_OK) == 0) return true;
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

std::unique_ptr<ValueSource> OpenValueSource(const std::string& path, std::string* error) {
  bool is_stdin = path == "-";
  struct stat st {};
  bool is_fifo = !is_stdin && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  int fd = is_stdin ? 0 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<FdSource>(fd, is_stdin, is_fifo);
}

}  // namespace veldrane::host
