// UTF-8 text from outside (standard input, value files): where it stops being valid UTF-8, and
// the byte-order mark that some editors put at its start.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veldrane::platform {

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), or 0 when the bytes there
// are not one: a stray continuation byte, a cut sequence, an overlong form, a surrogate or a
// code point beyond U+10FFFF.
size_t Utf8SequenceAt(std::string_view text, size_t at);

// The offset of the first byte that is not part of well-formed UTF-8, or npos.
size_t InvalidUtf8At(std::string_view text);

// The text without a byte-order mark at its start.
std::string_view WithoutUtf8Bom(std::string_view text);

// Line number (from 1) and column (in bytes, from 1) of a byte offset, lines ending at LF.
struct TextPosition {
  size_t line;
  size_t column;
};
TextPosition PositionOf(std::string_view text, size_t offset);

}  // namespace veldrane::platform
