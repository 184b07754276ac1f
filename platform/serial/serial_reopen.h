// What a serial device keeps between its failures: why it cannot be used, whether it was lost
// (open once and gone since, so tried again at most once an interval), and whether it came back
// since the engine last asked. The terminal, the device server's port and the Windows device
// keep it alike.
#pragma once

#include <cstdint>

#include "platform/serial/serial_device.h"

namespace veldrane::platform {

class ReopenState {
 public:
  // `interval`: the least time between two tries, in the device's own unit of time.
  explicit ReopenState(uint64_t interval) : interval_(interval) {}

  // A new open: nothing lost, nothing come back.
  void Restart() {
    lost_ = false;
    returned_ = false;
  }
  // Keeps the cause of a failure for the calls that find the device unusable.
  SerialResult Fail(SerialResult r) {
    if (!r.ok()) failure_ = r;
    return r;
  }
  // The device went away at `now`; it is tried again an interval later.
  void Lose(SerialResult why, uint64_t now) {
    lost_ = true;
    failure_ = why;
    last_try_ = now;
  }
  // A lost device that is due another try at `now`.
  bool TryDue(uint64_t now) const { return lost_ && now - last_try_ >= interval_; }
  // The outcome of a try, timed `now` (its start or its end, as the device counts).
  void Tried(SerialResult r, uint64_t now) {
    last_try_ = now;
    if (!r.ok()) {
      failure_ = r;
      return;
    }
    lost_ = false;
    returned_ = true;
  }

  const SerialResult& failure() const { return failure_; }
  bool lost() const { return lost_; }
  // Whether the device came back since the last call.
  bool TakeReturned() {
    bool returned = returned_;
    returned_ = false;
    return returned;
  }

 private:
  const uint64_t interval_;
  bool lost_ = false;
  bool returned_ = false;
  SerialResult failure_{SerialFault::kNotFound, 0};
  uint64_t last_try_ = 0;
};

}  // namespace veldrane::platform
