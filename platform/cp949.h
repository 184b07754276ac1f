// Code page 949 (Korean) text: conversion to and from UTF-8 and from UTF-16.
//
// Built into the framework library (libveldrane-fw.so), whose archive reads UTF-16 strings, and
// exported from it for the rest of the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fw/export.h"

namespace veldrane::platform {

// Undecodable bytes become U+FFFD; never fails.
FW_API std::string Cp949ToUtf8(const char* bytes, size_t length);
inline std::string Cp949ToUtf8(const std::string& s) {
  return Cp949ToUtf8(s.data(), s.size());
}

// Characters that code page 949 lacks become '?'; never fails.
FW_API std::string Utf8ToCp949(const char* text, size_t length);
inline std::string Utf8ToCp949(const std::string& s) {
  return Utf8ToCp949(s.data(), s.size());
}

// Exact: false, with the offset of the character in `bad_at`, when the text is not UTF-8 there
// or holds a character that code page 949 lacks, so that two different names never become the
// same '?'. `out` holds the conversion on success.
FW_API bool Utf8ToCp949Exact(const char* text, size_t length, std::string* out, size_t* bad_at);

// UTF-16 little-endian code units to code page 949; unmappable characters become '?'.
FW_API std::string Utf16ToCp949(const uint16_t* units, size_t count);

}  // namespace veldrane::platform
