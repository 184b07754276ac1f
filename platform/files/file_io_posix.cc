#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files/file_io.h"
#include "platform/replaceable_api.h"
#include "platform/retry_eintr.h"

namespace veldrane::platform {
namespace {

FileHandle OpenRead(const char* path) {
  return RetryOnEintr([&] { return ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); });
}

FileHandle CreateNew(const char* path, uint32_t mode) {
  return RetryOnEintr([&] {
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                  static_cast<mode_t>(mode));
  });
}

int64_t Read(FileHandle file, void* buffer, size_t count) {
  return RetryOnEintr([&] { return static_cast<int64_t>(::read(file, buffer, count)); });
}

int64_t Write(FileHandle file, const void* buffer, size_t count) {
  return RetryOnEintr([&] { return static_cast<int64_t>(::write(file, buffer, count)); });
}

int Sync(FileHandle file) {
  return RetryOnEintr([&] { return ::fsync(file); });
}

// close is not retried: the descriptor is gone even when it reports EINTR.
int Close(FileHandle file) {
  return ::close(file);
}

int64_t Size(FileHandle file) {
  struct stat st {};
  if (::fstat(file, &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
}

int SetMode(FileHandle file, uint32_t mode) {
  return RetryOnEintr([&] { return ::fchmod(file, static_cast<mode_t>(mode)); });
}

int GetMode(const char* path, uint32_t* mode) {
  struct stat st {};
  if (::stat(path, &st) != 0) return -1;
  *mode = static_cast<uint32_t>(st.st_mode & 07777);
  return 0;
}

int CheckWritable(const char* path) {
  return ::access(path, W_OK);
}

int Replace(const char* from, const char* to) {
  return ::rename(from, to);
}

int Remove(const char* path) {
  return ::unlink(path);
}

int SyncDir(const char* path) {
  std::string dir(path);
  size_t slash = dir.find_last_of('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  int fd = RetryOnEintr([&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return -1;
  int r = RetryOnEintr([&] { return ::fsync(fd); });
  int saved = errno;
  ::close(fd);
  errno = saved;
  return r;
}

void FillInfo(const struct stat& st, FileInfo* info) {
  FileKind kind = FileKind::kOther;
  if (S_ISREG(st.st_mode)) kind = FileKind::kRegular;
  if (S_ISDIR(st.st_mode)) kind = FileKind::kDirectory;
  if (S_ISFIFO(st.st_mode)) kind = FileKind::kFifo;
  if (S_ISCHR(st.st_mode)) kind = FileKind::kCharDevice;
  if (S_ISBLK(st.st_mode)) kind = FileKind::kBlockDevice;
  if (S_ISSOCK(st.st_mode)) kind = FileKind::kSocket;
  *info = {kind,
           static_cast<uint32_t>(st.st_mode & 07777),
           static_cast<uint32_t>(st.st_uid),
           static_cast<uint32_t>(st.st_gid),
           static_cast<uint64_t>(st.st_dev),
           static_cast<uint64_t>(st.st_ino)};
}

int Info(const char* path, FileInfo* info) {
  struct stat st {};
  if (::stat(path, &st) != 0) return -1;
  FillInfo(st, info);
  return 0;
}

int InfoOf(FileHandle file, FileInfo* info) {
  struct stat st {};
  if (::fstat(file, &st) != 0) return -1;
  FillInfo(st, info);
  return 0;
}

int64_t ReadLink(const char* path, char* buffer, size_t size) {
  return static_cast<int64_t>(::readlink(path, buffer, size));
}

int SetOwner(FileHandle file, uint32_t uid, uint32_t gid) {
  return RetryOnEintr([&] {
    return ::fchown(file, uid == kKeepId ? static_cast<uid_t>(-1) : static_cast<uid_t>(uid),
                    gid == kKeepId ? static_cast<gid_t>(-1) : static_cast<gid_t>(gid));
  });
}

int TryLock(FileHandle file) {
  return RetryOnEintr([&] { return ::flock(file, LOCK_EX | LOCK_NB); });
}

int ListDir(const char* path, void (*each)(const char*, void*), void* context) {
  DIR* dir = ::opendir(path);
  if (!dir) return -1;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") each(entry->d_name, context);
  }
  ::closedir(dir);
  return 0;
}

int ProcessExists(int pid) {
  // EPERM: it exists, under another user.
  return pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH) ? 1 : 0;
}

const FileApi kSystem = {&OpenRead, &CreateNew, &Read,    &Write,   &Sync,
                         &Close,    &Size,      &SetMode, &GetMode, &CheckWritable,
                         &Replace,  &Remove,    &SyncDir, &Info,    &InfoOf,
                         &ReadLink, &SetOwner,  &TryLock, &ListDir, &ProcessExists};
ReplaceableApi<FileApi> g_api(&kSystem);

}  // namespace

const FileApi& Files() {
  return g_api.Get();
}

const FileApi* SetFileApi(const FileApi* api) {
  return g_api.Set(api);
}

const FileApi& SystemFileApi() {
  return g_api.System();
}

}  // namespace veldrane::platform
