#include "platform/report_limit.h"

namespace veldrane::platform {

bool ReportLimit::Take(Clock::time_point now) {
  last_ = now;
  if (counted_ == 0 && Expired(now)) {
    start_ = now;
    shown_ = 0;
  }
  if (shown_ < in_full_) {
    ++shown_;
    return true;
  }
  ++counted_;
  return false;
}

uint64_t ReportLimit::TakeUncounted(Clock::time_point now, bool flush) {
  if (counted_ == 0 || !(flush || Expired(now))) return 0;
  uint64_t count = counted_;
  counted_ = 0;
  // The count closes its interval. While the flood goes on, the next interval only counts; after
  // a quiet spell reports are shown in full again.
  start_ = now;
  shown_ = now - last_ < interval_ ? in_full_ : 0;
  return count;
}

}  // namespace veldrane::platform
