// veldrane-cfg ports on a machine of the test's making: serial devices from a sysfs tree, their
// stable names and the port-map entries that lead to them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "platform/serial/port_map.h"
#include "tests/support/temp_dir.h"
#include "tools/cfg/cfg_ports.h"

namespace veldrane::test {
namespace {

std::string ListPortsOf(const platform::InventoryPlaces& places) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(cfg::ListPorts({nullptr, out, err, false}, places), 0);
  std::rewind(out);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  std::fclose(out);
  std::fclose(err);
  return text;
}

TEST(CfgPorts, ListsSerialDevicesWithStableNamesAndTheirComPorts) {
  TempDir root;
  for (const char* dir :
       {"sys", "sys/ttyUSB0", "sys/ttyUSB0/device", "sys/ttyUSB1", "sys/ttyUSB1/device",
        "sys/ttyS1", "sys/ttyS1/device", "sys/tty1", "sys/ttyACM0", "sys/ttyACM0/device", "dev",
        "by-id", "by-path", "ports"}) {
    ASSERT_EQ(mkdir(root.File(dir).c_str(), 0755), 0) << dir;
  }
  WriteFile(root.File("sys/ttyS1/type"), "0\n");  // an on-board slot the kernel found empty
  for (const char* node : {"dev/ttyUSB0", "dev/ttyUSB1", "dev/ttyS1", "dev/tty1"}) {
    WriteFile(root.File(node), "");
  }
  const struct {
    const char* link;
    std::string target;
  } links[] = {
      {"by-id/usb-FTDI_A-port0", root.File("dev/ttyUSB0")},
      {"by-path/pci-0:1-port0", root.File("dev/ttyUSB0")},  // has a by-id name: not shown
      {"by-path/pci-0:2-port0", root.File("dev/ttyUSB1")},
      {"ports/com3", root.File("by-id/usb-FTDI_A-port0")},
      {"ports/com5", "/nonexistent/adapter"},
      {"ports/com6", "/dev/null"},
      {"ports/com7", "tcp://127.0.0.1:4001"},  // a device server's port, not a wrong link
  };
  for (const auto& l : links) ASSERT_EQ(symlink(l.target.c_str(), root.File(l.link).c_str()), 0);
  setenv(platform::kPortMapVariable, root.File("ports").c_str(), 1);
  std::string out =
      ListPortsOf({root.File("sys"), root.File("dev"), root.File("by-id"), root.File("by-path")});
  unsetenv(platform::kPortMapVariable);

  std::istringstream lines(out);
  std::string line;
  std::vector<std::string> got;
  while (std::getline(lines, line)) got.push_back(line);
  ASSERT_EQ(got.size(), 9u) << out;
  EXPECT_EQ(got[0], "Port map: " + root.File("ports"));
  EXPECT_EQ(got[1], root.File("dev/ttyUSB0") + ": COM3 through " + root.File("ports/com3"));
  EXPECT_EQ(got[2], "    " + root.File("by-id/usb-FTDI_A-port0"));
  EXPECT_EQ(got[3], root.File("dev/ttyUSB1") + ": no COM port");
  EXPECT_EQ(got[4], "    " + root.File("by-path/pci-0:2-port0"));
  // The link suggested takes a COM number that nothing answers to yet.
  const std::string suggest = "    give it a COM port: ln -s " +
                              root.File("by-path/pci-0:2-port0") + " " + root.File("ports/com");
  ASSERT_EQ(got[5].rfind(suggest, 0), 0u) << got[5];
  int free_port = std::atoi(got[5].c_str() + suggest.size());
  EXPECT_TRUE(free_port > 0 && free_port != 3 && free_port != 5 && free_port != 6) << got[5];
  EXPECT_NE(access(platform::OnBoardDevicePath(free_port).c_str(), F_OK), 0) << got[5];
  EXPECT_EQ(got[6], "COM5: " + root.File("ports/com5") +
                        " -> /nonexistent/adapter: leads nowhere (an adapter unplugged, or a "
                        "wrong link)");
  EXPECT_EQ(got[7].rfind("COM6: " + root.File("ports/com6") +
                             " -> /dev/null: not a serial device of this machine",
                         0),
            0u)
      << got[7];
  EXPECT_EQ(got[8], "COM7: " + root.File("ports/com7") +
                        " -> tcp://127.0.0.1:4001: a device server's port on the network");
}

}  // namespace
}  // namespace veldrane::test
