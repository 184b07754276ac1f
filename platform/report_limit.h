// ReportLimit: bounds how often one kind of report (a bad input line, a run of noise) is printed,
// so that a flood of bad input cannot flood the terminal or a log. The first few reports are
// printed in full; the rest are only counted, and the count is printed once per interval while
// they go on. After a quiet spell the first few are printed in full again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace veldrane::platform {

class ReportLimit {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kInFull = 10;
  static constexpr Clock::duration kInterval = std::chrono::seconds(10);

  explicit ReportLimit(size_t in_full = kInFull, Clock::duration interval = kInterval)
      : in_full_(in_full), interval_(interval) {}

  // For each report, after TakeUncounted: true when it is to be printed in full.
  bool Take(Clock::time_point now);
  // The reports counted but not printed, once their interval is over (or all of them with
  // `flush`, at the end of the input); 0 when there is nothing to print. Call it before each
  // Take and whenever the input is idle.
  uint64_t TakeUncounted(Clock::time_point now, bool flush = false);

 private:
  bool Expired(Clock::time_point now) const { return now - start_ >= interval_; }

  size_t in_full_;
  Clock::duration interval_;
  Clock::time_point start_{};  // of the interval
  Clock::time_point last_{};   // of the last report
  size_t shown_ = 0;
  uint64_t counted_ = 0;
};

}  // namespace veldrane::platform
