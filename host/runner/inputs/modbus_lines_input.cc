#include "host/runner/inputs/modbus_lines_input.h"

#include "host/runner/inputs/modbus_input.h"
#include "host/runner/lines/run_lines.h"

namespace veldrane::host {

bool ModbusLinesInput::Prepare(const std::vector<RunLine>& lines, std::string* error) {
  std::vector<std::string> linked;
  for (const RunLine& line : lines) {
    for (const StationRow& s : line.stations) linked.push_back(s.tag);
  }
  server_ = NewModbusInput(options_, linked, log_, error);
  // The server listens before any line starts: an address it cannot have ends the run there.
  return server_ != nullptr && server_->Prepare(lines, error);
}

bool ModbusLinesInput::Start(ValueSink* sink, std::string* error) {
  return server_->Start(sink, error);
}

void ModbusLinesInput::Stop() {
  if (server_) server_->Stop();
}

InputHealth ModbusLinesInput::Health() const {
  if (server_) return server_->Health();
  InputHealth health;
  health.name = Name();
  health.ok = false;
  health.detail = "not started";
  return health;
}

}  // namespace veldrane::host
