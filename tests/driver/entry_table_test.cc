// The host's road: Veldrane.so loaded as a host loads it, a real configuration file opened with
// DrvOpen, and the per-station slots that need no engine. This test links no driver code: the
// driver's classes live in the loaded module alone, as in a host.
//
// The event log is opened with dlopen too, not linked: TarkoDbm.so and TarkoRt.so both export a
// table named FuncTable, and a module linked into the program would lend its table to the other.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <mutex>

#include "fw/cstring.h"
#include "host/loader/driver_module.h"
#include "host/rt/event_log_api.h"
#include "tarko/host_tables.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace veldrane::test {
namespace {

const std::string kGak = "\x81\x41";  // 갂
const std::string kGat = "\x81\x61";  // 갵
// Message 5 in code page 949: "지정된 파일[%s]을 열 수 없습니다."
const std::string kMessage5Start = "[VELDRANE] \xC1\xF6\xC1\xA4\xB5\xC8 \xC6\xC4\xC0\xCF[";

class EntryTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(driver_.Load(VELDRANE_SO, &error)) << error;
    // The same module the driver loads by name.
    event_log_ = dlopen(kRtModuleName, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(event_log_, nullptr) << dlerror();
    set_listener_ =
        reinterpret_cast<decltype(&EventLogSetListener)>(dlsym(event_log_, "EventLogSetListener"));
    ASSERT_NE(set_listener_, nullptr);
  }
  // The event log stays loaded to the end of the process, as in a host: its log lives as long.
  static void TearDownTestSuite() { driver_.Unload(); }

  void SetUp() override {
    set_listener_(
        [](int32_t, int32_t level_word, const char* line, void* context) {
          auto* self = static_cast<EntryTableTest*>(context);
          std::lock_guard<std::mutex> lock(self->mutex_);
          self->lines_.push_back({level_word, line});
        },
        this);
    file_ = dir_.File("line1.cfg");
    WriteFile(file_, FileBytes({{"PUMP1", "", 3, 12, 2, "FLOW1"},
                                {kGak, "", 0, 1, 0, "TAG_GAK"},
                                {kGat, "", 0, 2, 0, "TAG_GAT"}}));
  }
  void TearDown() override { set_listener_(nullptr, nullptr); }

  static host::DriverModule driver_;
  static void* event_log_;
  static decltype(&EventLogSetListener) set_listener_;
  TempDir dir_;
  std::string file_;
  std::mutex mutex_;
  std::vector<std::pair<int32_t, std::string>> lines_;
};

host::DriverModule EntryTableTest::driver_;
void* EntryTableTest::event_log_ = nullptr;
decltype(&EventLogSetListener) EntryTableTest::set_listener_ = nullptr;

TEST_F(EntryTableTest, OpenAndAskForStations) {
  int32_t index = driver_.Open(file_.c_str());
  ASSERT_GE(index, 0);
  CString number("untouched"), tag("untouched");
  driver_.GetStationInfo(index, "pump1", &number, &tag);
  EXPECT_EQ(number, "12");
  EXPECT_EQ(tag, "FLOW1");
  // Korean names compare as whole characters: 갂 and 갵 are two stations.
  driver_.GetStationInfo(index, kGat.c_str(), &number, &tag);
  EXPECT_EQ(number, "2");
  EXPECT_EQ(tag, "TAG_GAT");
  driver_.GetStationInfo(index, kGak.c_str(), &number, &tag);
  EXPECT_EQ(number, "1");

  CString n2("untouched"), t2("untouched");
  driver_.GetStationInfo(index, "nobody", &n2, &t2);
  driver_.GetStationInfo(index, nullptr, &n2, &t2);
  driver_.GetStationInfo(index + 1000, "PUMP1", &n2, &t2);
  EXPECT_EQ(n2, "untouched");
  EXPECT_EQ(t2, "untouched");

  // Resets need no engine and take any name, known or not.
  driver_.ResetStats(index, nullptr);
  driver_.ResetStats(index, "pump1");
  driver_.ResetStats(index, "nobody");
  driver_.ResetStats(-1, nullptr);
}

TEST_F(EntryTableTest, FailedOpensReportMessage5AndTakeNoIndex) {
  int32_t first = driver_.Open(file_.c_str());
  ASSERT_GE(first, 0);

  std::string damaged = dir_.File("damaged.cfg");
  WriteFile(damaged, ReadFile(file_).substr(0, 60));
  std::string other_kind = dir_.File("other.cfg");
  WriteFile(other_kind, HeaderBytes(4) + BodyBytes({}));
  // What is not a regular file is refused before it is opened: a FIFO would wait for a writer.
  std::string fifo = dir_.File("fifo.cfg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string fifo_link = dir_.File("fifo-link.cfg");
  ASSERT_EQ(symlink(fifo.c_str(), fifo_link.c_str()), 0);
  for (const std::string& path : {dir_.File("missing.cfg"), damaged, other_kind, dir_.path(), fifo,
                                  fifo_link, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.clear();
    }
    auto open = std::async(std::launch::async, [&] { return driver_.Open(path.c_str()); });
    if (open.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // A writer releases an open that waits on the FIFO, so that the test can end.
      int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      open.wait();
      if (writer >= 0) ::close(writer);
      ADD_FAILURE() << "DrvOpen waited on " << path;
      continue;
    }
    EXPECT_EQ(open.get(), -1);
    std::lock_guard<std::mutex> lock(mutex_);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].first, 0x100);  // level 0
    EXPECT_EQ(lines_[0].second.rfind(kMessage5Start + path + "]", 0), 0u) << lines_[0].second;
  }
  EXPECT_EQ(driver_.Open(file_.c_str()), first + 1);
}

}  // namespace
}  // namespace veldrane::test
