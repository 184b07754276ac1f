#include "tools/meter/meter_board.h"

#include <algorithm>

namespace veldrane::meter {

void MeterBoard::Configure(const std::vector<ConfiguredStation>& stations) {
  has_configuration_ = true;
  for (const ConfiguredStation& station : stations) {
    VirtualMeter& meter = Find(station.number, station.kind);
    meter.name = station.name;
    meter.configured = true;
  }
}

const VirtualMeter& MeterBoard::Record(const MeterFrame& frame, WallTime when) {
  VirtualMeter& meter = Find(frame.station, frame.kind);
  ++meter.frames;
  ++frames_;
  meter.shown = frame.text;
  meter.last = when;
  return meter;
}

VirtualMeter& MeterBoard::Find(int32_t number, int32_t kind) {
  auto at = std::lower_bound(meters_.begin(), meters_.end(), std::pair{number, kind},
                             [](const VirtualMeter& meter, const std::pair<int32_t, int32_t>& key) {
                               return std::pair{meter.number, meter.kind} < key;
                             });
  if (at != meters_.end() && at->number == number && at->kind == kind) return *at;
  VirtualMeter meter;
  meter.number = number;
  meter.kind = kind;
  return *meters_.insert(at, meter);
}

}  // namespace veldrane::meter
