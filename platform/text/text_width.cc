#include "platform/text/text_width.h"

#include <cstdint>

namespace veldrane::platform {

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    auto lead = static_cast<uint8_t>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t code = lead;
    if (length == 3 && i + 2 < text.size()) {
      code = ((lead & 0x0Fu) << 12) | ((static_cast<uint8_t>(text[i + 1]) & 0x3Fu) << 6) |
             (static_cast<uint8_t>(text[i + 2]) & 0x3Fu);
    }
    bool wide =
        length == 3 && ((code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                        (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                        (code >= 0xFF00 && code <= 0xFF60) || (code >= 0xFFE0 && code <= 0xFFE6));
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}

std::string PadLeft(const std::string& text, size_t width) {
  size_t used = DisplayWidth(text);
  return used >= width ? text : std::string(width - used, ' ') + text;
}

std::string PadRight(const std::string& text, size_t width) {
  size_t used = DisplayWidth(text);
  return used >= width ? text : text + std::string(width - used, ' ');
}

}  // namespace veldrane::platform
