// The Modbus server as the runner builds it: its register map is made (or checked) once the
// lines' stations are known, and the server listens once the lines run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/runner/gateway/value_input.h"
#include "host/runner/inputs/modbus_options.h"

namespace veldrane::host {

class ModbusLinesInput : public ValueInput {
 public:
  using Log = std::function<void(const std::string&)>;
  ModbusLinesInput(ModbusOptions options, Log log)
      : options_(std::move(options)), log_(std::move(log)) {}

  std::string Name() const override { return "modbus"; }
  // The map from --modbus-map, or of every linked tag in station order; a map that cannot be
  // used ends the run before anything starts, naming its line.
  bool Prepare(const std::vector<RunLine>& lines, std::string* error) override;
  bool Start(ValueSink* sink, std::string* error) override;
  void Stop() override;
  InputHealth Health() const override;

 private:
  ModbusOptions options_;
  Log log_;
  std::unique_ptr<ValueInput> server_;  // from Prepare on
};

}  // namespace veldrane::host
