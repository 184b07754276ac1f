// What a communication engine runs on: a clock and a source of serial devices. The driver runs
// on the system's clock and the POSIX device; a test installs simulated time and a fake line
// before the document opens its port. An engine takes the environment in use when it is
// created and keeps it for its life, so the transmit loop pays nothing for the choice.
#pragma once

#include <memory>

#include "platform/clock/clock.h"
#include "platform/serial/serial_device.h"

namespace veldrane::comm {

class CommEnvironment {
 public:
  virtual ~CommEnvironment() = default;
  virtual platform::Clock& GetClock() = 0;
  virtual std::unique_ptr<platform::SerialDevice> NewSerialDevice() = 0;
};

// The environment in use (the system's unless a test installed another).
CommEnvironment& Environment();
// Installs a replacement, which must outlive every engine created while it is installed; null
// restores the system's. Returns the previous one.
CommEnvironment* SetEnvironment(CommEnvironment* environment);

}  // namespace veldrane::comm
