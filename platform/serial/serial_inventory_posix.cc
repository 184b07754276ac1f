#include "platform/serial/serial_inventory.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/serial/port_map.h"

namespace veldrane::platform {
namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return realpath(path.c_str(), real) ? std::string(real) : std::string();
}

std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

bool IsSerialDevice(const std::string& sys_entry) {
  if (!Exists(sys_entry + "/device")) return false;
  std::ifstream type(sys_entry + "/type");
  int kind = -1;
  return !(type >> kind) || kind != 0;
}

}  // namespace

SerialInventory TakeSerialInventory(const InventoryPlaces& places) {
  SerialInventory inventory;
  std::map<std::string, size_t> by_real;  // the device's real path -> its index
  for (const std::string& name : Names(places.sys_tty)) {
    std::string device = places.dev + "/" + name;
    if (!IsSerialDevice(places.sys_tty + "/" + name) || !Exists(device)) continue;
    by_real[RealPath(device)] = inventory.devices.size();
    inventory.devices.push_back({device, {}, {}, {}});
  }
  // Stable names: by-id first; by-path only for a device that has no by-id name.
  for (const std::string* folder : {&places.by_id, &places.by_path}) {
    for (const std::string& name : Names(*folder)) {
      auto it = by_real.find(RealPath(*folder + "/" + name));
      if (it == by_real.end()) continue;
      SerialDeviceInfo& d = inventory.devices[it->second];
      if (folder == &places.by_path && !d.stable.empty() &&
          d.stable.front().rfind(places.by_id, 0) == 0) {
        continue;
      }
      d.stable.push_back(*folder + "/" + name);
    }
  }
  for (int n = 1; n <= kHighestComPort; ++n) {
    std::string path = ComDevicePath(("COM" + std::to_string(n)).c_str());
    const bool entry = path != OnBoardDevicePath(n);
    auto it = by_real.find(RealPath(path));
    if (it != by_real.end()) {
      inventory.devices[it->second].com.push_back(n);
      inventory.devices[it->second].through.push_back(path);
    } else if (entry) {
      inventory.loose.push_back({n, path, LinkTarget(path), Exists(path)});
    }
  }
  return inventory;
}

}  // namespace veldrane::platform
