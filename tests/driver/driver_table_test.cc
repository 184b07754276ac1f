// A test host: loads the built driver module (dlopen or LoadLibrary, through the platform's
// module table), with the reference host modules on its search path, and calls the entry table
// as a host does.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fw/cstring.h"
#include "host/loader/driver_module.h"
#include "host/rt/event_log_api.h"
#include "platform/modules/module.h"
#include "tarko/host_tables.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

namespace {

using veldrane::host::DriverModule;

using veldrane::platform::ModuleIsLoaded;
using veldrane::platform::Modules;

std::string LogLine(int32_t i, int32_t* level_word) {
  char buffer[1024];
  int32_t n = EventLogGet(i, nullptr, level_word, buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer);
}

class DriverTable : public ::testing::Test {
 protected:
  void SetUp() override {
    EventLogClear();
    std::string error;
    ASSERT_TRUE(driver_.Load(VELDRANE_SO, &error)) << error;
  }
  void TearDown() override { driver_.Unload(); }
  DriverModule driver_;
};

TEST_F(DriverTable, ConstantSlotsBeforeAnyOpen) {
  EXPECT_EQ(driver_.GetVersion(), 0x00010000);
  EXPECT_EQ(driver_.Slot<kDrvQueryA>()(), 0);
  EXPECT_EQ(driver_.Slot<kDrvQueryB>()(), 1);
  EXPECT_STREQ(driver_.GetName(), "VELDRANE");
  driver_.Slot<kDrvHookA>()();
  driver_.Slot<kDrvHookB>()();
  for (int slot = 0; slot < kDrvTableSize; ++slot) {
    EXPECT_EQ(driver_.RawSlot(slot) != nullptr, slot < kDrvSlotCount) << "slot " << slot;
  }
  EXPECT_EQ(EventLogCount(), 0);
}

TEST_F(DriverTable, EveryInstanceSlotAnswersABadIndex) {
  // The registry is empty, so 0 is as bad as -1.
  for (int32_t index : {-1, 0, 1, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(driver_.OpenPort(index), 0);
    EXPECT_EQ(driver_.ResolveTags(index), 0);
    EXPECT_EQ(driver_.Stop(index), 0);
    EXPECT_EQ(driver_.Slot<kDrvRequest>()(index, 1, 2, 3, 4, 5), -1);
    EXPECT_EQ(driver_.Slot<kDrvNotify>()(index, 1, 2), 0);
    int32_t s = 7, f = 7, t = 7, u = 7;
    EXPECT_EQ(driver_.GetStats(index, nullptr, &s, &f, &t, &u), -1);
    EXPECT_EQ(driver_.GetStats(index, "A", &s, &f, &t, &u), -1);
    EXPECT_EQ(s + f + t + u, 28);
    driver_.SetActive(index, nullptr, 1);
    driver_.SetActive(index, "A", 0);
    driver_.ResetStats(index, nullptr);
    CString number("n"), tag("t");
    driver_.GetStationInfo(index, "A", &number, &tag);
    driver_.GetStationInfo(index, nullptr, &number, &tag);
    EXPECT_EQ(number, "n");
    EXPECT_EQ(tag, "t");
  }
  EXPECT_EQ(EventLogCount(), 0);
}

TEST_F(DriverTable, FailedOpenReportsMessage5AndRegistersNothing) {
  const char* path = "/nonexistent/dir/line1.cfg";
  EXPECT_EQ(driver_.Open(path), -1);
  ASSERT_EQ(EventLogCount(), 1);
  int32_t category = 0, level_word = 0;
  char buffer[256];
  EventLogGet(0, &category, &level_word, buffer, sizeof buffer);
  EXPECT_EQ(category, 3);
  EXPECT_EQ(level_word, 0x100);
  EXPECT_EQ(std::string(buffer),
            "[VELDRANE] \xC1\xF6\xC1\xA4\xB5\xC8 \xC6\xC4\xC0\xCF[/nonexistent/dir/line1.cfg]"
            "\xC0\xBB \xBF\xAD \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.");
  // Still no instance 0.
  int32_t s = 0, f = 0, t = 0, u = 0;
  EXPECT_EQ(driver_.GetStats(0, nullptr, &s, &f, &t, &u), -1);
  EXPECT_EQ(driver_.Open(nullptr), -1);
  int32_t lw = 0;
  EXPECT_EQ(LogLine(1, &lw).rfind("[VELDRANE] ", 0), 0u);
  EXPECT_EQ(lw, 0x100);
}

TEST_F(DriverTable, ConfigureFreesItsModulesAndSavesNothing) {
  // No display, so that no window opens whatever session runs the test.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    veldrane::test::UnsetEnvironment(name);
  }
  EXPECT_EQ(driver_.Configure("/nonexistent/line1.cfg"), 0);
  EXPECT_FALSE(ModuleIsLoaded(kEdModuleName));
  EXPECT_FALSE(ModuleIsLoaded(kTgModuleName));
}

TEST_F(DriverTable, UnloadRemovesTheModule) {
  EXPECT_EQ(driver_.Open("/nonexistent/a.cfg"), -1);
  driver_.Unload();
  EXPECT_FALSE(ModuleIsLoaded(VELDRANE_SO));
  // And it loads again with a fresh table.
  std::string error;
  ASSERT_TRUE(driver_.Load(VELDRANE_SO, &error)) << error;
  EXPECT_EQ(driver_.GetVersion(), 0x00010000);
}

// A host loads many drivers, each exporting DrvFuncTable, possibly into its global scope: each
// module must fill its own table.
TEST(DriverTableTwice, TwoDriversInOneProcessKeepTheirOwnTables) {
  veldrane::test::TempDir dir;
  std::string copy = dir.File("Other" TARKO_MODULE_SUFFIX);
  veldrane::test::WriteFile(copy, veldrane::test::ReadFile(VELDRANE_SO));
  auto first = Modules().load(VELDRANE_SO);
  auto second = Modules().load(copy.c_str());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr) << veldrane::platform::LastModuleError();
  auto* table1 = static_cast<DrvFn*>(Modules().find_export(first, kDrvTableName));
  auto* table2 = static_cast<DrvFn*>(Modules().find_export(second, kDrvTableName));
  ASSERT_NE(table1, table2);
  // Each slot points into its own module.
  EXPECT_NE(veldrane::platform::ModuleFolderOf(reinterpret_cast<void*>(table1[kDrvOpen])),
            veldrane::platform::ModuleFolderOf(reinterpret_cast<void*>(table2[kDrvOpen])));
  EXPECT_EQ(GetSlot<kDrvGetVersion>(table2)(), 0x00010000);
  Modules().free(second);
  Modules().free(first);
}

}  // namespace
