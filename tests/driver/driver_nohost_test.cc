// The driver without any host module on the search path: it loads, answers its constant slots
// and refuses a missing file without a word (no event log to write to).
#include <gtest/gtest.h>

#include <string>

#include "host/loader/driver_module.h"
#include "platform/modules/module.h"
#include "tarko/host_tables.h"

namespace {

TEST(DriverWithoutHost, LoadsAndWorksSilently) {
  void* probe = veldrane::platform::Modules().load(kRtModuleName);
  ASSERT_EQ(probe, nullptr) << "this test must not find the host modules";
  veldrane::host::DriverModule driver;
  std::string error;
  ASSERT_TRUE(driver.Load(VELDRANE_SO, &error)) << error;
  EXPECT_EQ(driver.GetVersion(), 0x00010000);
  EXPECT_STREQ(driver.GetName(), "VELDRANE");
  EXPECT_EQ(driver.Open("/nonexistent/line1.cfg"), -1);
  EXPECT_EQ(driver.Open("/nonexistent/line1.cfg"), -1);  // tried again, still absent
  EXPECT_EQ(driver.Configure("/nonexistent/line1.cfg"), 0);
  EXPECT_EQ(driver.OpenPort(0), 0);
  driver.Unload();
}

}  // namespace
