#include "platform/auto_reset_event.h"

#include <chrono>

namespace veldrane::platform {

void AutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  signalled_cv_.notify_one();
}

void AutoResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

void AutoResetEvent::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  signalled_cv_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

bool AutoResetEvent::WaitFor(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!signalled_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; })) {
    return false;
  }
  signalled_ = false;
  return true;
}

}  // namespace veldrane::platform
