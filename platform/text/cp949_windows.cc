// Code page 949 on Windows: MultiByteToWideChar and WideCharToMultiByte, one character at a
// time, so that exactly the characters that do not convert are replaced (or refused).
#include <windows.h>

#include <stdexcept>
#include <string>

#include "platform/replaceable_api.h"
#include "platform/text/cp949.h"
#include "platform/text/cp949_text.h"

namespace veldrane::platform {

struct CodePageApi {
  BOOL (*has_code_page)(UINT code_page);
  int (*to_wide)(UINT code_page, DWORD flags, const char* in, int in_length, wchar_t* out,
                 int out_length);
  int (*from_wide)(UINT code_page, DWORD flags, const wchar_t* in, int in_length, char* out,
                   int out_length, const char* default_char, BOOL* used_default);
};

namespace {

constexpr UINT kCp949 = 949;
constexpr const char* kReplacement = "\xEF\xBF\xBD";

const CodePageApi kSystem = {&IsValidCodePage, &MultiByteToWideChar, &WideCharToMultiByte};
const CodePageApi kNone = {[](UINT) -> BOOL { return FALSE; }, &MultiByteToWideChar,
                           &WideCharToMultiByte};
ReplaceableApi<CodePageApi> g_api(&kSystem);

const CodePageApi& Api() {
  return g_api.Get();
}

bool HaveConverter() {
  return Api().has_code_page(kCp949) != FALSE;
}

[[noreturn]] void ThrowNoConverter() {
  throw std::runtime_error(kNoCp949Converter);
}

// UTF-16 units as UTF-8 (they came from the system's decoding, so they are well-formed).
std::string Utf8Of(const wchar_t* units, int count) {
  char out[16];
  int n = Api().from_wide(CP_UTF8, 0, units, count, out, sizeof out, nullptr, nullptr);
  return std::string(out, static_cast<size_t>(n > 0 ? n : 0));
}

// Code page 949 bytes of one character given as UTF-16 units; false when it has none.
bool Cp949Of(const wchar_t* units, int count, std::string* out) {
  char bytes[8];
  BOOL used_default = FALSE;
  int n = Api().from_wide(kCp949, WC_NO_BEST_FIT_CHARS, units, count, bytes, sizeof bytes, nullptr,
                          &used_default);
  if (n <= 0 || used_default) return false;
  out->append(bytes, static_cast<size_t>(n));
  return true;
}

// Decodes code page 949 into UTF-8; each byte that starts no character becomes U+FFFD.
std::string DecodeCp949(const char* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length;) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    wchar_t units[2];
    int n =
        i + 1 < length ? Api().to_wide(kCp949, MB_ERR_INVALID_CHARS, bytes + i, 2, units, 2) : 0;
    if (n == 1) {
      out += Utf8Of(units, 1);
      i += 2;
      continue;
    }
    n = Api().to_wide(kCp949, MB_ERR_INVALID_CHARS, bytes + i, 1, units, 2);
    out += n == 1 ? Utf8Of(units, 1) : kReplacement;
    ++i;
  }
  return out;
}

// Encodes UTF-8 into code page 949, character by character; at one that is not UTF-8 or has no
// code, on_bad(offset) answers true to write '?' and go on, false to stop.
template <typename OnBad>
bool EncodeUtf8(const char* text, size_t length, std::string* out, OnBad on_bad) {
  for (size_t i = 0; i < length;) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      *out += static_cast<char>(c);
      ++i;
      continue;
    }
    size_t n = Utf8Sequence(reinterpret_cast<const unsigned char*>(text + i), length - i);
    wchar_t units[4];
    int count =
        Api().to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, text + i, static_cast<int>(n), units, 4);
    if (count <= 0 || !Cp949Of(units, count, out)) {
      if (!on_bad(i)) return false;
      *out += '?';
    }
    i += n;
  }
  return true;
}

}  // namespace

std::string Cp949ToUtf8(const char* bytes, size_t length) {
  if (!HaveConverter()) return ShowWithoutConverter(bytes, length);
  return DecodeCp949(bytes, length);
}

std::string Cp949ToUtf8Exact(const std::string& s) {
  if (HaveConverter()) return DecodeCp949(s.data(), s.size());
  if (!IsAscii(s.data(), s.size())) ThrowNoConverter();
  return s;
}

std::string Utf8ToCp949(const char* text, size_t length) {
  if (!HaveConverter()) {
    if (!IsAscii(text, length)) ThrowNoConverter();
    return std::string(text, length);
  }
  std::string out;
  EncodeUtf8(text, length, &out, [](size_t) { return true; });
  return out;
}

bool Utf8ToCp949Exact(const char* text, size_t length, std::string* out, size_t* bad_at) {
  out->clear();
  *bad_at = 0;
  if (!HaveConverter()) {
    if (!IsAscii(text, length)) ThrowNoConverter();
    out->assign(text, length);
    return true;
  }
  return EncodeUtf8(text, length, out, [&](size_t at) {
    *bad_at = at;
    return false;
  });
}

std::string Utf16ToCp949(const uint16_t* units, size_t count) {
  const bool converter = HaveConverter();
  std::string out;
  for (size_t i = 0; i < count;) {
    if (units[i] < 0x80) {
      out += static_cast<char>(units[i]);
      ++i;
      continue;
    }
    if (!converter) ThrowNoConverter();
    bool pair = units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < count &&
                units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
    int n = pair ? 2 : 1;
    wchar_t wide[2] = {static_cast<wchar_t>(units[i]),
                       static_cast<wchar_t>(pair ? units[i + 1] : 0)};
    if (!Cp949Of(wide, n, &out)) out += '?';
    i += static_cast<size_t>(n);
  }
  return out;
}

const CodePageApi* SetCodePageApi(const CodePageApi* api) {
  return g_api.Set(api);
}

const CodePageApi& SystemCodePageApi() {
  return g_api.System();
}

const CodePageApi& NoCodePageApi() {
  return kNone;
}

}  // namespace veldrane::platform
