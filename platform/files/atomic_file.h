// AtomicFile: replaces a file as a whole or not at all. The new content goes to a temporary file
// beside the old one, which Commit flushes to the disk and renames over the old file; until
// then, and whenever a step fails, the old file stays exactly as it was and the temporary file
// is removed (by a signal that ends the process too, platform/files/temp_cleanup.h). The new file
// keeps the old file's permission bits, and its owner and group where the process may give
// them. A path that is a symbolic link saves into the file that the link names.
//
// Writers take turns: from Begin to Commit the file's advisory lock (platform/files/file_lock.h) is
// held, unless the caller already holds it from reading the file for an update.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files/file_lock.h"
#include "platform/files/os_file.h"
#include "platform/files/temp_cleanup.h"

namespace veldrane::platform {

class AtomicFile {
 public:
  // The step of a save that failed.
  enum class Step {
    kNone,
    kFollowLink,
    kLock,
    kOpen,
    kCreate,
    kSetPermissions,
    kWrite,
    kFlush,
    kClose,
    kReplace,
  };
  // What the step does, for "cannot ...": "follow the link", "lock", "create", ...
  static const char* StepText(Step step);

  // How long a save waits for another program's lock, by default.
  static constexpr uint32_t kLockWaitMs = 10000;

  AtomicFile() = default;
  ~AtomicFile();  // removes the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for `path`, first removing temporary files of this kind that a
  // process now gone left beside it. False when the path may not be written (an existing
  // read-only file, a directory that refuses it) or when another program held the file's lock
  // for the whole wait (the step kLock, error EWOULDBLOCK). `held`: a lock the caller holds.
  bool Begin(const std::string& path, const FileLock* held = nullptr,
             uint32_t lock_wait_ms = kLockWaitMs);
  // Where the new content goes, between Begin and Commit.
  CFile& File() { return file_; }
  // Flushes, closes and puts the new file in the old one's place.
  bool Commit();

  // The file written: the path given, or the file its symbolic link names.
  const std::string& target() const { return target_; }
  // After a failure: the system's error number and the step that failed.
  int error() const { return error_; }
  Step failed() const { return failed_; }
  const char* failed_step() const { return StepText(failed_); }

 private:
  bool Fail(Step step, int error);
  void Discard();
  void KeepOwner(const FileInfo& old);
  void RemoveStaleTemporaries();

  std::string target_;
  std::string temp_path_;
  OsFile file_;
  FileLock lock_;
  TempFileGuard guard_;
  bool committed_ = false;
  int error_ = 0;
  Step failed_ = Step::kNone;
};

// The file that `path` names once its symbolic links are followed (a link to a file that does
// not exist yet names that file). False with errno (ELOOP for a circle of links).
bool FollowLinks(const std::string& path, std::string* target);

}  // namespace veldrane::platform
