// What both conversions of code page 949 (glibc's iconv, Windows' code pages) do alike, apart
// from any converter: measuring UTF-8 sequences and showing text where no converter exists.
#pragma once

#include <cstddef>
#include <string>

namespace veldrane::platform {

// The length of the UTF-8 sequence at p, as far as its lead byte and its continuation bytes go
// (at least 1, at most `left`).
size_t Utf8Sequence(const unsigned char* p, size_t left);

bool IsAscii(const char* bytes, size_t length);

// Without a converter: ASCII as it is; each other character, one byte or a lead byte with the
// byte after it, as U+FFFD.
std::string ShowWithoutConverter(const char* bytes, size_t length);

}  // namespace veldrane::platform
