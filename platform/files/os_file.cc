#include "platform/files/os_file.h"

#include <cerrno>

namespace veldrane::platform {

const char* KindName(FileKind kind) {
  switch (kind) {
    case FileKind::kRegular:
      return "a regular file";
    case FileKind::kDirectory:
      return "a directory";
    case FileKind::kFifo:
      return "a FIFO";
    case FileKind::kCharDevice:
      return "a character device";
    case FileKind::kBlockDevice:
      return "a block device";
    case FileKind::kSocket:
      return "a socket";
    case FileKind::kOther:
      break;
  }
  return "not a regular file";
}

OsFile::~OsFile() {
  if (handle_ != kBadFile) Files().close(handle_);
}

bool OsFile::Failed() {
  error_ = errno != 0 ? errno : EIO;
  return false;
}

bool OsFile::OpenRead(const char* path) {
  Close();
  errno = 0;
  handle_ = Files().open_read(path);
  if (handle_ == kBadFile) return Failed();
  size_ = Files().size(handle_);  // -1 for a pipe: the length is then unknown
  position_ = 0;
  return true;
}

bool OsFile::CreateNew(const char* path, uint32_t mode) {
  Close();
  errno = 0;
  handle_ = Files().create_new(path, mode);
  if (handle_ == kBadFile) return Failed();
  size_ = -1;
  position_ = 0;
  return true;
}

bool OsFile::SetMode(uint32_t mode) {
  errno = 0;
  return Files().set_mode(handle_, mode) == 0 || Failed();
}

bool OsFile::SetOwner(uint32_t uid, uint32_t gid) {
  errno = 0;
  return Files().set_owner(handle_, uid, gid) == 0 || Failed();
}

bool OsFile::Info(FileInfo* info) {
  errno = 0;
  return Files().info_of(handle_, info) == 0 || Failed();
}

bool OsFile::Sync() {
  errno = 0;
  return Files().sync(handle_) == 0 || Failed();
}

bool OsFile::Close() {
  if (handle_ == kBadFile) return true;
  errno = 0;
  int r = Files().close(handle_);
  handle_ = kBadFile;
  return r == 0 || Failed();
}

int64_t OsFile::Read(void* buffer, size_t count) {
  errno = 0;
  int64_t n = Files().read(handle_, buffer, count);
  if (n < 0) {
    Failed();
    return -1;
  }
  position_ += static_cast<uint64_t>(n);
  return n;
}

bool OsFile::Write(const void* buffer, size_t count) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    errno = 0;
    int64_t n = Files().write(handle_, p, count);
    if (n < 0) return Failed();
    if (n == 0) {
      errno = ENOSPC;  // a write that takes nothing will not take it later either
      return Failed();
    }
    p += n;
    count -= static_cast<size_t>(n);
    position_ += static_cast<uint64_t>(n);
  }
  return true;
}

uint64_t OsFile::BytesLeft() const {
  if (size_ < 0) return kUnknownLength;
  uint64_t size = static_cast<uint64_t>(size_);
  // A file that grew while being read: what is left is unknown, not negative.
  return position_ <= size ? size - position_ : kUnknownLength;
}

}  // namespace veldrane::platform
