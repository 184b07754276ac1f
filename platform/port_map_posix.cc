#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/port_map.h"

namespace veldrane::platform {
namespace {

bool SameLetters(const char* text, const char* upper, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

}  // namespace

int ComPortNumber(const char* port_name) {
  if (!port_name) return 0;
  const char* p = port_name;
  if (std::strncmp(p, "\\\\.\\", 4) == 0) p += 4;
  if (std::strlen(p) < 4 || !SameLetters(p, "COM", 3)) return 0;
  p += 3;
  if (*p < '1' || *p > '9') return 0;  // no sign, no leading zero
  long n = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    n = n * 10 + (*p - '0');
    if (n > 1000000) return 0;
  }
  return static_cast<int>(n);
}

std::vector<std::string> PortMapDirs() {
  const char* list = std::getenv(kPortMapVariable);
  if (!list || !*list) return {kPortMapDir, kPortLinkDir};
  std::vector<std::string> dirs;
  for (const char* p = list;; ++p) {
    const char* end = std::strchr(p, ':');
    if (!end) end = p + std::strlen(p);
    if (end > p) dirs.emplace_back(p, end);
    if (!*end) break;
    p = end;
  }
  if (dirs.empty()) return {kPortMapDir, kPortLinkDir};
  return dirs;
}

std::string PortMapEntry(int n) {
  return PortMapDirs().front() + "/com" + std::to_string(n);
}

std::string OnBoardDevicePath(int n) {
  return "/dev/ttyS" + std::to_string(n - 1);
}

std::string ComDevicePath(const char* port_name) {
  int n = ComPortNumber(port_name);
  if (n == 0) return std::string();
  // An entry counts even when its link leads nowhere now (an adapter that is unplugged): the
  // port then fails to open instead of falling back to a later folder or an on-board port.
  for (const std::string& dir : PortMapDirs()) {
    std::string entry = dir + "/com" + std::to_string(n);
    struct stat st {};
    if (lstat(entry.c_str(), &st) == 0) return entry;
  }
  return OnBoardDevicePath(n);
}

}  // namespace veldrane::platform
