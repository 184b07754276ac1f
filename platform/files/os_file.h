// OsFile: a CFile over a file of the operating system, every call made through the file table
// (platform/files/file_io.h).
#pragma once

#include <cstdint>

#include "fw/archive.h"
#include "platform/files/file_io.h"

namespace veldrane::platform {

class OsFile : public CFile {
 public:
  OsFile() = default;
  ~OsFile() override;  // closes the file if still open

  // Opens an existing file for reading, shared with other readers and writers.
  bool OpenRead(const char* path);
  // Creates a new file (it must not exist) for writing with the permission bits `mode`.
  bool CreateNew(const char* path, uint32_t mode);
  bool SetMode(uint32_t mode);
  // Owner and group (either may be kKeepId).
  bool SetOwner(uint32_t uid, uint32_t gid);
  bool Info(FileInfo* info);
  // Opened for reading and a regular file (its size known).
  bool IsRegular() const { return handle_ != kBadFile && size_ >= 0; }
  // Flushes the data to the disk.
  bool Sync();
  bool Close();

  int64_t Read(void* buffer, size_t count) override;
  bool Write(const void* buffer, size_t count) override;
  uint64_t BytesLeft() const override;
  int LastError() const override { return error_; }

 private:
  bool Failed();  // records errno; returns false

  FileHandle handle_ = kBadFile;
  int64_t size_ = -1;  // of a regular file opened for reading; -1 when unknown
  uint64_t position_ = 0;
  int error_ = 0;
};

}  // namespace veldrane::platform
