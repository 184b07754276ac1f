#include "platform/serial/port_map.h"
#include "platform/serial/serial_explain.h"
#include "platform/text/win_text.h"

namespace veldrane::platform {

std::string ExplainSerialFailure(const std::string& port, const SerialResult& result) {
  const int com = ComPortNumber(port.c_str());
  if (com == 0 && result.fault == SerialFault::kNotFound && result.error == 0) {
    return port + ": no such port (COM1 to COM256)";
  }
  const std::string where = com > 0 ? ComDevicePath(port.c_str()) : port;
  const std::string system =
      result.error != 0 ? ": " + SystemErrorText(static_cast<uint32_t>(result.error)) : "";
  switch (result.fault) {
    case SerialFault::kNotFound:
      return where + ": not found: no such COM port on this computer (see the Device Manager's " +
             "Ports (COM & LPT) for the adapter's number)" + system;
    case SerialFault::kBusy:
      return where + ": busy: another program holds the port; stop it first" + system;
    default:
      return where + ": " + SerialFaultText(result.fault) + system;
  }
}

// A COM port on Windows is a real port, whose modem lines the handshake drives.
std::string ExplainHandshakeProblem(const std::string&) {
  return {};
}

}  // namespace veldrane::platform
