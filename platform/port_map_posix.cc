#include <sys/stat.h>

#include <cstdlib>

#include "platform/port_map.h"

namespace veldrane::platform {
std::string PortMapEntry(int n) {
  const char* dir = std::getenv(kPortMapVariable);
  return std::string(dir && *dir ? dir : kPortMapDir) + "/com" + std::to_string(n);
}

std::string ComDevicePath(const char* port_name) {
  int n = ComPortNumber(port_name);
  if (n == 0) return std::string();
  std::string entry = PortMapEntry(n);
  // An entry counts even when its link leads nowhere now (an adapter that is unplugged): the
  // port then fails to open instead of falling back to an on-board port.
  struct stat st {};
  if (lstat(entry.c_str(), &st) == 0) return entry;
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace veldrane::platform
