// Files: the system calls that reading and saving configuration files make, reached through one
// replaceable table so that tests can fail any call (a full disk, a refused directory, a failing
// flush or rename). Every call answers -1 (or kBadFile) on failure with the reason in errno.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldrane::platform {

using FileHandle = int;
inline constexpr FileHandle kBadFile = -1;

struct FileApi {
  // Opens an existing file for reading, shared with other readers and writers.
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
};

// The table in use (the system's unless a test installed another).
const FileApi& Files();
// Installs a replacement; null restores the system's. Returns the previous one.
const FileApi* SetFileApi(const FileApi* api);
const FileApi& SystemFileApi();

}  // namespace veldrane::platform
