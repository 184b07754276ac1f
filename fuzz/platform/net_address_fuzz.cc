// What a port-map entry holds, written by anyone: the address parser never crashes, an address
// it takes is written back as one it takes again to the same address, a refusal says why, and
// a port name is COMn with n from 1 or nothing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/net/net_address.h"
#include "platform/serial/port_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veldrane::platform;
  const std::string text(reinterpret_cast<const char*>(data), size);
  NetAddress address;
  std::string error;
  if (!ParseNetAddress(text, &address, &error)) {
    if (error.empty()) std::abort();
  } else {
    if (!LooksLikeNetAddress(text) || address.port == 0) std::abort();
    NetAddress again;
    std::string again_error;
    if (!ParseNetAddress(NetAddressText(address), &again, &again_error)) std::abort();
    if (again.protocol != address.protocol || again.host != address.host ||
        again.port != address.port) {
      std::abort();
    }
  }
  if (text.find('\0') == std::string::npos && ComPortNumber(text.c_str()) < 0) std::abort();
  return 0;
}
