// The virtual meters: one per station and kind seen on the line or named by the configuration,
// each with what it shows, how many frames it took and when the last one came.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/meter/frame_match.h"
#include "tools/meter/meter_config.h"

namespace veldrane::meter {

using WallTime = std::chrono::system_clock::time_point;

struct VirtualMeter {
  int32_t number = 0;
  int32_t kind = 0;
  std::string name;         // from the configuration; empty when not configured
  bool configured = false;  // the configuration names this station with this kind
  uint64_t frames = 0;
  std::string shown;  // what the meter shows; empty before the first frame
  WallTime last{};
};

class MeterBoard {
 public:
  void Configure(const std::vector<ConfiguredStation>& stations);
  bool has_configuration() const { return has_configuration_; }

  // Counts the frame on its meter (adding one for a station and kind not seen before).
  const VirtualMeter& Record(const MeterFrame& frame, WallTime when);

  // Ordered by station number, then kind.
  const std::vector<VirtualMeter>& meters() const { return meters_; }
  uint64_t frames() const { return frames_; }

 private:
  VirtualMeter& Find(int32_t number, int32_t kind);

  std::vector<VirtualMeter> meters_;
  bool has_configuration_ = false;
  uint64_t frames_ = 0;
};

}  // namespace veldrane::meter
