// Time as the transmit loop sees it: calendar seconds, a millisecond tick and sleeping. The
// loop's pacing depends only on this interface, so tests run it on simulated time
// (platform/testing/simulated_clock.h) and production on the system's clocks.
#pragma once

#include <cstdint>

namespace veldrane::platform {

class AutoResetEvent;
class StopSignal;

class Clock {
 public:
  virtual ~Clock() = default;

  // The calendar time in whole seconds since 1970, cut to 32 bits.
  virtual uint32_t CalendarSeconds() = 0;
  // A millisecond count that only moves forward and wraps at 32 bits; differences taken as
  // unsigned 32-bit numbers are elapsed times.
  virtual uint32_t TickMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // As SleepMs, but ends at once when `stop` is raised (through RaiseStop), before the sleep or
  // during it: true when the whole time was slept, false when the stop ended it.
  virtual bool SleepUnlessStopped(uint32_t ms, StopSignal& stop) = 0;
  // Raises `stop`, ending the sleeps on it of threads that run on this clock.
  virtual void RaiseStop(StopSignal& stop) = 0;
  // Blocks until the event is signalled (and takes the signal). A thread waiting here waits for
  // another thread that runs on this clock, so simulated time must go on meanwhile.
  virtual void WaitFor(AutoResetEvent& event) = 0;
};

// The system's clocks: the realtime clock, the monotonic clock and nanosleep.
Clock& SystemClock();

// The monotonic clock in microseconds, and a sleep that a signal does not cut short: the time
// of the system-call tables (serial_sys.h, net_sys.h) as well.
uint64_t MonotonicUs();
void SleepUs(uint64_t us);

}  // namespace veldrane::platform
