// Simulated time for tests. Virtual time starts at 0 ms; the calendar shows
// start_seconds + now / 1000 and the tick start_tick + now (both wrap at 32 bits).
//
// Two ways to run:
//  - free-running: every sleep moves virtual time on at once and returns. For code that runs on
//    the test's own thread (one frame with its CTS polls).
//  - stepped: a sleep returns only once the test has let virtual time reach its end with
//    Advance. Between two Advance calls the sleeping thread is parked, so the test looks at state
//    that holds still, and the transmit loop runs pass by pass, the same way every time.
// A thread in WaitFor (the host's thread waiting for the transmit thread to end) lets time run
// free until the event comes, the way real time goes on while a host waits; after a minute of
// real time without it, the process ends with a message (a test must not hang).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

#include "platform/clock/clock.h"

namespace veldrane::platform {

class SimulatedClock final : public Clock {
 public:
  enum class Mode { kStepped, kFreeRunning };

  explicit SimulatedClock(Mode mode, uint32_t start_seconds = 1800000000u, uint32_t start_tick = 0);

  uint32_t CalendarSeconds() override;
  uint32_t TickMs() override;
  void SleepMs(uint32_t ms) override;
  // A raised stop ends the sleep where virtual time stands.
  bool SleepUnlessStopped(uint32_t ms, StopSignal& stop) override;
  void RaiseStop(StopSignal& stop) override;
  void WaitFor(AutoResetEvent& event) override;

  // Virtual milliseconds since the start.
  uint64_t NowMs() const;

  // Stepped: waits until a thread is parked in a sleep that ends after the present time, i.e.
  // it has done everything it does at this instant.
  void WaitForSleeper();
  // Stepped: lets virtual time run to `target_ms`. Each sleep that ends on the way returns at
  // its end, in order; the call returns when the sleeping thread is parked again beyond the
  // target. It needs a thread that sleeps on this clock (it gives up after 30 s of real time
  // with std::runtime_error).
  void AdvanceTo(uint64_t target_ms);

 private:
  // Sleeps until `ms` have passed or `stop` (may be null) is raised; false when it was.
  bool Sleep(uint32_t ms, const StopSignal* stop);
  bool FreeRunning() const { return mode_ == Mode::kFreeRunning || free_waiters_ > 0; }
  bool Settled() const { return !parked_.empty() && *parked_.begin() > limit_; }
  void WaitSettled(std::unique_lock<std::mutex>& lock);

  static constexpr uint32_t kRealWaitLimitMs = 60000;

  const Mode mode_;
  const uint32_t start_seconds_;
  const uint32_t start_tick_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t now_ = 0;
  uint64_t limit_ = 0;              // stepped: sleeps that end by then return
  std::multiset<uint64_t> parked_;  // ends of the sleeps that wait for Advance
  int free_waiters_ = 0;            // threads in WaitFor
};

}  // namespace veldrane::platform
