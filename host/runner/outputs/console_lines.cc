#include "host/runner/outputs/console_lines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "hostlink/report.h"
#include "hostlink/texts.h"

namespace veldrane::host {
namespace {

constexpr int kStationLost = 10;

bool g_journal[3] = {false, false, false};  // by file descriptor; set once before any thread

bool StartsWith(const std::string& text, const std::string& part) {
  return text.compare(0, part.size(), part) == 0;
}

bool EndsWith(const std::string& text, const std::string& part) {
  return text.size() >= part.size() &&
         text.compare(text.size() - part.size(), part.size(), part) == 0;
}

}  // namespace

bool IsJournalStream(int fd, const char* journal_stream) {
  if (!journal_stream) return false;
  uintmax_t device = 0, inode = 0;
  char end = 0;
  if (std::sscanf(journal_stream, "%ju:%ju%c", &device, &inode, &end) != 2) return false;
  struct stat st {};
  return fstat(fd, &st) == 0 && static_cast<uintmax_t>(st.st_dev) == device &&
         static_cast<uintmax_t>(st.st_ino) == inode;
}

Priority EventPriority(int level, const char* line) {
  if (level == 0) return Priority::kError;
  if (level == 1) return Priority::kWarning;
  const std::string format = texts::kMessages[kStationLost];
  const size_t name_at = format.find("%s");
  const std::string text = line ? line : "";
  if (StartsWith(text, kReportPrefix + format.substr(0, name_at)) &&
      EndsWith(text, format.substr(name_at + 2))) {
    return Priority::kWarning;
  }
  return Priority::kNotice;
}

void InitConsoleLines() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) g_journal[fd] = IsJournalStream(fd, stream);
}

bool OutputToJournal() {
  return g_journal[STDOUT_FILENO];
}

void PrintLines(std::FILE* out, Priority priority, const std::string& text) {
  const bool journal = g_journal[out == stderr ? STDERR_FILENO : STDOUT_FILENO];
  if (out == stderr) std::fflush(stdout);  // in the order they happened
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!journal) {
      std::fprintf(out, "%s\n", line.c_str());
    } else if (!line.empty()) {
      std::fprintf(out, "<%d>%s\n", static_cast<int>(priority), line.c_str());
    }
  }
  std::fflush(out);
}

void Tell(Priority priority, const std::string& text) {
  PrintLines(stderr, priority, "veldrane-host: " + text);
}

}  // namespace veldrane::host
