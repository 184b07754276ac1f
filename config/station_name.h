// Station names: ASCII letters compare without regard to case; every other byte compares
// exactly, and a code page 949 double-byte character (lead byte 0x81 to 0xFE and the byte after
// it) is one character compared exactly, even when its second byte lies in the letter range
// (0x81 0x41 and 0x81 0x61 are two different syllables).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "fw/cstring.h"

namespace veldrane {

bool SameStationName(const char* a, size_t a_length, const char* b, size_t b_length);
inline bool SameStationName(const CString& a, const CString& b) {
  return SameStationName(a.GetString(), a.GetLength(), b.GetString(), b.GetLength());
}
inline bool SameStationName(const CString& a, const char* b) {
  return b && SameStationName(a.GetString(), a.GetLength(), b, std::strlen(b));
}

// The key two names share exactly when SameStationName holds: single-byte letters upper-cased,
// double-byte characters copied unchanged.
std::string FoldStationName(const char* name, size_t length);

// Upper-cases single-byte ASCII letters in place and leaves both bytes of every double-byte
// character alone.
void UpperCaseStationText(CString& text);

}  // namespace veldrane
