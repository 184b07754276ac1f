#include "host/runner/configure_support.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/files/file_io.h"
#include "platform/text/cp949.h"
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

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  platform::FileInfo info{};
  if (platform::Files().info(path.c_str(), &info) != 0) return stamp;
  stamp.exists = true;
  stamp.device = info.device;
  stamp.inode = info.inode;
  std::error_code error;
  auto modified = std::filesystem::last_write_time(path, error);
  if (!error) stamp.modified = modified.time_since_epoch().count();
  auto size = std::filesystem::file_size(path, error);
  if (!error) stamp.size = static_cast<int64_t>(size);
  return stamp;
}

bool WrittenSince(const FileStamp& before, const FileStamp& after) {
  return after.exists && !(before == after);
}

}  // namespace veldrane::host
