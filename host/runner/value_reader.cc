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
#include "platform/display_text.h"
#include "platform/report_limit.h"

namespace veldrane::host {

bool CheckValueSource(const std::string& path, std::string* error) {
  if (path == "-") return true;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool directory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  ::close(fd);
  if (directory) *error = "cannot read values from " + path + ": it is a directory";
  return !directory;
}

void ReadValueFile(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<bool(const std::string&, double)>& apply) {
  bool is_stdin = path == "-";
  struct stat st {};
  bool is_fifo = !is_stdin && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  long line_number = 0;
  const std::string shown_path = platform::DisplayInput(path);
  platform::ReportLimit limit;
  auto report_uncounted = [&](bool flush) {
    auto now = platform::ReportLimit::Clock::now();
    if (uint64_t n = limit.TakeUncounted(now, flush)) {
      std::fprintf(stderr, "veldrane-host: %s: %llu more bad lines not shown\n", shown_path.c_str(),
                   static_cast<unsigned long long>(n));
    }
  };
  auto report = [&](const std::string& message) {
    report_uncounted(false);
    if (!limit.Take(platform::ReportLimit::Clock::now())) return;
    std::fprintf(stderr, "veldrane-host: %s line %ld: %s (ignored)\n", shown_path.c_str(),
                 line_number, message.c_str());
  };
  while (!stop.load()) {
    int fd = is_stdin ? 0 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      report_uncounted(true);
      std::fprintf(stderr, "veldrane-host: cannot open %s: %s\n", shown_path.c_str(),
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
        report(line.error);
      } else if (line.kind == ValueLine::kValue) {
        if (!apply(line.tag, line.value)) {
          report("no station shows tag '" + platform::DisplayCp949(line.tag) + "'");
        }
      }
    };
    bool writer_seen = false;
    while (!stop.load()) {
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, 200);
      report_uncounted(false);
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
    if (!is_fifo) break;
  }
  report_uncounted(true);
}

}  // namespace veldrane::host
