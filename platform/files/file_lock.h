// FileLock: the exclusive advisory lock that the programs of this system take on a
// configuration around reading and replacing it, so that writers take turns and none loses
// another's changes. The lock is on the file that the path names (through symbolic links); a
// waiter that gets the lock of a file that was replaced meanwhile moves on to the new one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock/clock.h"
#include "platform/files/file_io.h"

namespace veldrane::platform {

class FileLock {
 public:
  enum class Result {
    kLocked,    // held until Unlock or destruction
    kNoFile,    // nothing to lock: no file at the path
    kTimedOut,  // another program held it for the whole wait
    kFailed,    // the file could not be opened or locked (error())
  };

  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits up to `wait_ms` for the lock of the file at `path`, trying every few milliseconds.
  Result Lock(const std::string& path, uint32_t wait_ms, Clock& clock = SystemClock());
  void Unlock();

  bool locked() const { return handle_ != kBadFile; }
  // The file held: the same file as the one at `path` now.
  bool Holds(const std::string& path) const;
  int error() const { return error_; }

 private:
  Result Fail(int error);

  FileHandle handle_ = kBadFile;
  FileInfo file_{};
  int error_ = 0;
};

}  // namespace veldrane::platform
