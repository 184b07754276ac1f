#include "platform/files/file_lock.h"

#include <cerrno>

namespace veldrane::platform {
namespace {

constexpr uint32_t kRetryMs = 10;

bool SameFile(const FileInfo& a, const FileInfo& b) {
  return a.device == b.device && a.inode == b.inode;
}

}  // namespace

FileLock::Result FileLock::Fail(int error) {
  error_ = error != 0 ? error : EIO;
  Unlock();
  return Result::kFailed;
}

FileLock::Result FileLock::Lock(const std::string& path, uint32_t wait_ms, Clock& clock) {
  Unlock();
  error_ = 0;
  uint32_t start = clock.TickMs();
  for (;;) {
    errno = 0;
    FileInfo at_path{};
    if (Files().info(path.c_str(), &at_path) != 0) {
      return errno == ENOENT ? Result::kNoFile : Fail(errno);
    }
    // The kind is not checked here: whoever reads the file refuses what is not a regular file.
    handle_ = Files().open_read(path.c_str());
    if (handle_ == kBadFile) return errno == ENOENT ? Result::kNoFile : Fail(errno);
    if (Files().info_of(handle_, &file_) != 0) return Fail(errno);
    bool locked = false;
    while (!locked) {
      errno = 0;
      locked = Files().try_lock(handle_) == 0;
      if (locked) break;
      if (errno != EWOULDBLOCK) return Fail(errno);
      if (clock.TickMs() - start >= wait_ms) {
        Unlock();
        return Result::kTimedOut;
      }
      clock.SleepMs(kRetryMs);
    }
    // The holder before us may have put a new file in this one's place: that one is the
    // configuration now.
    if (Holds(path)) return Result::kLocked;
    Unlock();
    if (clock.TickMs() - start >= wait_ms) return Result::kTimedOut;
  }
}

bool FileLock::Holds(const std::string& path) const {
  FileInfo now{};
  return locked() && Files().info(path.c_str(), &now) == 0 && SameFile(now, file_);
}

void FileLock::Unlock() {
  if (handle_ == kBadFile) return;
  Files().close(handle_);
  handle_ = kBadFile;
}

}  // namespace veldrane::platform
