// What the virtual meter takes from a Veldrane configuration file: each station's kind, number,
// decimals and name, and the line settings of its port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/meter/meter_line.h"

namespace veldrane::meter {

struct ConfiguredStation {
  int32_t number = 0;
  int32_t kind = 0;
  uint32_t decimals = 0;
  std::string name;  // UTF-8 as a terminal shows it (control characters escaped)
};

struct MeterConfig {
  std::vector<ConfiguredStation> stations;
  LineSettings line;
};

// False with the reason in `error` when the file cannot be read.
bool ReadMeterConfig(const std::string& path, MeterConfig& config, std::string* error);

}  // namespace veldrane::meter
