// Moving values for the tags of a configuration, so that meters have something to show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veldrane::host {

struct SimulatedTag {
  std::string name;       // code page 949
  int32_t kind = 0;       // the meter kind of the first station that shows it
  uint32_t decimals = 0;  // and the decimals it shows
};

class Simulator {
 public:
  explicit Simulator(std::vector<SimulatedTag> tags) : tags_(std::move(tags)) {}

  // The value of tag i at `seconds` since the start. Tags take turns at ramps, sines and steps
  // within what their meter can show; now and then (about one minute in three, for one tag) a
  // value beyond what a 4- or 6-digit meter shows, so that failure and recovery messages appear.
  // Values come at the resolution the meter shows (its decimals; whole numbers for kinds 4 to
  // 6), as an instrument's would.
  double ValueAt(size_t i, double seconds) const;
  size_t size() const { return tags_.size(); }
  const SimulatedTag& tag(size_t i) const { return tags_[i]; }

 private:
  double RawValueAt(size_t i, double seconds) const;

  std::vector<SimulatedTag> tags_;
};

}  // namespace veldrane::host
