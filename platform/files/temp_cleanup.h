// Temporary files that a signal must not leave behind. While one is registered, SIGINT, SIGTERM
// and SIGHUP, where they would end the process (their action is the default), first remove every
// registered file and then end it as they would have. A program with handlers of its own keeps
// them and ends its saves itself.
#pragma once

#include <string>

namespace veldrane::platform {

class TempFileGuard {
 public:
  TempFileGuard() = default;
  ~TempFileGuard() { Release(); }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

  // Registers the file at `path` (an absolute path, or one relative to a working directory
  // that does not change meanwhile). False when all places are taken: the file is then not
  // guarded, which costs nothing but a leftover.
  bool Guard(const std::string& path);
  // Forgets the file (after it was renamed or removed).
  void Release();

 private:
  int slot_ = -1;
};

}  // namespace veldrane::platform
