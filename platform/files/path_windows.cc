#include <windows.h>

#include "platform/files/path.h"
#include "platform/text/win_text.h"

namespace veldrane::platform {
namespace {

// The volume and file index of what a path names; false when it names nothing that opens.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(h, info) != FALSE;
  CloseHandle(h);
  return ok;
}

}  // namespace

const char* const kPathSeparators = "/\\";

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  bool has_a = FileIdentity(a, &ia), has_b = FileIdentity(b, &ib);
  if (has_a && has_b) {
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }
  return !has_a && !has_b && a == b;
}

// A COM port's name is its device on Windows: there is no chain of links to follow.
std::string FinalTarget(const std::string& path) {
  return path;
}

}  // namespace veldrane::platform
