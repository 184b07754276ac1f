// AtomicFile: replaces a file as a whole or not at all. The new content goes to a temporary file
// beside the old one, which Commit flushes to the disk and renames over the old file; until
// then, and whenever a step fails, the old file stays exactly as it was and the temporary file
// is removed. The new file keeps the old file's permission bits.
#pragma once

#include <string>

#include "platform/os_file.h"

namespace veldrane::platform {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // removes the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for `path`. False when the path may not be written (an existing
  // read-only file, a directory that refuses it).
  bool Begin(const std::string& path);
  // Where the new content goes, between Begin and Commit.
  CFile& File() { return file_; }
  // Flushes, closes and puts the new file in the old one's place.
  bool Commit();

  // After a failure: the system's error number and the step that failed ("create", "write"...).
  int error() const { return error_; }
  const char* failed_step() const { return failed_step_; }

 private:
  bool Fail(const char* step, int error);
  void Discard();

  std::string path_;
  std::string temp_path_;
  OsFile file_;
  bool committed_ = false;
  int error_ = 0;
  const char* failed_step_ = "";
};

}  // namespace veldrane::platform
