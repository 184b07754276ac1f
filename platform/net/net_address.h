// The address of a device server's port, as a port-map entry names it: "tcp://HOST:PORT" for the
// raw bytes of the line, "rfc2217://HOST:PORT" for Telnet with the COM-PORT-OPTION, which
// carries the line settings and the modem lines as well. HOST is a name, an IPv4 address, or an
// IPv6 address in brackets ("tcp://[fe80::1%eth0]:4001").
#pragma once

#include <cstdint>
#include <string>

namespace veldrane::platform {

enum class NetProtocol : uint8_t { kRawTcp, kRfc2217 };

struct NetAddress {
  NetProtocol protocol = NetProtocol::kRawTcp;
  std::string host;  // without brackets
  uint16_t port = 0;
};

// True when `text` is written as an address ("SCHEME://..."), valid or not: a port-map entry
// that holds one names a device server, not a device.
bool LooksLikeNetAddress(const std::string& text);

// False with the reason in `error` ("the port 70000 is outside 1 to 65535").
bool ParseNetAddress(const std::string& text, NetAddress* address, std::string* error);

// The address written back: "rfc2217://[::1]:4001".
std::string NetAddressText(const NetAddress& address);

}  // namespace veldrane::platform
