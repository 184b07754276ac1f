// The runner's value reader on a FIFO whose writers come and go, and its table of stations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/runner/inputs/value_reader.h"
#include "host/runner/outputs/station_table.h"
#include "platform/report_limit.h"

namespace {

using veldrane::host::ReadValueFile;

void WriteAll(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

// A source that ends for good, or fails, is said once, with what was read.
TEST(ValueReader, TheEndOfASourceIsSaidOnce) {
  char dir[] = "/tmp/veldrane-end-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/values.txt";
  {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(write(fd, "A 1\nB 2\n", 8), 8);
    close(fd);
  }
  const struct {
    std::string path;
    std::string said;
  } cases[] = {
      {file, file + ": no more values after 2 lines; the meters keep their values\n"},
      {dir, std::string(dir) + ": reading failed (Is a directory) after 0 lines"},
  };
  for (const auto& c : cases) {
    std::atomic<bool> stop{false};
    testing::internal::CaptureStderr();
    ReadValueFile(c.path, stop, [](const std::string&, double) { return true; });
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    EXPECT_EQ(said.find("veldrane-host"), said.rfind("veldrane-host")) << said;
  }
  unlink(file.c_str());
  rmdir(dir);
}

TEST(ValueReader, FifoWritersComeAndGoAndBadLinesAreNamed) {
  char dir[] = "/tmp/veldrane-fifo-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string fifo = std::string(dir) + "/values";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::mutex mutex;
  std::vector<std::string> applied;
  std::atomic<bool> stop{false};
  testing::internal::CaptureStderr();
  std::thread reader([&] {
    ReadValueFile(fifo, stop, [&](const std::string& tag, double value) {
      std::lock_guard<std::mutex> lock(mutex);
      applied.push_back(tag + "=" + std::to_string(static_cast<int>(value)));
      return tag != "NOPE";
    });
  });
  WriteAll(fifo, "A 1\n");               // first writer, then gone
  WriteAll(fifo, "B 2\nbad\nNOPE 3\n");  // a second one, later
  for (int i = 0; i < 300; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (applied.size() == 3) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop = true;
  reader.join();
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(applied, (std::vector<std::string>{"A=1", "B=2", "NOPE=3"}));
  // Line numbers count across writers.
  EXPECT_NE(errors.find(fifo + " line 3: expected 'TAG VALUE', found no value after 'bad'"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find(fifo + " line 4: no station shows tag 'NOPE' (ignored)"), std::string::npos)
      << errors;
  unlink(fifo.c_str());
  rmdir(dir);
}

TEST(ValueReader, AFileIsReadToItsEndAndAMissingOneIsReported) {
  char path[] = "/tmp/veldrane-values-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string text = "T 1.5\n# comment\nT 2.5";  // no line end on the last line
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  std::atomic<bool> stop{false};
  std::vector<double> values;
  ReadValueFile(path, stop, [&](const std::string&, double v) {
    values.push_back(v);
    return true;
  });
  EXPECT_EQ(values, (std::vector<double>{1.5, 2.5}));
  unlink(path);

  testing::internal::CaptureStderr();
  ReadValueFile("/nonexistent/values", stop, [](const std::string&, double) { return true; });
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open /nonexistent/values"),
            std::string::npos);
}

TEST(ValueReader, AFloodOfBadLinesIsReportedAtABoundedRateAndAByteOrderMarkIsSkipped) {
  char path[] = "/tmp/veldrane-values-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string text = "\xEF\xBB\xBFT 1.5\n";
  for (int i = 0; i < 100000; ++i) text += "noise " + std::to_string(i) + " x\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  std::atomic<bool> stop{false};
  std::vector<std::string> tags;
  testing::internal::CaptureStderr();
  ReadValueFile(path, stop, [&](const std::string& tag, double) {
    tags.push_back(tag);
    return true;
  });
  std::string errors = testing::internal::GetCapturedStderr();
  unlink(path);
  EXPECT_EQ(tags, std::vector<std::string>{"T"});
  EXPECT_LE(std::count(errors.begin(), errors.end(), '\n'), 12) << errors.substr(0, 2000);
  EXPECT_NE(errors.find("line 2: expected 'TAG VALUE', found more after the value"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("99990 more bad lines not shown"), std::string::npos) << errors;
}

TEST(ReportLimit, TheFirstFewInFullThenACountPerInterval) {
  using std::chrono::seconds;
  using veldrane::platform::ReportLimit;
  ReportLimit limit(2, seconds(10));
  ReportLimit::Clock::time_point t0{};
  // Time of each report, whether it is shown in full, and the count due before it.
  struct Step {
    int at;
    bool full;
    uint64_t uncounted;
  };
  const Step steps[] = {
      {100, true, 0},  {100, true, 0},  {101, false, 0},
      {105, false, 0}, {110, false, 2},  // the interval is over: a count, and still flooding
      {115, false, 0}, {121, false, 2},  // one count per interval while the flood lasts
      {200, true, 1},                    // a quiet spell: the rest, then in full again
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at);
    auto now = t0 + seconds(step.at);
    EXPECT_EQ(limit.TakeUncounted(now), step.uncounted);
    EXPECT_EQ(limit.Take(now), step.full);
  }
  EXPECT_EQ(limit.TakeUncounted(t0 + seconds(200), true), 0u);
}

TEST(StationTable, ColumnsLineUpWithHangulTwoColumnsWide) {
  std::vector<veldrane::host::StationRow> rows = {
      {"\xC0\xAF\xB7\xAE\xB0\xE8"
       "1",
       0, 1, 1, "FLOW1"},  // 유량계1
      {"PRESSURE", 5, 200, 0, ""},
  };
  veldrane::host::LineWatch watch(rows);
  watch.Update([](const auto& row) {
    veldrane::host::StationStatus st;
    st.sent = 7;
    st.failed = row.kind == 5 ? 7 : 0;
    st.result = row.kind == 5 ? 1 : 0;
    st.has_value = !row.tag.empty();
    st.value = 12.25;
    return st;
  });
  std::string table = veldrane::host::FormatStationTable(watch);
  std::istringstream lines(table);
  std::string header, first, second;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_NE(first.find("\xEC\x9C\xA0\xEB\x9F\x89\xEA\xB3\x84"
                       "1"),
            std::string::npos);                       // UTF-8
  EXPECT_NE(first.find("12.25"), std::string::npos);  // the value as sent, not re-rounded
  EXPECT_NE(second.find("LOST"), std::string::npos);  // seven frames failed of seven
  // The meter column starts at the same screen column on every line.
  auto column_of = [](const std::string& line, const std::string& word) {
    size_t bytes = line.find(word), cols = 0;
    for (size_t i = 0; i < bytes;) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      size_t n = c < 0x80 ? 1 : c >= 0xE0 ? 3 : 2;
      cols += n == 3 ? 2 : 1;
      i += n;
    }
    return cols;
  };
  EXPECT_EQ(column_of(header, "meter"), column_of(first, "DPM"));
  EXPECT_EQ(column_of(header, "meter"), column_of(second, "C&M"));
}

// The live view keeps to the terminal: every station while they fit; else the stations that
// need the integrator's eye first, on whichever line they are, and a count of the rest.
TEST(StationTable, TheLiveViewShowsWhatIsWrongFirstWhenNotAllFits) {
  using veldrane::host::LineWatch;
  auto line = [](const std::string& prefix, size_t n, size_t failing_at) {
    std::vector<veldrane::host::StationRow> rows;
    for (size_t i = 0; i < n; ++i) rows.push_back({prefix + std::to_string(i), 1, 1, 0, "T"});
    auto watch = std::make_unique<LineWatch>(rows);
    watch->Update([&](const veldrane::host::StationRow& row) {
      veldrane::host::StationStatus st;
      st.result = row.name == prefix + std::to_string(failing_at) ? 1 : 0;
      st.sent = st.failed = st.result;
      return st;
    });
    return watch;
  };
  auto first = line("A", 20, 99), second = line("B", 20, 17);
  std::vector<veldrane::host::LiveLine> lines = {
      {"a.cfg (COM1)", first.get(), ""},
      {"b.cfg (COM2)", second.get(), ""},
      {"c.cfg", nullptr, "not run: the port did not open"}};
  auto count = [](const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  std::string all = veldrane::host::FormatLiveLines(lines, 100);
  EXPECT_EQ(count(all, "\n"), 1 + 3 + 40u) << all;
  EXPECT_EQ(count(all, "not shown"), 0u);

  std::string fitted = veldrane::host::FormatLiveLines(lines, 14);
  EXPECT_EQ(count(fitted, "\n"), 14u) << fitted;
  EXPECT_NE(fitted.find("B17 "), std::string::npos) << fitted;  // failing, on the second line
  EXPECT_NE(fitted.find("b.cfg (COM2): 20 stations: 19 ok, 1 FAILING; 1 sent, 1 failed"),
            std::string::npos)
      << fitted;
  EXPECT_NE(fitted.find("c.cfg: not run: the port did not open"), std::string::npos) << fitted;
  // The eight rows left are shared: the failing one, then the others by turns.
  EXPECT_EQ(count(fitted, "\n    ... 16 more stations not shown"), 2u) << fitted;
}

}  // namespace
