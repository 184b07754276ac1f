// The runner's Modbus server options: where it listens, its register map, and who may connect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/net/net_address.h"

namespace veldrane::host {

// An IPv4 or IPv6 network of --modbus-allow.
struct IpNetwork {
  bool v6 = false;
  uint8_t bytes[16] = {};  // 4 used for IPv4
  int prefix = 0;          // bits that must match
};

struct ModbusOptions {
  std::string url;       // empty: no Modbus server
  std::string map_file;  // empty: the map made from the configurations' tags
  int unit = -1;         // -1: answer every unit identifier
  int clients = 8;
  std::vector<IpNetwork> allow;  // empty: anyone may connect
  bool allow_given = false;

  platform::NetAddress address;  // filled by SetModbusOption

  bool enabled() const { return !url.empty(); }
};

// The option texts for --help.
extern const char* const kModbusUsage;

bool IsModbusOption(const std::string& option);
// Stores the value of one option; false with a message when it is not acceptable.
bool SetModbusOption(const std::string& option, const std::string& value, ModbusOptions* options,
                     std::string* error);
// After all options: false with a message when the --modbus-... options come without --modbus.
bool FinishModbusOptions(const ModbusOptions& options, std::string* error);

// tcp://HOST[:PORT], port 502 when none is given; an IPv6 address in brackets.
bool ParseModbusUrl(const std::string& url, platform::NetAddress* address, std::string* error);
// CIDR,...: 192.168.1.0/24, 10.1.2.3 (one host), fd00::/8, [::1]; false with the reason.
bool ParseNetworks(const std::string& text, std::vector<IpNetwork>* networks, std::string* error);
// Whether `address` (4 or 16 bytes; an IPv4-mapped IPv6 address counts as IPv4) is in one of
// the networks.
bool NetworksAllow(const std::vector<IpNetwork>& networks, bool v6, const uint8_t* address);

}  // namespace veldrane::host
