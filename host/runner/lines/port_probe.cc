#include "host/runner/lines/port_probe.h"

#include <exception>
#include <memory>

#include "config/doc.h"
#include "platform/serial/serial_explain.h"

namespace veldrane::host {

std::string ExplainPortFailure(const std::string& config_path) {
  CVeldraneDoc doc;
  try {
    doc.LoadFile(config_path.c_str());
  } catch (const std::exception& e) {
    return "the driver could not open the port, and " + config_path +
           " cannot be read: " + e.what();
  }
  const CSerialPort& port = doc.Port();
  const std::string name(port.DeviceName().GetString());
  std::string problems;
  for (const std::string& p : port.LineProblems()) problems += (problems.empty() ? "" : ", ") + p;
  if (!problems.empty()) return name + ": line settings refused: " + problems;
  std::unique_ptr<platform::SerialDevice> device = platform::NewSystemSerialDevice();
  platform::SerialResult result = device->Open(name.c_str(), port.LineSettings());
  if (result.ok())
    return name + ": the driver could not open the port, which opened when tried again";
  return platform::ExplainSerialFailure(name, result);
}

}  // namespace veldrane::host
