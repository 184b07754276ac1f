#include "host/runner/value_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "host/runner/value_lines.h"
#include "platform/cp949.h"

namespace veldrane::host {

void ReadValueFile(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<bool(const std::string&, double)>& apply) {
  bool is_stdin = path == "-";
  struct stat st {};
  bool is_fifo = !is_stdin && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  long line_number = 0;
  while (!stop.load()) {
    int fd = is_stdin ? 0 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "veldrane-host: cannot open %s: %s\n", path.c_str(),
                   std::strerror(errno));
      return;
    }
    LineSplitter splitter;
    auto on_line = [&](const std::string& text, bool too_long) {
      ++line_number;
      ValueLine line = too_long
                           ? ValueLine{ValueLine::kError, "", 0, "line longer than 4096 characters"}
                           : ParseValueLine(text);
      if (line.kind == ValueLine::kError) {
        std::fprintf(stderr, "veldrane-host: %s line %ld: %s (ignored)\n", path.c_str(),
                     line_number, line.error.c_str());
      } else if (line.kind == ValueLine::kValue) {
        if (!apply(line.tag, line.value)) {
          std::fprintf(stderr, "veldrane-host: %s line %ld: no station shows tag '%s' (ignored)\n",
                       path.c_str(), line_number, platform::Cp949ToUtf8(line.tag).c_str());
        }
      }
    };
    bool writer_seen = false;
    while (!stop.load()) {
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, 200);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      char buffer[4096];
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        writer_seen = true;
        splitter.Feed(buffer, static_cast<size_t>(n), on_line);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // End of data: a FIFO without writer reads as the end too.
      if (is_fifo && !writer_seen) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      break;
    }
    splitter.Finish(on_line);
    if (!is_stdin) ::close(fd);
    if (!is_fifo) return;
  }
}

}  // namespace veldrane::host
