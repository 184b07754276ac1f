#include "platform/text/display_text.h"

#include <cstdint>

#include "platform/text/cp949.h"
#include "platform/text/utf8.h"

namespace veldrane::platform {
namespace {

void AppendHex(std::string& out, char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  auto b = static_cast<uint8_t>(c);
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 0x0F];
}

struct EscapeStyle {
  bool keep_layout = false;  // tabs, carriage returns and line feeds as they are
  bool quote = false;        // backslashes doubled, \n and \t named
  size_t max = std::string_view::npos;
};

// The one escaping loop of EscapeControls and Excerpt.
std::string Escape(std::string_view text, const EscapeStyle& style) {
  std::string out;
  out.reserve(text.size() < style.max ? text.size() : style.max);
  size_t i = 0;
  while (i < text.size() && i < style.max) {
    size_t n = Utf8SequenceAt(text, i);
    auto lead = static_cast<uint8_t>(text[i]);
    bool layout = style.keep_layout && (lead == '\t' || lead == '\r' || lead == '\n');
    bool c0 = n == 1 && (lead < 0x20 || lead == 0x7F) && !layout;
    bool c1 = n == 2 && lead == 0xC2 && static_cast<uint8_t>(text[i + 1]) <= 0x9F;
    if (style.quote && (lead == '\\' || lead == '\n' || lead == '\t')) {
      out += lead == '\\' ? "\\\\" : lead == '\n' ? "\\n" : "\\t";
      ++i;
    } else if (n == 0 || c0 || c1) {
      // One byte at a time, so that a cut may fall between the bytes of an escaped sequence.
      AppendHex(out, text[i]);
      ++i;
    } else if (i + n > style.max) {
      break;  // not half a character
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  if (i < text.size()) out += "...";
  return out;
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keep_layout) {
  EscapeStyle style;
  style.keep_layout = keep_layout;
  return Escape(text, style);
}

std::string Excerpt(std::string_view text, size_t max) {
  EscapeStyle style;
  style.quote = true;
  style.max = max;
  return Escape(text, style);
}

std::string DisplayCp949(std::string_view cp949) {
  return EscapeControls(Cp949ToUtf8(cp949.data(), cp949.size()));
}

std::string DisplayInput(std::string_view text) {
  return InvalidUtf8At(text) == std::string_view::npos ? EscapeControls(text) : DisplayCp949(text);
}

}  // namespace veldrane::platform
