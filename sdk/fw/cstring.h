// CString: the framework's 8-bit string, shared by the host and the driver.
//
// ABI conventions:
//  - The text is bytes in code page 949 (Korean syllables take two bytes); the length counts
//    bytes. A CString may hold any byte, zero included; GetString() is always terminated.
//  - Every member is implemented out of line in the framework library that host and driver
//    both link, so an object filled by one module can be read and destroyed by the other.
//  - A null `const char*` argument is taken as the empty string.
//  - Not thread-safe: one object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fw/export.h"

class FW_API CString {
 public:
  CString();
  CString(const char* text);  // NOLINT(google-explicit-constructor): as the framework's string.
  CString(const char* bytes, size_t length);
  CString(const CString& other);
  CString(CString&& other) noexcept;
  ~CString();
  CString& operator=(const CString& other);
  CString& operator=(CString&& other) noexcept;
  CString& operator=(const char* text);

  size_t GetLength() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  const char* GetString() const;
  operator const char*() const { return GetString(); }  // NOLINT(google-explicit-constructor)
  char operator[](size_t i) const { return GetString()[i]; }

  void Empty();
  void Assign(const char* bytes, size_t length);
  CString& Append(const char* bytes, size_t length);
  CString& operator+=(const char* text);
  CString& operator+=(const CString& other);
  CString& operator+=(char c);

  // printf-style formatting into this string, replacing its content.
  void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Removes blanks, tabs, carriage returns, line feeds, vertical tabs and form feeds.
  CString& TrimLeft();
  CString& TrimRight();
  CString& Trim();

  // Byte-exact comparison.
  bool operator==(const CString& other) const;
  bool operator==(const char* text) const;
  bool operator!=(const CString& other) const { return !(*this == other); }

 private:
  void Reserve(size_t capacity);

  char* data_ = nullptr;  // null while empty and never grown
  size_t length_ = 0;
  size_t capacity_ = 0;
};
