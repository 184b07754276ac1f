#include "host/runner/inputs/simulator.h"

#include <algorithm>
#include <cmath>

namespace veldrane::host {

double Simulator::ValueAt(size_t i, double seconds) const {
  double scale = std::pow(10.0, tags_[i].kind >= 4 ? 0 : std::min<uint32_t>(tags_[i].decimals, 7));
  return std::round(RawValueAt(i, seconds) * scale) / scale;
}

double Simulator::RawValueAt(size_t i, double seconds) const {
  const double pi = 3.14159265358979323846;
  const int32_t kind = tags_[i].kind;
  // A range each meter shows comfortably.
  const double span = kind == 5 ? 1999 : kind == 4 ? 30000 : 9999;
  // Out of range for a while: tag i misbehaves during its own 20 s in every 180 s.
  double cycle = std::fmod(seconds + 20.0 * static_cast<double>(i), 180.0);
  if ((kind == 5 || kind == 6) && cycle >= 120.0 && cycle < 140.0) {
    return kind == 5 ? 12000.0 : 1500000.0;
  }
  double phase = seconds / 20.0 + static_cast<double>(i) * 0.7;
  switch (i % 3) {
    case 0:  // ramp up, then start again
      return std::fmod(seconds * 37.0 + static_cast<double>(i) * 100.0, span);
    case 1:  // sine around zero
      return span / 2 * std::sin(2 * pi * phase);
    default:  // steps every 5 seconds
      return std::floor(std::fmod(seconds / 5.0 + static_cast<double>(i), 8.0)) * span / 8 - 12.5;
  }
}

}  // namespace veldrane::host
