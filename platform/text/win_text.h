// Windows only: UTF-8 text (what the rest of the system speaks) to and from the UTF-16 of the
// system's W functions, and the system's own text for an error number.
#pragma once

#include <cstdint>
#include <string>

namespace veldrane::platform {

// Bytes that are not UTF-8 become U+FFFD.
std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);
// "The system cannot find the file specified. (error 2)"; the number alone when the system has
// no text for it.
std::string SystemErrorText(uint32_t error);

}  // namespace veldrane::platform
