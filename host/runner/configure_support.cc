#include "host/runner/configure_support.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/cp949.h"
#include "veldrane/config_window.h"

namespace veldrane::host {

bool ReadTagNames(const std::string& path, std::vector<std::string>* tags, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the tag file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    size_t last = line.find_last_not_of(" \t\r");
    tags->push_back(platform::Utf8ToCp949(line.substr(first, last - first + 1)));
  }
  return true;
}

bool HasConfigWindow(const std::string& driver_path) {
  size_t slash = driver_path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : driver_path.substr(0, slash);
  struct stat st {};
  return ::stat((folder + "/" + window::kWindowModuleName).c_str(), &st) == 0;
}

}  // namespace veldrane::host
