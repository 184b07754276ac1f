// An auto-reset event: Set lets exactly one Wait through (or the next one, when nobody waits
// yet), and the wait that takes the signal resets it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace veldrane::platform {

class AutoResetEvent {
 public:
  AutoResetEvent() = default;  // not signalled
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Set();
  void Reset();
  // Blocks until signalled and takes the signal.
  void Wait();
  // As Wait, for at most `ms` milliseconds; false when the time passed without a signal.
  bool WaitFor(uint32_t ms);

 private:
  std::mutex mutex_;
  std::condition_variable signalled_cv_;
  bool signalled_ = false;
};

}  // namespace veldrane::platform
