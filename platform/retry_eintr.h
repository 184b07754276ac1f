// A system call that a signal interrupted (-1 with EINTR), tried again until it ends otherwise.
// Not for close: the descriptor is gone even when it reports EINTR.
#pragma once

#include <cerrno>

namespace veldrane::platform {

template <typename Fn>
auto RetryOnEintr(Fn fn) {
  decltype(fn()) r;
  do {
    r = fn();
  } while (r == -1 && errno == EINTR);
  return r;
}

}  // namespace veldrane::platform
