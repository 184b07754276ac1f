// The plain lines: each event-log line printed as it comes (with the journal's priority when
// standard output is the journal), for a runner without the live table.
#pragma once

#include <mutex>
#include <string>

#include "host/runner/gateway/status_output.h"

namespace veldrane::host {

class PlainLines final : public StatusOutput {
 public:
  std::string Name() const override;
  void Update(const GatewayView&, std::chrono::steady_clock::time_point) override {}
  void OnEvent(const EventEntry& event) override;

 private:
  std::mutex mutex_;  // the lines of several lines' threads, one after the other
};

}  // namespace veldrane::host
