// The host runner reads configurations with the configuration library it links, while the
// driver it loads carries the same classes under the same names. Each reads with its own, and
// once the driver is unloaded (an instance still open: its unload handler destroys it) the
// program's classes answer lookups by name again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/serial_port.h"
#include "config/station_info.h"
#include "fw/object.h"
#include "host/loader/driver_module.h"
#include "host/runner/lines/station_list.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace veldrane::test {
namespace {

std::string Read(const std::string& path) {
  std::vector<host::StationRow> rows;
  std::string error;
  if (!host::ReadStations(path, &rows, &error)) return error;
  std::string text;
  for (const host::StationRow& r : rows) {
    text += r.name + " " + std::to_string(r.kind) + " " + std::to_string(r.number) + " " + r.tag;
  }
  return text;
}

TEST(StationList, ReadsAloneBesideTheLoadedDriverAndAfterIt) {
  TempDir dir;
  const std::string good = dir.File("good.cfg");
  WriteFile(good, FileBytes({{"PUMP1", "", 3, 12, 2, "FLOW1"}}));
  // The station stored under the port settings' class name: the reader looks that name up.
  std::string bytes = FileBytes({{"PUMP1", "", 3, 12, 2, "FLOW1"}});
  const std::string described = std::string("\x0C\x00", 2) + "CStationInfo";
  bytes.replace(bytes.find(described), described.size(),
                std::string("\x0B\x00", 2) + "CSerialPort");
  const std::string wrong = dir.File("wrong.cfg");
  WriteFile(wrong, bytes);

  const std::string expected = "PUMP1 3 12 FLOW1";
  EXPECT_EQ(Read(good), expected);
  {
    host::DriverModule driver;
    std::string error;
    ASSERT_TRUE(driver.Load(VELDRANE_SO, &error)) << error;
    const int32_t index = driver.Open(good.c_str());
    EXPECT_GE(index, 0);
    EXPECT_EQ(Read(good), expected);
    driver.Stop(index);
  }
  EXPECT_EQ(FindRuntimeClass("CStationInfo", 12), &CStationInfo::kRuntimeClass);
  EXPECT_EQ(FindRuntimeClass("CSerialPort", 11), &CSerialPort::kRuntimeClass);
  EXPECT_EQ(Read(good), expected);
  EXPECT_NE(Read(wrong).find("an object of another class"), std::string::npos) << Read(wrong);
}

}  // namespace
}  // namespace veldrane::test
