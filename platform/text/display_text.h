// Text that came from input (names, tags, descriptions, value lines, event-log lines, payloads),
// made safe for a terminal: control characters and bytes that are not UTF-8 are shown as \xhh, so
// that nothing read from a file, a line or a broker can move the cursor, retitle the window or
// worse.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veldrane::platform {

// UTF-8 text with C0 controls (tab included, unless `keep_layout` keeps tabs, carriage returns
// and line feeds), DEL, C1 controls (U+0080 to U+009F) and every byte outside well-formed UTF-8
// written as \xhh (lower-case hex, one per byte).
std::string EscapeControls(std::string_view text, bool keep_layout = false);

// At most `max` bytes of `text` quoted in a message: escaped as EscapeControls does, and besides
// a backslash written as \\, a line feed as \n and a tab as \t, so that the quote reads back
// unambiguously; cut before a whole character, with "..." after a cut.
std::string Excerpt(std::string_view text, size_t max = 40);

// Code page 949 bytes as UTF-8 for the terminal, controls escaped.
std::string DisplayCp949(std::string_view cp949);

// Text that may be either: UTF-8 when it is well-formed UTF-8, else code page 949.
std::string DisplayInput(std::string_view text);

}  // namespace veldrane::platform
