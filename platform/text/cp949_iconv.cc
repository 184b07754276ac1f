// Code page 949 through glibc's iconv ("CP949" is its name for the unified Hangul code).
#include <iconv.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include "platform/replaceable_api.h"
#include "platform/text/cp949.h"
#include "platform/text/cp949_text.h"

namespace veldrane::platform {

struct CodePageApi {
  // As iconv_open: a descriptor, or (iconv_t)-1 when the system has no such converter.
  iconv_t (*open)(const char* to_code, const char* from_code);
};

namespace {

const CodePageApi kNone = {[](const char*, const char*) {
  errno = EINVAL;
  return reinterpret_cast<iconv_t>(-1);
}};
const CodePageApi kSystem = {[](const char* to, const char* from) { return iconv_open(to, from); }};
ReplaceableApi<CodePageApi> g_api(&kSystem);

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(g_api.Get().open(to, from)) {}
  ~Converter() {
    if (cd_ != kNoDescriptor) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Available() const { return cd_ != kNoDescriptor; }

  // Converts, replacing each input character that cannot be converted by `replacement`;
  // unit(p, left) tells how many bytes that character takes.
  template <typename Unit>
  std::string Run(const char* in, size_t length, Unit unit, const std::string& replacement) {
    std::string out;
    Convert(in, length, &out, [&](const char*& src, size_t& left) {
      out += replacement;
      size_t skip = unit(reinterpret_cast<const unsigned char*>(src), left);
      if (skip == 0 || skip > left) skip = left < 1 ? left : 1;
      src += skip;
      left -= skip;
      return true;
    });
    return out;
  }

  // Converts without replacing: false with the offset of the first character that cannot be.
  bool RunExact(const char* in, size_t length, std::string* out, size_t* bad_at) {
    out->clear();
    *bad_at = 0;
    return Convert(in, length, out, [&](const char*& src, size_t&) {
      *bad_at = static_cast<size_t>(src - in);
      return false;
    });
  }

 private:
  // The conversion loop; at a character that cannot be converted (EILSEQ, or EINVAL for one cut
  // at the end), on_bad(src, left) moves past it and answers true to go on, or answers false.
  template <typename OnBad>
  bool Convert(const char* in, size_t length, std::string* out, OnBad on_bad) {
    char* src = const_cast<char*>(in);
    size_t left = length;
    char buffer[256];
    while (left > 0) {
      char* dst = buffer;
      size_t room = sizeof buffer;
      size_t r = iconv(cd_, &src, &left, &dst, &room);
      out->append(buffer, static_cast<size_t>(dst - buffer));
      if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
      const char* at = src;
      if (!on_bad(at, left)) return false;
      src = const_cast<char*>(at);
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
  }

  iconv_t cd_;
};

size_t OneByte(const unsigned char*, size_t) {
  return 1;
}
size_t TwoBytes(const unsigned char*, size_t) {
  return 2;
}

[[noreturn]] void ThrowNoConverter() {
  throw std::runtime_error(kNoCp949Converter);
}

}  // namespace

std::string Cp949ToUtf8(const char* bytes, size_t length) {
  Converter c("UTF-8", "CP949");
  if (!c.Available()) return ShowWithoutConverter(bytes, length);
  return c.Run(bytes, length, OneByte, "\xEF\xBF\xBD");
}

std::string Cp949ToUtf8Exact(const std::string& s) {
  Converter c("UTF-8", "CP949");
  if (c.Available()) return c.Run(s.data(), s.size(), OneByte, "\xEF\xBF\xBD");
  if (!IsAscii(s.data(), s.size())) ThrowNoConverter();
  return s;
}

std::string Utf8ToCp949(const char* text, size_t length) {
  Converter c("CP949", "UTF-8");
  if (c.Available()) return c.Run(text, length, Utf8Sequence, "?");
  if (!IsAscii(text, length)) ThrowNoConverter();
  return std::string(text, length);
}

bool Utf8ToCp949Exact(const char* text, size_t length, std::string* out, size_t* bad_at) {
  Converter c("CP949", "UTF-8");
  if (c.Available()) return c.RunExact(text, length, out, bad_at);
  if (!IsAscii(text, length)) ThrowNoConverter();
  out->assign(text, length);
  *bad_at = 0;
  return true;
}

std::string Utf16ToCp949(const uint16_t* units, size_t count) {
  Converter c("CP949", "UTF-16LE");
  if (c.Available()) return c.Run(reinterpret_cast<const char*>(units), count * 2, TwoBytes, "?");
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (units[i] >= 0x80) ThrowNoConverter();
    out += static_cast<char>(units[i]);
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
