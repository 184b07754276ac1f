// Which host modules the driver loads, retries and frees, through a fake module table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostlink/host_modules.h"
#include "hostlink/report.h"
#include "platform/modules/module.h"

namespace {

using veldrane::platform::ModuleApi;
using veldrane::platform::ModuleHandle;

std::string Loaded(const char* module) {
  return std::string("load ") + module;
}
std::string Freed(const char* module) {
  return std::string("free ") + module;
}

struct FakeHost {
  std::vector<std::string> calls;      // "load X", "free X"
  std::vector<std::string> missing;    // modules that fail to load
  std::vector<std::string> no_table;   // modules that load without their table
  TarkoFn table[kHostTableSize] = {};  // what every table export returns
  std::vector<std::string> handles;    // handle i+1 is handles[i]
};
FakeHost* g_fake = nullptr;

bool Has(const std::vector<std::string>& v, const std::string& s) {
  for (const auto& x : v) {
    if (x == s) return true;
  }
  return false;
}

ModuleHandle FakeLoad(const char* name) {
  g_fake->calls.push_back(std::string("load ") + name);
  if (Has(g_fake->missing, name)) return nullptr;
  g_fake->handles.push_back(name);
  return reinterpret_cast<ModuleHandle>(g_fake->handles.size());
}
void* FakeFind(ModuleHandle module, const char*) {
  const std::string& name = g_fake->handles[reinterpret_cast<size_t>(module) - 1];
  return Has(g_fake->no_table, name) ? nullptr : g_fake->table;
}
void FakeFree(ModuleHandle module) {
  g_fake->calls.push_back("free " + g_fake->handles[reinterpret_cast<size_t>(module) - 1]);
}
const ModuleApi kFakeApi = {&FakeLoad, &FakeFind, &FakeFree};

int g_log_writes = 0;
void CountingLogWrite(int32_t, int32_t, const char*) {
  ++g_log_writes;
}

class HostModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    g_log_writes = 0;
    SetSlot<kLogWrite>(fake_.table, &CountingLogWrite);
    veldrane::platform::SetModuleApi(&kFakeApi);
  }
  void TearDown() override {
    veldrane::FreeAllModules();
    veldrane::platform::SetModuleApi(nullptr);
    g_fake = nullptr;
  }
  FakeHost fake_;
};

TEST_F(HostModulesTest, AModuleThatFailedIsTriedAgainOneWithoutTableIsNot) {
  fake_.missing = {kDbmModuleName};
  fake_.no_table = {kRtModuleName};
  veldrane::LoadRuntimeModules();
  EXPECT_EQ(veldrane::DbmTable(), nullptr);
  EXPECT_EQ(veldrane::ReportMessage(4, 0, "COM1", 0), 4);  // silent: no event-log table
  fake_.missing.clear();
  veldrane::LoadRuntimeModules();
  EXPECT_NE(veldrane::DbmTable(), nullptr);
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{Loaded(kDbmModuleName), Loaded(kRtModuleName),
                                                   Loaded(kDbmModuleName)}));
  EXPECT_EQ(g_log_writes, 0);
}

TEST_F(HostModulesTest, EventLogTableRoutesReports) {
  veldrane::LoadRuntimeModules();
  EXPECT_EQ(veldrane::ReportMessage(3, 2, nullptr, 0), -3);
  EXPECT_EQ(g_log_writes, 1);
}

TEST_F(HostModulesTest, UnloadFreesInTheFixedOrder) {
  veldrane::LoadRuntimeModules();
  ASSERT_TRUE(veldrane::LoadConfigureModules());
  fake_.calls.clear();
  veldrane::FreeAllModules();
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{Freed(kEdModuleName), Freed(kRtModuleName),
                                                   Freed(kTgModuleName), Freed(kDbmModuleName)}));
  EXPECT_EQ(veldrane::ReportMessage(1, 2, nullptr, 0), 1);  // no event log after unload
}

TEST_F(HostModulesTest, ConfigureModules) {
  fake_.missing = {kEdModuleName};
  EXPECT_FALSE(veldrane::LoadConfigureModules());
  fake_.missing.clear();
  fake_.no_table = {kEdModuleName};
  EXPECT_TRUE(veldrane::LoadConfigureModules());
  EXPECT_FALSE(veldrane::HasEditorTable());
  veldrane::FreeConfigureModules();
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{Loaded(kEdModuleName), Loaded(kEdModuleName),
                                                   Freed(kEdModuleName)}));
  fake_.no_table.clear();
  fake_.calls.clear();
  EXPECT_TRUE(veldrane::LoadConfigureModules());
  EXPECT_TRUE(veldrane::HasEditorTable());
  EXPECT_NE(veldrane::TgTable(), nullptr);
  veldrane::FreeConfigureModules();
  EXPECT_EQ(veldrane::TgTable(), nullptr);
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{Loaded(kEdModuleName), Loaded(kTgModuleName),
                                                   Freed(kEdModuleName), Freed(kTgModuleName)}));
}

TEST_F(HostModulesTest, TagDatabaseAbsentAnswersNothing) {
  EXPECT_FALSE(veldrane::tagdb::Present());
  EXPECT_EQ(veldrane::tagdb::OpenClient(), -1);
  EXPECT_EQ(veldrane::tagdb::FindTag(0, "T"), -1);
  EXPECT_EQ(veldrane::tagdb::GetChanges(0), nullptr);
  veldrane::tagdb::Advise(0, 0, nullptr);
  veldrane::tagdb::CloseClient(0);
  EXPECT_EQ(veldrane::BrowseTag(nullptr), 0);
}

}  // namespace
