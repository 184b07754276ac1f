#include "platform/text/cp949_text.h"

namespace veldrane::platform {

size_t Utf8Sequence(const unsigned char* p, size_t left) {
  size_t n = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC0 ? 2 : 1;
  size_t i = 1;
  while (i < n && i < left && (p[i] & 0xC0) == 0x80) ++i;
  return i;
}

bool IsAscii(const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(bytes[i]) >= 0x80) return false;
  }
  return true;
}

std::string ShowWithoutConverter(const char* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    out += "\xEF\xBF\xBD";
    if (c >= 0x81 && c <= 0xFE && i + 1 < length) ++i;
  }
  return out;
}

}  // namespace veldrane::platform
