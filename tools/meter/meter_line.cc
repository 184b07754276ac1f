#include "tools/meter/meter_line.h"

namespace veldrane::meter {

std::string DescribeLine(const LineSettings& settings) {
  return std::to_string(settings.baud) + " " + std::to_string(settings.data_bits) +
         settings.parity + std::to_string(settings.stop_bits);
}

}  // namespace veldrane::meter
