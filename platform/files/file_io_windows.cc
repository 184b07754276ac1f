// Files on Windows. Handles are the C library's descriptors over Win32 handles opened with every
// sharing mode (so that a file being read can still be replaced); paths are UTF-8. A replace is
// ReplaceFileW over an existing file (which keeps its attributes) and MoveFileExW otherwise, both
// written through; a flush is FlushFileBuffers. The advisory lock is a byte-range lock far
// beyond the end of the file, so that it blocks other lockers but never a reader.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <string>

#include "platform/files/file_io.h"
#include "platform/replaceable_api.h"
#include "platform/text/win_text.h"

namespace veldrane::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The locked byte: as far out as a file never grows.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    default:
      return EIO;
  }
}

int FailWith(DWORD error) {
  errno = ErrnoOf(error);
  return -1;
}

HANDLE Native(FileHandle file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(file));
}

FileHandle Descriptor(HANDLE h, int flags) {
  if (h == INVALID_HANDLE_VALUE) return FailWith(GetLastError());
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd < 0) CloseHandle(h);
  return fd;
}

FileHandle OpenRead(const char* path) {
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return Descriptor(h, _O_RDONLY | _O_BINARY);
}

FileHandle CreateNew(const char* path, uint32_t mode) {
  DWORD attributes = (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                         nullptr, CREATE_NEW, attributes, nullptr);
  return Descriptor(h, _O_WRONLY | _O_BINARY);
}

int64_t Read(FileHandle file, void* buffer, size_t count) {
  DWORD n = 0;
  DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!ReadFile(Native(file), buffer, chunk, &n, nullptr)) {
    DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
    return FailWith(error);
  }
  return n;
}

int64_t Write(FileHandle file, const void* buffer, size_t count) {
  DWORD n = 0;
  DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!WriteFile(Native(file), buffer, chunk, &n, nullptr)) return FailWith(GetLastError());
  return n;
}

int Sync(FileHandle file) {
  return FlushFileBuffers(Native(file)) ? 0 : FailWith(GetLastError());
}

int Close(FileHandle file) {
  return _close(file);
}

int64_t Size(FileHandle file) {
  HANDLE h = Native(file);
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
    errno = EINVAL;
    return -1;
  }
  return size.QuadPart;
}

// Windows knows one permission bit: read-only.
int SetMode(FileHandle file, uint32_t mode) {
  FILE_BASIC_INFO info{};
  HANDLE h = Native(file);
  if (!GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info)) {
    return FailWith(GetLastError());
  }
  if (mode & 0200) {
    info.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  } else {
    info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
  }
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info)
             ? 0
             : FailWith(GetLastError());
}

int GetMode(const char* path, uint32_t* mode) {
  DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWith(GetLastError());
  *mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  return 0;
}

int CheckWritable(const char* path) {
  DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWith(GetLastError());
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    errno = EACCES;
    return -1;
  }
  return 0;
}

int Replace(const char* from, const char* to) {
  std::wstring source = WideFromUtf8(from);
  std::wstring target = WideFromUtf8(to);
  if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
      ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return 0;
  }
  // A new file, or one that ReplaceFileW cannot take (another volume's rules): a move that
  // replaces, written through.
  return MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : FailWith(GetLastError());
}

int Remove(const char* path) {
  return DeleteFileW(WideFromUtf8(path).c_str()) ? 0 : FailWith(GetLastError());
}

// The replace is written through: nothing more to flush.
int SyncDir(const char*) {
  return 0;
}

int FillInfo(HANDLE h, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION by{};
  DWORD type = GetFileType(h);
  FileKind kind = type == FILE_TYPE_CHAR   ? FileKind::kCharDevice
                  : type == FILE_TYPE_PIPE ? FileKind::kFifo
                                           : FileKind::kOther;
  if (type == FILE_TYPE_DISK) {
    if (!GetFileInformationByHandle(h, &by)) return FailWith(GetLastError());
    kind = (by.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kDirectory
                                                            : FileKind::kRegular;
  }
  *info = {kind,
           (by.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444u : 0666u,
           0,
           0,
           by.dwVolumeSerialNumber,
           (static_cast<uint64_t>(by.nFileIndexHigh) << 32) | by.nFileIndexLow};
  return 0;
}

int Info(const char* path, FileInfo* info) {
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FailWith(GetLastError());
  int r = FillInfo(h, info);
  CloseHandle(h);
  return r;
}

int InfoOf(FileHandle file, FileInfo* info) {
  return FillInfo(Native(file), info);
}

// Links are not followed by hand here: the system follows them.
int64_t ReadLink(const char*, char*, size_t) {
  errno = EINVAL;
  return -1;
}

// A file's owner is the account's; nothing to keep.
int SetOwner(FileHandle, uint32_t, uint32_t) {
  return 0;
}

int TryLock(FileHandle file) {
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  if (LockFileEx(Native(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return 0;
  }
  DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
    errno = EWOULDBLOCK;
    return -1;
  }
  return FailWith(error);
}

int ListDir(const char* path, void (*each)(const char*, void*), void* context) {
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW((WideFromUtf8(path) + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return FailWith(GetLastError());
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") each(Utf8FromWide(name).c_str(), context);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return 0;
}

int ProcessExists(int pid) {
  if (pid <= 0) return 0;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED ? 1 : 0;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running ? 1 : 0;
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
