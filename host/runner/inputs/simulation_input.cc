#include "host/runner/inputs/simulation_input.h"

#include <set>

#include "host/runner/lines/run_lines.h"

namespace veldrane::host {

bool SimulationInput::Prepare(const std::vector<RunLine>& lines, std::string*) {
  std::vector<SimulatedTag> tags;
  std::set<std::string> seen;
  for (const RunLine& line : lines) {
    for (const StationRow& s : line.stations) {
      if (!s.tag.empty() && seen.insert(s.tag).second) tags.push_back({s.tag, s.kind, s.decimals});
    }
  }
  simulator_ = std::make_unique<Simulator>(std::move(tags));
  return true;
}

bool SimulationInput::Start(ValueSink* sink, std::string*) {
  sink_ = sink;
  return true;
}

void SimulationInput::Poll(std::chrono::steady_clock::time_point now, double elapsed) {
  if (!started_) next_ = now;
  started_ = true;
  if (now < next_) return;
  for (size_t i = 0; i < simulator_->size(); ++i) {
    sink_->SetValue(simulator_->tag(i).name, simulator_->ValueAt(i, elapsed), Name());
  }
  next_ += kEvery;
}

std::chrono::steady_clock::time_point SimulationInput::NextPoll() const {
  return started_ ? next_ : std::chrono::steady_clock::time_point::max();
}

InputHealth SimulationInput::Health() const {
  InputHealth health;
  health.name = Name();
  health.detail = std::to_string(simulator_ ? simulator_->size() : 0) + " tags moving";
  return health;
}

}  // namespace veldrane::host
