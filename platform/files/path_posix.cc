#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/path.h"

namespace veldrane::platform {

const char* const kPathSeparators = "/";

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  bool has_a = ::stat(a.c_str(), &sa) == 0, has_b = ::stat(b.c_str(), &sb) == 0;
  if (has_a && has_b) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return !has_a && !has_b && a == b;
}

std::string FinalTarget(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  char target[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : path;
}

}  // namespace veldrane::platform
