// The final statistics: each line's table of stations and its totals at the end of the run, and
// the sum of all with several lines.
#pragma once

#include <string>
#include <vector>

#include "host/runner/gateway/status_output.h"
#include "host/runner/lines/run_lines.h"

namespace veldrane::host {

std::string FormatStatistics(const std::vector<RunLine>& lines);

class FinalStatistics final : public StatusOutput {
 public:
  std::string Name() const override { return "statistics"; }
  void Update(const GatewayView&, std::chrono::steady_clock::time_point) override {}
  void Finish(const GatewayView& view) override;
};

}  // namespace veldrane::host
