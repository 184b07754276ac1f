#include "config/save_failure.h"

#include <cerrno>

#include "platform/files/atomic_file.h"
#include "platform/files/file_io.h"

namespace veldrane {
namespace {

std::string FolderOf(const std::string& file) {
  size_t slash = file.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

std::string Remedy(const std::string& path, int sys_error) {
  std::string file = path;
  platform::FollowLinks(path, &file);
  std::string folder = FolderOf(file);
  platform::FileInfo info{};
  bool exists = platform::Files().info(file.c_str(), &info) == 0;
  switch (sys_error) {
    case EACCES:
    case EPERM:
      if (exists && platform::Files().check_writable(file.c_str()) != 0) {
        return "the file is read-only for this user: make it writable (chmod u+w " + file +
               ") or save as a user who may write it";
      }
      return "a save writes the new configuration to a new file in the folder " + folder +
             " and then puts it in the old one's place, so this user needs write permission on "
             "the folder " +
             folder + " (or save the configuration in a folder of this user's)";
    case EROFS:
      return "the file system that holds " + folder +
             " is mounted read-only: remount it writable, or save the configuration elsewhere";
    case ENOSPC:
      return "the disk that holds " + folder + " is full: free some space and save again";
#ifdef EDQUOT
    case EDQUOT:
      return "this user's disk quota is used up: free some space and save again";
#endif
    default:
      return std::string();
  }
}

}  // namespace

std::string SaveFailureText(const std::string& path, const std::string& failure, int sys_error) {
  std::string remedy = Remedy(path, sys_error);
  return remedy.empty() ? failure : failure + "; " + remedy;
}

}  // namespace veldrane
