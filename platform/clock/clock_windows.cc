// The system's clocks on Windows: the calendar clock, GetTickCount64 and Sleep.
#include <windows.h>

#include <ctime>

#include "platform/auto_reset_event.h"
#include "platform/clock/clock.h"
#include "platform/stop_signal.h"

namespace veldrane::platform {
namespace {

class WindowsClock final : public Clock {
 public:
  uint32_t CalendarSeconds() override { return static_cast<uint32_t>(std::time(nullptr)); }
  uint32_t TickMs() override { return static_cast<uint32_t>(GetTickCount64()); }
  void SleepMs(uint32_t ms) override { Sleep(ms); }
  bool SleepUnlessStopped(uint32_t ms, StopSignal& stop) override { return !stop.WaitFor(ms); }
  void RaiseStop(StopSignal& stop) override { stop.Raise(); }
  void WaitFor(AutoResetEvent& event) override { event.Wait(); }
};

}  // namespace

Clock& SystemClock() {
  static WindowsClock clock;
  return clock;
}

}  // namespace veldrane::platform
