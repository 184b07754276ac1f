#include "config/station_name.h"

#include "platform/text/ascii.h"

namespace veldrane {
namespace {

bool IsLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

unsigned char Upper(unsigned char c) {
  return static_cast<unsigned char>(platform::AsciiUpper(static_cast<char>(c)));
}

// Visits the characters of a name: fn(bytes, count) with count 1 or 2.
template <typename Fn>
void ForEachChar(const char* s, size_t length, Fn fn) {
  size_t i = 0;
  while (i < length) {
    size_t n = (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < length) ? 2 : 1;
    fn(s + i, n);
    i += n;
  }
}

}  // namespace

// Equal exactly when the folded names are equal, without building them: every lookup of the
// host's per-station slots walks the list with it.
bool SameStationName(const char* a, size_t a_length, const char* b, size_t b_length) {
  if (a_length != b_length) return false;
  size_t i = 0;
  while (i < a_length) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    bool double_a = IsLeadByte(ca) && i + 1 < a_length;
    bool double_b = IsLeadByte(cb) && i + 1 < b_length;
    if (double_a != double_b) return false;
    if (double_a) {
      if (ca != cb || a[i + 1] != b[i + 1]) return false;
      i += 2;
    } else {
      if (Upper(ca) != Upper(cb)) return false;
      ++i;
    }
  }
  return true;
}

std::string FoldStationName(const char* name, size_t length) {
  std::string key;
  key.reserve(length);
  ForEachChar(name, length, [&](const char* c, size_t n) {
    if (n == 1) {
      key += static_cast<char>(Upper(static_cast<unsigned char>(c[0])));
    } else {
      key.append(c, n);
    }
  });
  return key;
}

void UpperCaseStationText(CString& text) {
  std::string key = FoldStationName(text.GetString(), text.GetLength());
  text.Assign(key.data(), key.size());
}

}  // namespace veldrane
