// Columns that UTF-8 text takes on a terminal: Hangul and other East Asian wide characters take
// two, everything else one. For tables that line up with Korean names in them.
#pragma once

#include <cstddef>
#include <string>

namespace veldrane::platform {

size_t DisplayWidth(const std::string& utf8);
// Blanks added on the left or the right up to `width` columns; longer text stays whole.
std::string PadLeft(const std::string& utf8, size_t width);
std::string PadRight(const std::string& utf8, size_t width);

}  // namespace veldrane::platform
