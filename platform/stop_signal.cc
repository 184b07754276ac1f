#include "platform/stop_signal.h"

#include <chrono>

namespace veldrane::platform {

void StopSignal::Raise() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    raised_.store(true);
  }
  raised_cv_.notify_all();
}

bool StopSignal::WaitFor(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return raised_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Raised(); });
}

}  // namespace veldrane::platform
