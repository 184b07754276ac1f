#include <cstring>

#include "platform/serial/port_map.h"
#include "platform/text/ascii.h"

namespace veldrane::platform {
namespace {

bool SameLetters(const char* text, const char* upper, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (AsciiUpper(text[i]) != upper[i]) return false;
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

}  // namespace veldrane::platform
