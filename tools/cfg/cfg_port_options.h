// The port settings that veldrane-cfg takes on its command line (port and new): the values the
// window's port page offers, and nothing else.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/serial_port.h"

namespace veldrane::cfg {

// The settings given; those not given stay as they are.
struct PortChanges {
  std::optional<int32_t> port_index;  // 0 is COM1
  std::optional<int32_t> baud_index;  // 0 is 300, 5 is 9600
  std::optional<int32_t> parity_index;
  std::optional<int32_t> byte_size;  // 7 or 8
  std::optional<int32_t> stop_bits;  // 1 or 2
  std::optional<bool> rts_cts;

  bool empty() const {
    return !port_index && !baud_index && !parity_index && !byte_size && !stop_bits && !rts_cts;
  }
};

// Whether `option` ("--baud", without its value) is a port setting.
bool IsPortOption(const std::string& option);

// Takes "--baud=19200" and the like into `changes`; false, with a message naming the values
// allowed, for a value that the port page does not offer.
bool ParsePortOption(const std::string& option, PortChanges* changes, std::string* error);

// Sets what `changes` gives; other fields and option bits are kept, and a data or stop bits
// field that already means the value asked for is left as it is.
void ApplyPortChanges(const PortChanges& changes, CSerialPort* port);

}  // namespace veldrane::cfg
