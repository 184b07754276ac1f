// The live table on a terminal: every line with its stations as far as the terminal holds them,
// then the latest event-log lines, drawn again twice a second. Once the run ends the event-log
// lines are printed as they come, as the plain lines print them.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <string>

#include "host/runner/gateway/status_output.h"
#include "platform/thread_annotations.h"

namespace veldrane::host {

class LiveTable final : public StatusOutput {
 public:
  // The event-log lines the table shows.
  static constexpr size_t kEventsShown = 8;
  static constexpr std::chrono::milliseconds kDrawEvery{500};

  std::string Name() const override { return "live"; }
  // As often as it is drawn.
  std::chrono::milliseconds DetailsEvery() const override { return kDrawEvery; }
  void Update(const GatewayView& view, std::chrono::steady_clock::time_point now) override;
  void OnEvent(const EventEntry& event) override;
  void Stopping() override;

 private:
  void Draw(const GatewayView& view);

  bool drawn_ = false;  // the runner's thread only
  std::chrono::steady_clock::time_point next_draw_;
  platform::Mutex mutex_;
  std::deque<std::string> events_ GUARDED_BY(mutex_);  // the newest kEventsShown
  bool echo_ GUARDED_BY(mutex_) = false;               // the run ended: print each line
};

}  // namespace veldrane::host
