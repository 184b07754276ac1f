#include "host/runner/inputs/modbus_options.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "platform/text/display_text.h"
#include "platform/text/whole_number.h"

namespace veldrane::host {

const char* const kModbusUsage =
    "  --modbus URL      serve holding registers to PLCs and SCADA (Modbus TCP): writes set\n"
    "                    tag values, reads give them back; tcp://ADDR[:PORT] (port 502;\n"
    "                    IPv6 in brackets; tcp://0.0.0.0 for every interface); the\n"
    "                    statistics name the clients connected and the writes taken\n"
    "  --modbus-map FILE the registers: 'REGISTER TYPE TAG [SCALE]' lines (default: every\n"
    "                    linked tag as a float32 from register 0; see veldrane-cfg modbus-map)\n"
    "  --modbus-unit N   answer only unit identifier N (default: any)\n"
    "  --modbus-clients N  clients at once (default 8; the next is refused; an idle one is\n"
    "                    closed after 60 s)\n"
    "  --modbus-allow CIDR,...  only these networks may connect (e.g. 192.168.10.0/24,fd00::/8)\n";

bool ParseModbusUrl(const std::string& url, platform::NetAddress* address, std::string* error) {
  const std::string scheme = "tcp://";
  if (url.compare(0, scheme.size(), scheme) != 0) {
    *error = "--modbus takes tcp://ADDR[:PORT], not '" + platform::Excerpt(url, 200) + "'";
    return false;
  }
  std::string rest = url.substr(scheme.size());
  size_t close = rest.find(']');
  bool has_port = !rest.empty() && rest[0] == '['
                      ? close != std::string::npos && close + 1 < rest.size()
                      : rest.find(':') != std::string::npos;
  std::string reason;
  if (!platform::ParseNetAddress(has_port ? url : url + ":502", address, &reason)) {
    *error = "--modbus " + platform::Excerpt(url, 200) + ": " + reason;
    return false;
  }
  return true;
}

namespace {

bool ParseNetwork(std::string text, IpNetwork* network) {
  int max_prefix = 32;
  std::string prefix;
  size_t slash = text.find('/');
  if (slash != std::string::npos) {
    prefix = text.substr(slash + 1);
    text.resize(slash);
  }
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  if (inet_pton(AF_INET, text.c_str(), network->bytes) == 1) {
    network->v6 = false;
  } else if (inet_pton(AF_INET6, text.c_str(), network->bytes) == 1) {
    network->v6 = true;
    max_prefix = 128;
  } else {
    return false;
  }
  network->prefix = max_prefix;
  if (slash == std::string::npos) return true;
  long bits = 0;
  if (!platform::ParseWholeNumber(prefix, 0, max_prefix, &bits)) return false;
  network->prefix = static_cast<int>(bits);
  return true;
}

bool Matches(const IpNetwork& n, const uint8_t* address) {
  for (int bit = 0; bit < n.prefix; ++bit) {
    uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    if ((n.bytes[bit / 8] & mask) != (address[bit / 8] & mask)) return false;
  }
  return true;
}

// A whole number in [low, high].
bool ParseCount(const std::string& text, long low, long high, int* value) {
  long v = 0;
  if (!platform::ParseWholeNumber(text, low, high, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

bool ParseNetworks(const std::string& text, std::vector<IpNetwork>* networks, std::string* error) {
  std::vector<IpNetwork> result;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    IpNetwork network;
    if (!ParseNetwork(item, &network)) {
      *error = "--modbus-allow: '" + platform::Excerpt(item) +
               "' is no network (ADDRESS or ADDRESS/BITS, IPv4 or IPv6)";
      return false;
    }
    result.push_back(network);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  *networks = std::move(result);
  return true;
}

bool NetworksAllow(const std::vector<IpNetwork>& networks, bool v6, const uint8_t* address) {
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (v6 && std::memcmp(address, kMapped, sizeof kMapped) == 0) {
    v6 = false;
    address += 12;
  }
  for (const IpNetwork& n : networks) {
    if (n.v6 == v6 && Matches(n, address)) return true;
  }
  return false;
}

bool IsModbusOption(const std::string& option) {
  return option == "--modbus" || option == "--modbus-map" || option == "--modbus-unit" ||
         option == "--modbus-clients" || option == "--modbus-allow";
}

bool SetModbusOption(const std::string& option, const std::string& value, ModbusOptions* options,
                     std::string* error) {
  if (option == "--modbus") {
    options->url = value;
    return ParseModbusUrl(value, &options->address, error);
  }
  if (option == "--modbus-map") {
    options->map_file = value;
  } else if (option == "--modbus-unit") {
    if (!ParseCount(value, 0, 255, &options->unit)) {
      *error = "--modbus-unit takes a unit identifier from 0 to 255, not '" +
               platform::Excerpt(value) + "'";
      return false;
    }
  } else if (option == "--modbus-clients") {
    if (!ParseCount(value, 1, 256, &options->clients)) {
      *error =
          "--modbus-clients takes a number from 1 to 256, not '" + platform::Excerpt(value) + "'";
      return false;
    }
  } else if (option == "--modbus-allow") {
    options->allow_given = true;
    return ParseNetworks(value, &options->allow, error);
  }
  return true;
}

bool FinishModbusOptions(const ModbusOptions& options, std::string* error) {
  const ModbusOptions plain;
  if (!options.enabled() && (!options.map_file.empty() || options.unit != plain.unit ||
                             options.clients != plain.clients || options.allow_given)) {
    *error = "the --modbus-... options need --modbus tcp://ADDR[:PORT]";
    return false;
  }
  return true;
}

}  // namespace veldrane::host
