// Code page 949 (Korean) text: conversion to and from UTF-8 and from UTF-16.
//
// Built into the framework library (libveldrane-fw.so, veldrane-fw.dll), whose archive reads
// UTF-16 strings, and exported from it for the rest of the platform layer. The converters come
// from the system (iconv with glibc's gconv modules, cp949_iconv.cc; on Windows code page 949 of
// MultiByteToWideChar and WideCharToMultiByte, cp949_windows.cc); text is never passed through
// unconverted. Without a converter
// plain ASCII still converts (it is the same in both), and anything else:
//  - into code page 949 (what configurations store) throws std::runtime_error with
//    kNoCp949Converter, so that nothing is stored in the wrong encoding;
//  - out of it for showing, each character beyond ASCII shows as U+FFFD; Cp949ToUtf8Exact
//    throws instead, for text that is written out as data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fw/export.h"

namespace veldrane::platform {

inline constexpr const char* kNoCp949Converter =
    "this system has no converter for code page 949 (iconv's CP949, part of glibc's gconv "
    "modules)";

// Undecodable bytes become U+FFFD; never fails.
FW_API std::string Cp949ToUtf8(const char* bytes, size_t length);
inline std::string Cp949ToUtf8(const std::string& s) {
  return Cp949ToUtf8(s.data(), s.size());
}
// The same, except that it throws when the system has no converter and the text needs one.
FW_API std::string Cp949ToUtf8Exact(const std::string& s);

// Characters that code page 949 lacks become '?'.
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

// The system's converters, reached through one replaceable table so that a test can take them
// away; its entries are the system's own (cp949_iconv.cc, cp949_windows.cc).
struct CodePageApi;
FW_API const CodePageApi* SetCodePageApi(const CodePageApi* api);
FW_API const CodePageApi& SystemCodePageApi();
// A table without a converter for code page 949, as on a system that lacks one.
FW_API const CodePageApi& NoCodePageApi();

}  // namespace veldrane::platform
