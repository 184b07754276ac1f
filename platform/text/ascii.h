// Letters of the ASCII range only, whatever the locale: names, schemes and port names compare
// their Latin letters without case, and leave every other byte (code page 949 among them) as it
// is.
#pragma once

namespace veldrane::platform {

constexpr char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace veldrane::platform
