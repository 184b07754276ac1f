#include "tools/cfg/cfg_port_options.h"

#include <cstdlib>
#include <string>

#include "platform/serial/serial_inventory.h"

namespace veldrane::cfg {
namespace {

constexpr const char* kBaudRates[] = {"300",  "600",  "1200",  "2400",
                                      "4800", "9600", "19200", "38400"};
constexpr const char* kParities[] = {"none", "even", "odd"};

// The index of `value` in `choices`, or -1.
template <size_t N>
int32_t IndexOf(const std::string& value, const char* const (&choices)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (value == choices[i]) return static_cast<int32_t>(i);
  }
  return -1;
}

// "300, 600, ... or 38400".
template <size_t N>
std::string Allowed(const char* const (&choices)[N]) {
  std::string text;
  for (size_t i = 0; i < N; ++i) {
    text += i == 0 ? "" : i + 1 == N ? " or " : ", ";
    text += choices[i];
  }
  return text;
}

// 1 to 36, as "3" or "COM3".
int32_t ComIndex(std::string value) {
  if (value.size() > 3 && (value.compare(0, 3, "COM") == 0 || value.compare(0, 3, "com") == 0)) {
    value.erase(0, 3);
  }
  if (value.empty() || value.size() > 2 ||
      value.find_first_not_of("0123456789") != std::string::npos || value[0] == '0') {
    return -1;
  }
  const int32_t n = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
  return n >= 1 && n <= platform::kHighestComPort ? n - 1 : -1;
}

}  // namespace

bool IsPortOption(const std::string& option) {
  return option == "--com" || option == "--baud" || option == "--parity" || option == "--data" ||
         option == "--stop" || option == "--rts-cts";
}

bool ParsePortOption(const std::string& option, PortChanges* changes, std::string* error) {
  const size_t eq = option.find('=');
  const std::string name = option.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : option.substr(eq + 1);
  auto refuse = [&](const std::string& allowed) {
    *error = name + " takes " + allowed + ", not '" + value + "'";
    return false;
  };
  if (name == "--com") {
    const int32_t index = ComIndex(value);
    if (index < 0) {
      const std::string highest = std::to_string(platform::kHighestComPort);
      return refuse("1 to " + highest + " (COM1 to COM" + highest + ")");
    }
    changes->port_index = index;
  } else if (name == "--baud") {
    const int32_t index = IndexOf(value, kBaudRates);
    if (index < 0) return refuse(Allowed(kBaudRates));
    changes->baud_index = index;
  } else if (name == "--parity") {
    const int32_t index = IndexOf(value, kParities);
    if (index < 0) return refuse(Allowed(kParities));
    changes->parity_index = index;
  } else if (name == "--data") {
    if (value != "7" && value != "8") return refuse("7 or 8");
    changes->byte_size = value[0] - '0';
  } else if (name == "--stop") {
    if (value != "1" && value != "2") return refuse("1 or 2");
    changes->stop_bits = value[0] - '0';
  } else if (name == "--rts-cts") {
    if (value != "on" && value != "off") return refuse("on or off");
    changes->rts_cts = value == "on";
  } else {
    *error = "unknown option '" + name + "'";
    return false;
  }
  return true;
}

void ApplyPortChanges(const PortChanges& changes, CSerialPort* port) {
  if (changes.port_index) port->port_index = *changes.port_index;
  if (changes.baud_index) port->baud_index = *changes.baud_index;
  if (changes.parity_index) port->parity_index = *changes.parity_index;
  // As the page stores them: 0 for 7 data bits or one stop bit, 1 for the other.
  if (changes.byte_size && port->ByteSize() != *changes.byte_size) {
    port->data_bits = *changes.byte_size == 8 ? 1 : 0;
  }
  if (changes.stop_bits && port->StopBitCount() != *changes.stop_bits) {
    port->stop_bits = *changes.stop_bits == 2 ? 1 : 0;
  }
  if (changes.rts_cts) port->SetRtsCts(*changes.rts_cts);
}

}  // namespace veldrane::cfg
