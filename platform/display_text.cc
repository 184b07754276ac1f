#include "platform/display_text.h"

#include <cstdint>

#include "platform/cp949.h"
#include "platform/utf8.h"

namespace veldrane::platform {
namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (char c : bytes) {
    auto b = static_cast<uint8_t>(c);
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keep_layout) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t n = Utf8SequenceAt(text, i);
    if (n == 0) {
      AppendEscaped(out, text.substr(i, 1));
      ++i;
      continue;
    }
    auto lead = static_cast<uint8_t>(text[i]);
    bool layout = keep_layout && (lead == '\t' || lead == '\r' || lead == '\n');
    bool c0 = n == 1 && (lead < 0x20 || lead == 0x7F) && !layout;
    bool c1 = n == 2 && lead == 0xC2 && static_cast<uint8_t>(text[i + 1]) <= 0x9F;
    if (c0 || c1) {
      AppendEscaped(out, text.substr(i, n));
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

std::string DisplayCp949(std::string_view cp949) {
  return EscapeControls(Cp949ToUtf8(cp949.data(), cp949.size()));
}

std::string DisplayInput(std::string_view text) {
  return InvalidUtf8At(text) == std::string_view::npos ? EscapeControls(text) : DisplayCp949(text);
}

}  // namespace veldrane::platform
