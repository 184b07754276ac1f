// The runner's lines for the journal: which stream is the journal's, and each event's priority.
#include "host/runner/outputs/console_lines.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "hostlink/report.h"
#include "hostlink/texts.h"

namespace veldrane::test {
namespace {

using host::Priority;

std::string Message(int index, const char* text = "S1") {
  char line[256];
  std::snprintf(line, sizeof line, texts::kMessages[index], text);
  return std::string(kReportPrefix) + line;
}

TEST(ConsoleLines, GivesEachEventItsPriority) {
  const struct {
    int level;
    std::string line;
    Priority priority;
  } cases[] = {
      {0, Message(4, "/dev/ttyS0"), Priority::kError},  // port not opened
      {0, Message(12, "FLOW1"), Priority::kError},      // tag not found
      {1, Message(8), Priority::kWarning},              // one frame failed
      {2, Message(1), Priority::kNotice},               // started
      {2, Message(10), Priority::kWarning},             // a station lost
      {2, Message(10, "]"), Priority::kWarning},        // whatever its name
      {2, Message(11), Priority::kNotice},              // a station back
      {2, Message(10).substr(std::string(kReportPrefix).size()), Priority::kNotice},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(host::EventPriority(c.level, c.line.c_str()), c.priority) << c.line;
  }
  EXPECT_EQ(host::EventPriority(2, nullptr), Priority::kNotice);
}

TEST(ConsoleLines, KnowsTheJournalByDeviceAndInode) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  struct stat st {};
  ASSERT_EQ(fstat(fds[1], &st), 0);
  const std::string dev = std::to_string(st.st_dev), ino = std::to_string(st.st_ino);
  EXPECT_TRUE(host::IsJournalStream(fds[1], (dev + ":" + ino).c_str()));
  for (const std::string& other : {dev + ":" + std::to_string(st.st_ino + 1), dev + ":" + ino + "x",
                                   dev, ":" + ino, std::string()}) {
    EXPECT_FALSE(host::IsJournalStream(fds[1], other.c_str())) << other;
  }
  EXPECT_FALSE(host::IsJournalStream(fds[1], nullptr));
  EXPECT_FALSE(host::IsJournalStream(fds[0] + fds[1] + 100, (dev + ":" + ino).c_str()));
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace veldrane::test
