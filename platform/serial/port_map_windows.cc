// On Windows the COM name is the device: COM1 to COM9 as they are, COM10 and up through the
// device namespace (\\.\COM10), which the plain name does not reach.
#include "platform/serial/port_map.h"

namespace veldrane::platform {

std::string PortMapEntry(int n) {
  return n < 10 ? "COM" + std::to_string(n) : "\\\\.\\COM" + std::to_string(n);
}

std::string ComDevicePath(const char* port_name) {
  int n = ComPortNumber(port_name);
  return n == 0 ? std::string() : PortMapEntry(n);
}

// A COM port on Windows is always a device.
std::vector<std::string> DeviceServerEndpoints(const std::string&, int) {
  return {};
}

}  // namespace veldrane::platform
