// Files: the system calls that reading and saving configuration files make, reached through one
// replaceable table so that tests can fail any call (a full disk, a refused directory, a failing
// flush or rename). Every call answers -1 (or kBadFile) on failure with the reason in errno.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldrane::platform {

using FileHandle = int;
inline constexpr FileHandle kBadFile = -1;

enum class FileKind { kRegular, kDirectory, kFifo, kCharDevice, kBlockDevice, kSocket, kOther };

struct FileInfo {
  FileKind kind = FileKind::kOther;
  uint32_t mode = 0;  // permission bits
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint64_t device = 0;  // device and inode together name the file itself, whatever its path
  uint64_t inode = 0;
};

// "a directory", "a FIFO"... for messages.
const char* KindName(FileKind kind);

// set_owner: leaves the owner or the group as it is.
inline constexpr uint32_t kKeepId = UINT32_MAX;

struct FileApi {
  // Opens an existing file for reading, shared with other readers and writers. Never waits: a
  // FIFO without a writer opens at once.
  FileHandle (*open_read)(const char* path);
  // Creates a file that must not exist yet, for writing, with the permission bits `mode`
  // (before the process's mask).
  FileHandle (*create_new)(const char* path, uint32_t mode);
  // Bytes read (0 at the end) or written, or -1.
  int64_t (*read)(FileHandle file, void* buffer, size_t count);
  int64_t (*write)(FileHandle file, const void* buffer, size_t count);
  // Flushes the file's data to the disk.
  int (*sync)(FileHandle file);
  int (*close)(FileHandle file);
  // The size of an open regular file, or -1 (errno EINVAL for a pipe or device).
  int64_t (*size)(FileHandle file);
  // Sets the permission bits of an open file exactly (the mask does not apply).
  int (*set_mode)(FileHandle file, uint32_t mode);
  // The permission bits of an existing path.
  int (*get_mode)(const char* path, uint32_t* mode);
  // 0 when the process may write the existing file at path.
  int (*check_writable)(const char* path);
  // Puts `from` in the place of `to` in one step; `to` may exist.
  int (*replace)(const char* from, const char* to);
  int (*remove)(const char* path);
  // Flushes the directory that holds `path`, so that a replace survives a crash.
  int (*sync_dir)(const char* path);
  // What is at a path (symbolic links followed), and what an open file is.
  int (*info)(const char* path, FileInfo* info);
  int (*info_of)(FileHandle file, FileInfo* info);
  // The target of a symbolic link: its length (the buffer is not terminated), or -1 (EINVAL
  // when the path is not a link).
  int64_t (*read_link)(const char* path, char* buffer, size_t size);
  // Gives an open file this owner and group (either may be kKeepId).
  int (*set_owner)(FileHandle file, uint32_t uid, uint32_t gid);
  // Takes the exclusive advisory lock of an open file without waiting: -1 with EWOULDBLOCK while
  // another open file holds it. Closing the file releases it.
  int (*try_lock)(FileHandle file);
  // Calls each(name, context) for every entry of a directory but . and ..
  int (*list_dir)(const char* dir, void (*each)(const char* name, void* context), void* context);
  // 0 when no process has this id (a process that left a temporary file behind is gone).
  int (*process_exists)(int pid);
};

// The table in use (the system's unless a test installed another).
const FileApi& Files();
// Installs a replacement; null restores the system's. Returns the previous one.
const FileApi* SetFileApi(const FileApi* api);
const FileApi& SystemFileApi();

}  // namespace veldrane::platform
