// The serial devices of this machine with their stable names and the COM ports that the port
// map leads to each, so that an integrator sees which adapter to link to which COM number.
#pragma once

#include <string>
#include <vector>

namespace veldrane::platform {

struct SerialDeviceInfo {
  std::string device;                // /dev/ttyUSB0
  std::vector<std::string> stable;   // /dev/serial/by-id/... (by-path where there is no by-id)
  std::vector<int> com;              // the COM numbers whose path leads to this device
  std::vector<std::string> through;  // for each of them, the port-map entry or on-board path
};

// A port-map entry that leads to no serial device of the list: an adapter unplugged, a wrong
// link, or a device of another kind (a pseudo-terminal).
struct LooseMapEntry {
  int com = 0;
  std::string entry;
  std::string target;   // where the link points, empty for no link
  bool exists = false;  // whether it leads to anything at all
};

struct SerialInventory {
  std::vector<SerialDeviceInfo> devices;  // by device name
  std::vector<LooseMapEntry> loose;       // by COM number
};

// Where the inventory looks; a test points these into a folder of its own.
struct InventoryPlaces {
  std::string sys_tty = "/sys/class/tty";
  std::string dev = "/dev";
  std::string by_id = "/dev/serial/by-id";
  std::string by_path = "/dev/serial/by-path";
};

inline constexpr int kHighestComPort = 36;

// A serial device is a tty with a hardware device behind it (its sysfs `device` link), but not
// an on-board UART slot that the kernel found empty (`type` 0).
SerialInventory TakeSerialInventory(const InventoryPlaces& places = InventoryPlaces());

}  // namespace veldrane::platform
