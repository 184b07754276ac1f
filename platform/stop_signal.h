// A request to stop that ends a thread's waits on its clock at once (Clock::SleepUnlessStopped).
// It is raised through the clock (Clock::RaiseStop), which knows how its sleepers wait, and stays
// raised until cleared, so every later wait ends at once too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace veldrane::platform {

class StopSignal {
 public:
  StopSignal() = default;
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  bool Raised() const { return raised_.load(); }
  // Before the thread that waits on it starts again.
  void Clear() { raised_.store(false); }

  // For clocks: raises the signal and wakes a WaitFor.
  void Raise();
  // For clocks: waits up to `ms` for the signal; true when it is raised.
  bool WaitFor(uint32_t ms);

 private:
  std::atomic<bool> raised_{false};
  std::mutex mutex_;
  std::condition_variable raised_cv_;
};

}  // namespace veldrane::platform
