#include "hostlink/report.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "hostlink/texts.h"

namespace veldrane {
namespace {

std::atomic<LogWriteFn> g_log_write{nullptr};

// The message formats hold only %s placeholders. The first takes the text; any further one
// (messages 6 and 7 have two) takes the number in decimal, never an address read off the
// argument list.
std::string FormatMessage(const char* format, const char* text, int32_t number) {
  std::string out = kReportPrefix;
  int placeholder = 0;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      if (placeholder++ == 0) {
        out += text ? text : "(null)";
      } else {
        out += std::to_string(number);
      }
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      out += '%';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

void SetEventLog(LogWriteFn log_write) {
  g_log_write.store(log_write);
}

int32_t ReportMessage(int32_t index, int32_t level, const char* text, int32_t number) {
  LogWriteFn log_write = g_log_write.load();
  if (!log_write || index < 0 || static_cast<size_t>(index) >= texts::kMessageCount) {
    return index;
  }
  std::string line = FormatMessage(texts::kMessages[index], text, number);
  log_write(3, level | 0x100, line.c_str());
  return -index;
}

}  // namespace veldrane
