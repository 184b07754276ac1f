#include "platform/net/net_address.h"

#include <cctype>

#include "platform/text/ascii.h"

namespace veldrane::platform {
namespace {

constexpr const char* kForm = " (tcp://HOST:PORT or rfc2217://HOST:PORT)";

bool IsNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool IsIpv6Character(char c) {
  // Hex digits, colons, an embedded IPv4 address, and a zone after '%' (an interface name).
  return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '.' || c == '%' ||
         c == '-' || c == '_';
}

bool Fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

std::string Lower(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

}  // namespace

bool LooksLikeNetAddress(const std::string& text) {
  size_t colon = text.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

bool ParseNetAddress(const std::string& text, NetAddress* address, std::string* error) {
  if (!LooksLikeNetAddress(text)) return Fail(error, "'" + text + "' is no address" + kForm);
  size_t scheme_end = text.find("://");
  const std::string scheme = Lower(text.substr(0, scheme_end));
  NetAddress a;
  if (scheme == "tcp") {
    a.protocol = NetProtocol::kRawTcp;
  } else if (scheme == "rfc2217") {
    a.protocol = NetProtocol::kRfc2217;
  } else {
    return Fail(error, "unknown kind of address '" + scheme + "://'" + kForm);
  }
  const std::string rest = text.substr(scheme_end + 3);
  size_t port_colon;
  if (!rest.empty() && rest[0] == '[') {
    size_t close = rest.find(']');
    if (close == std::string::npos) return Fail(error, "an IPv6 address without its ']'");
    a.host = rest.substr(1, close - 1);
    if (a.host.find(':') == std::string::npos) {
      return Fail(error, "'" + a.host + "' in brackets is no IPv6 address");
    }
    for (char c : a.host) {
      if (!IsIpv6Character(c)) return Fail(error, "'" + a.host + "' is no IPv6 address");
    }
    port_colon = close + 1;
    if (port_colon >= rest.size() || rest[port_colon] != ':') {
      return Fail(error, "no port after the address" + std::string(kForm));
    }
  } else {
    port_colon = rest.rfind(':');
    if (port_colon == std::string::npos) return Fail(error, "no port" + std::string(kForm));
    a.host = rest.substr(0, port_colon);
    if (a.host.find(':') != std::string::npos) {
      return Fail(error, "an IPv6 address goes in brackets: " + scheme + "://[" + a.host +
                             "]:" + rest.substr(port_colon + 1));
    }
    for (char c : a.host) {
      if (!IsNameCharacter(c)) return Fail(error, "'" + a.host + "' is no host name or address");
    }
  }
  if (a.host.empty()) return Fail(error, "no host" + std::string(kForm));
  const std::string port = rest.substr(port_colon + 1);
  if (port.empty() || port.size() > 5) return Fail(error, "no port number" + std::string(kForm));
  unsigned long number = 0;
  for (char c : port) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return Fail(error, "'" + port + "' is no port number" + kForm);
    }
    number = number * 10 + static_cast<unsigned long>(c - '0');
  }
  if (number < 1 || number > 65535) {
    return Fail(error, "the port " + port + " is outside 1 to 65535");
  }
  a.port = static_cast<uint16_t>(number);
  if (address) *address = a;
  return true;
}

std::string NetAddressText(const NetAddress& address) {
  std::string host =
      address.host.find(':') != std::string::npos ? "[" + address.host + "]" : address.host;
  return std::string(address.protocol == NetProtocol::kRfc2217 ? "rfc2217://" : "tcp://") + host +
         ":" + std::to_string(address.port);
}

}  // namespace veldrane::platform
