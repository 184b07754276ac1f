#include <time.h>

#include <cerrno>

#include "platform/auto_reset_event.h"
#include "platform/clock/clock.h"
#include "platform/stop_signal.h"

namespace veldrane::platform {
namespace {

class PosixClock final : public Clock {
 public:
  uint32_t CalendarSeconds() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint32_t>(ts.tv_sec);
  }

  uint32_t TickMs() override { return static_cast<uint32_t>(MonotonicUs() / 1000u); }

  void SleepMs(uint32_t ms) override { SleepUs(uint64_t{ms} * 1000u); }

  bool SleepUnlessStopped(uint32_t ms, StopSignal& stop) override { return !stop.WaitFor(ms); }

  void RaiseStop(StopSignal& stop) override { stop.Raise(); }

  void WaitFor(AutoResetEvent& event) override { event.Wait(); }
};

}  // namespace

uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void SleepUs(uint64_t us) {
  timespec left{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
  // A signal cuts the sleep short; the rest is slept.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace veldrane::platform
