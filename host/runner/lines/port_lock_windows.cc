// Windows opens a COM port for one program alone, so a second runner finds it busy without a
// lock file; none is taken.
#include "host/runner/lines/port_lock.h"

namespace veldrane::host {

PortLock::~PortLock() = default;

PortLock& PortLock::operator=(PortLock&& other) noexcept {
  files_ = std::exchange(other.files_, {});
  return *this;
}

void PortLock::Release() {
  files_.clear();
}

PortLock::Outcome PortLock::Take(const std::string&, const std::string&, std::string*) {
  return Outcome::kTaken;
}

std::vector<std::string> PortLockNames(const std::string&) {
  return {};
}

std::string PortLockDir() {
  return {};
}

PortLock::Outcome LockPort(const std::string&, PortLock*, std::string*) {
  return PortLock::Outcome::kTaken;
}

}  // namespace veldrane::host
