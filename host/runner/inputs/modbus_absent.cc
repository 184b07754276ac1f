// The runner without a Modbus server (the Windows build: Debian has no libmodbus for MinGW).
// The --modbus options are known, and refused with the reason.
#include "host/runner/inputs/modbus_input.h"
#include "host/runner/inputs/modbus_options.h"

namespace veldrane::host {

const char* const kModbusUsage =
    "  --modbus URL      not in this build (no Modbus library for Windows)\n";

bool IsModbusOption(const std::string& option) {
  return option == "--modbus" || option == "--modbus-map" || option == "--modbus-unit" ||
         option == "--modbus-clients" || option == "--modbus-allow";
}

bool SetModbusOption(const std::string& option, const std::string&, ModbusOptions*,
                     std::string* error) {
  *error = option +
           ": this build has no Modbus server (no Modbus library for Windows); give values with "
           "--values FILE, a named pipe (\\\\.\\pipe\\NAME) or standard input";
  return false;
}

bool FinishModbusOptions(const ModbusOptions&, std::string*) {
  return true;
}

std::unique_ptr<ValueInput> NewModbusInput(const ModbusOptions&, const std::vector<std::string>&,
                                           std::function<void(const std::string&)>,
                                           std::string* error) {
  *error = "this build has no Modbus server";
  return nullptr;
}

}  // namespace veldrane::host
