#include "platform/testing/simulated_clock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/auto_reset_event.h"
#include "platform/stop_signal.h"

namespace veldrane::platform {

SimulatedClock::SimulatedClock(Mode mode, uint32_t start_seconds, uint32_t start_tick)
    : mode_(mode), start_seconds_(start_seconds), start_tick_(start_tick) {}

uint32_t SimulatedClock::CalendarSeconds() {
  std::lock_guard<std::mutex> lock(mutex_);
  return start_seconds_ + static_cast<uint32_t>(now_ / 1000);
}

uint32_t SimulatedClock::TickMs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return start_tick_ + static_cast<uint32_t>(now_);
}

void SimulatedClock::SleepMs(uint32_t ms) {
  Sleep(ms, nullptr);
}

bool SimulatedClock::SleepUnlessStopped(uint32_t ms, StopSignal& stop) {
  return Sleep(ms, &stop);
}

bool SimulatedClock::Sleep(uint32_t ms, const StopSignal* stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto stopped = [stop] { return stop && stop->Raised(); };
  const uint64_t end = now_ + ms;
  if (!stopped() && !FreeRunning() && end > limit_) {
    auto it = parked_.insert(end);
    changed_.notify_all();
    changed_.wait(lock, [&] { return stopped() || FreeRunning() || end <= limit_; });
    parked_.erase(it);
  }
  const bool whole = !stopped();
  if (whole) now_ = std::max(now_, end);
  changed_.notify_all();
  return whole;
}

void SimulatedClock::RaiseStop(StopSignal& stop) {
  {
    // Under the clock's lock, so that a sleeper between its test and its wait cannot miss it.
    std::lock_guard<std::mutex> lock(mutex_);
    stop.Raise();
  }
  changed_.notify_all();
}

void SimulatedClock::WaitFor(AutoResetEvent& event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++free_waiters_;
  }
  changed_.notify_all();
  // A thread that never signals would hang the test: it fails with a message instead.
  if (!event.WaitFor(kRealWaitLimitMs)) {
    std::fprintf(stderr,
                 "SimulatedClock: the awaited event did not come within %u s of real time\n",
                 kRealWaitLimitMs / 1000);
    std::abort();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  --free_waiters_;
  limit_ = std::max(limit_, now_);
}

uint64_t SimulatedClock::NowMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

void SimulatedClock::WaitSettled(std::unique_lock<std::mutex>& lock) {
  if (!changed_.wait_for(lock, std::chrono::seconds(30), [this] { return Settled(); })) {
    throw std::runtime_error("no thread sleeps on the simulated clock");
  }
}

void SimulatedClock::WaitForSleeper() {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitSettled(lock);
}

void SimulatedClock::AdvanceTo(uint64_t target_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitSettled(lock);
  if (target_ms <= now_) return;
  limit_ = target_ms;
  changed_.notify_all();
  // The sleepers due by the target run until they park beyond it.
  WaitSettled(lock);
  now_ = std::max(now_, target_ms);
}

}  // namespace veldrane::platform
