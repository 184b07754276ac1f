// The reference event log: keeps recent lines in memory, appends them to a file with a
// timestamp and the level word, and shows them on the console in UTF-8.
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "host/rt/event_log_api.h"
#include "platform/text/display_text.h"
#include "tarko/host_tables.h"

namespace {

constexpr size_t kKeptLines = 100000;

struct Entry {
  int32_t category;
  int32_t level_word;
  std::string line;
};

struct Log {
  std::mutex mutex;
  std::deque<Entry> entries;
  std::FILE* file = nullptr;
  std::string path;
  bool failing = false;  // the last write to the file failed (and that was said once)
  bool console = false;
  EventLogListener listener = nullptr;
  void* listener_context = nullptr;
};

// Never destroyed: a driver may still report while the process exits.
Log& TheLog() {
  static Log& log = *std::make_unique<Log>().release();
  return log;
}

std::string Timestamp() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  const std::time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &tm);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(tv.tv_usec / 1000));
  return buffer;
}

void LogWrite(int32_t category, int32_t level_word, const char* line) {
  if (!line) line = "";
  Log& log = TheLog();
  EventLogListener listener;
  void* context;
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    log.entries.push_back({category, level_word, line});
    if (log.entries.size() > kKeptLines) log.entries.pop_front();
    std::string stamp = (log.file || log.console) ? Timestamp() : std::string();
    if (log.file) {
      errno = 0;
      std::fprintf(log.file, "%s 0x%03X %s\n", stamp.c_str(), static_cast<unsigned>(level_word),
                   line);
      bool failed = std::fflush(log.file) != 0 || std::ferror(log.file);
      if (failed && !log.failing) {
        // Once per run of failures: a full disk must not also flood the console.
        std::fprintf(stderr, "event log: cannot write to %s: %s (lines are lost until it works)\n",
                     veldrane::platform::DisplayInput(log.path).c_str(),
                     std::strerror(errno != 0 ? errno : EIO));
      }
      if (failed) std::clearerr(log.file);
      log.failing = failed;
    }
    if (log.console) {
      std::string text = veldrane::platform::DisplayCp949(line);
      std::fprintf(stderr, "%s 0x%03X %s\n", stamp.c_str(), static_cast<unsigned>(level_word),
                   text.c_str());
    }
    listener = log.listener;
    context = log.listener_context;
  }
  if (listener) listener(category, level_word, line, context);
}

}  // namespace

extern "C" {

// Filled when the module is loaded.
TARKO_API TarkoFn FuncTable[kHostTableSize] = {};

int32_t EventLogOpenFile(const char* path) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  if (log.file) std::fclose(log.file);
  log.file = nullptr;
  log.failing = false;
  if (!path) return 0;
  log.file = std::fopen(path, "ab");
  log.path = path;
  return log.file ? 0 : -1;
}

void EventLogSetConsole(int32_t on) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.console = on != 0;
}

void EventLogSetListener(EventLogListener listener, void* context) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.listener = listener;
  log.listener_context = context;
}

int32_t EventLogCount(void) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  return static_cast<int32_t>(log.entries.size());
}

int32_t EventLogGet(int32_t i, int32_t* category, int32_t* level_word, char* buffer,
                    int32_t capacity) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  if (i < 0 || static_cast<size_t>(i) >= log.entries.size()) return -1;
  const Entry& e = log.entries[static_cast<size_t>(i)];
  if (category) *category = e.category;
  if (level_word) *level_word = e.level_word;
  if (buffer && capacity > 0) {
    size_t n = std::min(e.line.size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buffer, e.line.data(), n);
    buffer[n] = 0;
  }
  return static_cast<int32_t>(e.line.size());
}

void EventLogClear(void) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.entries.clear();
}

}  // extern "C"

namespace {

__attribute__((constructor)) void FillFuncTable() {
  SetSlot<kLogWrite>(FuncTable, &LogWrite);
}

}  // namespace
