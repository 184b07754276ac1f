// A lock for each port a runner drives, so that a second runner (another service, or one
// started by hand) on the same port is refused as busy instead of taking the meters' line from
// the first. The lock is a file in the lock folder that serial programs share (/run/lock;
// VELDRANE_LOCK_DIR replaces it), named after the device the port leads to ("LCK..ttyUSB0",
// as those programs name theirs; "LCK..pts_3" for /dev/pts/3), or after each address that a
// device server's name resolves to ("LCK..veldrane-net-127.0.0.1-4001"), so that two spellings
// of one server meet. It holds the process number in ten characters and a line end, as those
// programs write it (then a line "veldrane-host"), and is held with flock: a runner that
// crashed holds nothing, and its file is taken over, as is another program's file whose
// process has ended. POSIX: port_lock_posix.cc; Windows opens a COM port
// for one program alone and takes no lock (port_lock_windows.cc).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace veldrane::host {

// The lock files taken for one port; released (removed) when destroyed.
class PortLock {
 public:
  PortLock() = default;
  ~PortLock();
  PortLock(PortLock&& other) noexcept : files_(std::exchange(other.files_, {})) {}
  PortLock& operator=(PortLock&& other) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Takes the lock file `name` in `dir` beside those held. kBusy: another process holds it,
  // and `text` names that process and the file; kNoLock: the file cannot be made or taken
  // (`text` says why), which leaves the port unprotected but usable.
  enum class Outcome { kTaken, kBusy, kNoLock };
  Outcome Take(const std::string& dir, const std::string& name, std::string* text);
  // Removes the files held and lets them go.
  void Release();
  bool held() const { return !files_.empty(); }

 private:
  std::vector<std::pair<int, std::string>> files_;  // descriptor and path of each file held
};

// The names of the lock files of what `port` (COMn) leads to: the device, or each address of
// the device server. None for a port that leads to nothing to lock (not found, no device, a
// name that does not resolve): opening it fails and says why.
std::vector<std::string> PortLockNames(const std::string& port);

// The lock folder: VELDRANE_LOCK_DIR, or /run/lock.
std::string PortLockDir();

// Takes every lock of `port` into `lock`; stops at the first that another holds (kBusy, the
// locks taken released) or that cannot be made (kNoLock, with `text` saying so).
PortLock::Outcome LockPort(const std::string& port, PortLock* lock, std::string* text);

}  // namespace veldrane::host
