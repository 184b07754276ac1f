// The value input of --simulate: every linked tag a moving value within what its meter shows,
// a new one each second, given on the runner's thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/runner/gateway/value_input.h"
#include "host/runner/inputs/simulator.h"

namespace veldrane::host {

class SimulationInput final : public ValueInput {
 public:
  static constexpr std::chrono::seconds kEvery{1};

  std::string Name() const override { return "simulate"; }
  // The tags each with the meter kind and decimals of the first station that shows it.
  bool Prepare(const std::vector<RunLine>& lines, std::string* error) override;
  bool Start(ValueSink* sink, std::string* error) override;
  void Poll(std::chrono::steady_clock::time_point now, double elapsed) override;
  std::chrono::steady_clock::time_point NextPoll() const override;
  void Stop() override {}
  InputHealth Health() const override;

 private:
  std::unique_ptr<Simulator> simulator_;
  ValueSink* sink_ = nullptr;
  bool started_ = false;
  std::chrono::steady_clock::time_point next_;
};

}  // namespace veldrane::host
