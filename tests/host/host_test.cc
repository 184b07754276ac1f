// The reference host's tag database and event log, as the driver and the host runner use them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/dbm/tag_db_api.h"
#include "host/rt/event_log_api.h"
#include "platform/modules/module.h"
#include "tarko/host_tables.h"
#include "tarko/tagval.h"
#include "tests/support/deadline.h"
#include "tests/support/temp_dir.h"

namespace {

// Both modules export a table named FuncTable: look each up in its own module, as the driver
// does (a plain load: with RTLD_NOLOAD glibc builds no search scope for the handle and dlsym
// may answer with the other module's table).
const TarkoFn* Table(const char* module) {
  const veldrane::platform::ModuleApi& modules = veldrane::platform::Modules();
  void* handle = modules.load(module);
  EXPECT_NE(handle, nullptr) << module;
  auto* table = static_cast<const TarkoFn*>(modules.find_export(handle, kFuncTableName));
  modules.free(handle);
  return table;
}

template <DbmSlot S>
SlotFn<S> Db() {
  static const TarkoFn* table = Table(kDbmModuleName);
  return GetSlot<S>(table);
}

struct Change {
  void* user;
  uint16_t type;
  double value;
};

std::vector<Change> TakeChanges(int32_t client) {
  std::vector<Change> out;
  std::unique_ptr<CTagChangeArray> changes(Db<kDbGetChanges>()(client));
  if (!changes) return out;
  for (int32_t i = 0; i < changes->GetSize(); ++i) {
    std::unique_ptr<TagChangeRecord> record(changes->GetAt(i));
    out.push_back({record->user_data, record->value.GetType(), record->value.GetVal()});
  }
  return out;
}

class TagDbTest : public ::testing::Test {
 protected:
  void SetUp() override { TagDbReset(); }
  void TearDown() override { TagDbReset(); }
};

TEST_F(TagDbTest, FindAdviseAndNewestValuePerSubscription) {
  ASSERT_EQ(TagDbDefine("FLOW1", kTagTypeAnalog), 0);
  ASSERT_EQ(TagDbDefine("LEVEL", kTagTypeNone), 1);
  EXPECT_EQ(TagDbDefine("FLOW1", kTagTypeAnalog), 0);
  int32_t client = Db<kDbOpenClient>()();
  ASSERT_GE(client, 0);
  EXPECT_EQ(Db<kDbFindTag>()(client, "FLOW1"), 0);
  EXPECT_EQ(Db<kDbFindTag>()(client, "flow1"), -1);
  EXPECT_EQ(Db<kDbFindTag>()(client, "NOPE"), -1);

  int a = 0, b = 0;
  Db<kDbAdvise>()(client, 0, 1, &a);
  Db<kDbAdvise>()(client, 1, 1, &b);
  // The tag with a value is delivered at once; the one without is not.
  auto first = TakeChanges(client);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].user, &a);
  EXPECT_EQ(first[0].value, 0.0);
  EXPECT_EQ(Db<kDbGetChanges>()(client), nullptr);

  TagDbSet("FLOW1", 1.5, kTagTypeAnalog);
  TagDbSet("FLOW1", 2.5, kTagTypeAnalog);
  TagDbSet("LEVEL", 7, kTagTypeNone);
  auto changes = TakeChanges(client);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].user, &a);
  EXPECT_EQ(changes[0].value, 2.5);
  EXPECT_EQ(changes[1].user, &b);
  EXPECT_EQ(changes[1].type, kTagTypeNone);
  EXPECT_EQ(TagDbSet("NOPE", 1, kTagTypeAnalog), -1);
}

TEST_F(TagDbTest, ClientsAreCountedAndClosedClientsGetNothing) {
  TagDbDefine("T", kTagTypeAnalog);
  int32_t c1 = Db<kDbOpenClient>()();
  int32_t c2 = Db<kDbOpenClient>()();
  EXPECT_NE(c1, c2);
  Db<kDbAdvise>()(c1, 0, 1, nullptr);
  Db<kDbAdvise>()(c2, 0, 1, nullptr);
  EXPECT_EQ(TagDbOpenClientCount(), 2);
  EXPECT_EQ(TagDbSubscriptionCount(), 2);
  Db<kDbCloseClient>()(c1);
  EXPECT_EQ(TagDbOpenClientCount(), 1);
  EXPECT_EQ(TagDbClientsOpened(), 2);
  TagDbSet("T", 3, kTagTypeAnalog);
  EXPECT_EQ(Db<kDbGetChanges>()(c1), nullptr);
  EXPECT_EQ(TakeChanges(c2).size(), 1u);
  EXPECT_EQ(Db<kDbGetChanges>()(-1), nullptr);
  EXPECT_EQ(Db<kDbGetChanges>()(99), nullptr);
}

TEST_F(TagDbTest, WritersAndReadersOnTwoThreads) {
  TagDbDefine("T", kTagTypeAnalog);
  int32_t client = Db<kDbOpenClient>()();
  int station = 0;
  Db<kDbAdvise>()(client, 0, 1, &station);
  std::thread writer([] {
    for (int i = 1; i <= 2000; ++i) TagDbSet("T", i, kTagTypeAnalog);
  });
  double last = -1;
  for (veldrane::test::Deadline deadline; last < 2000 && !deadline.Passed();) {
    for (const Change& c : TakeChanges(client)) {
      EXPECT_GT(c.value, last);  // never an older value after a newer one
      last = c.value;
    }
  }
  writer.join();
  EXPECT_EQ(last, 2000) << "the last value did not arrive within 20 s";
}

TEST(EventLog, KeepsLinesWritesTheFileAndTellsListeners) {
  auto log_write = GetSlot<kLogWrite>(Table(kRtModuleName));
  veldrane::test::TempDir dir;
  const std::string log = dir.File("event.log");
  const char* path = log.c_str();
  EventLogClear();
  ASSERT_EQ(EventLogOpenFile(path), 0);
  std::vector<std::string> heard;
  EventLogSetListener(
      [](int32_t, int32_t level_word, const char* line, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(std::to_string(level_word) +
                                                                   " " + line);
      },
      &heard);
  log_write(3, 0x102, "[VELDRANE] \xC5\xEB\xBD\xC5\xBD\xC3\xC0\xDB");
  log_write(3, 0x100, "second");
  EventLogSetListener(nullptr, nullptr);
  EXPECT_EQ(EventLogOpenFile(nullptr), 0);

  ASSERT_EQ(EventLogCount(), 2);
  int32_t category = 0, level_word = 0;
  char small[8];
  EXPECT_EQ(EventLogGet(0, &category, &level_word, small, sizeof small), 19);
  EXPECT_EQ(category, 3);
  EXPECT_EQ(level_word, 0x102);
  EXPECT_STREQ(small, "[VELDRA");  // cut to the buffer, terminated
  EXPECT_EQ(EventLogGet(2, nullptr, nullptr, nullptr, 0), -1);
  EXPECT_EQ(heard, (std::vector<std::string>{"258 [VELDRANE] \xC5\xEB\xBD\xC5\xBD\xC3\xC0\xDB",
                                             "256 second"}));

  // The file has the raw bytes after the timestamp and the level word.
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  EXPECT_NE(text.find(" 0x102 [VELDRANE] \xC5\xEB\xBD\xC5\xBD\xC3\xC0\xDB\n"), std::string::npos);
  EXPECT_NE(text.find(" 0x100 second\n"), std::string::npos);
  EXPECT_EQ(EventLogOpenFile("/nonexistent/dir/log"), -1);
}

}  // namespace
