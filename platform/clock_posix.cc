#include <time.h>

#include <cerrno>

#include "platform/auto_reset_event.h"
#include "platform/clock.h"
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

  uint32_t TickMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
  }

  void SleepMs(uint32_t ms) override {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // A signal cuts the sleep short; the rest is slept.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  bool SleepUnlessStopped(uint32_t ms, StopSignal& stop) override { return !stop.WaitFor(ms); }

  void RaiseStop(StopSignal& stop) override { stop.Raise(); }

  void WaitFor(AutoResetEvent& event) override { event.Wait(); }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace veldrane::platform
