#include "host/runner/lines/line_watch.h"

namespace veldrane::host {

LineWatch::LineWatch(std::vector<StationRow> stations)
    : stations_(std::move(stations)), readings_(stations_.size()) {}

void LineWatch::Update(const Read& read) {
  ++updates_;
  for (size_t i = 0; i < stations_.size(); ++i) {
    Reading& r = readings_[i];
    r.status = read(stations_[i]);
    r.health = r.run.Update(r.status);
  }
}

}  // namespace veldrane::host
