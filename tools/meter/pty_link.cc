#include "tools/meter/pty_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace veldrane::meter {
namespace {

// The target of the link at `path`, or empty when it is no link.
std::string LinkTarget(const std::string& path) {
  std::vector<char> buffer(4096);
  ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
}

}  // namespace

bool PtyLink::Make(const std::string& path, const std::string& target, std::string* error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    *error = path + " exists and is not a symbolic link; it was left as it is";
    return false;
  }
  // A new link under a name of its own, renamed over the old one in one step.
  std::string temp = path + ".link" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot link " + path + " to " + target + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  path_ = path;
  target_ = target;
  return true;
}

PtyLink::~PtyLink() {
  if (!path_.empty() && LinkTarget(path_) == target_) unlink(path_.c_str());
}

}  // namespace veldrane::meter
