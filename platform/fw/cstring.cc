#include "fw/cstring.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char kEmpty[1] = {0};

bool IsTrimmed(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

CString::CString() = default;

CString::CString(const char* text) {
  Assign(text, text ? std::strlen(text) : 0);
}

CString::CString(const char* bytes, size_t length) {
  Assign(bytes, length);
}

CString::CString(const CString& other) {
  Assign(other.data_, other.length_);
}

CString::CString(CString&& other) noexcept
    : data_(other.data_), length_(other.length_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.length_ = other.capacity_ = 0;
}

CString::~CString() {
  std::free(data_);
}

CString& CString::operator=(const CString& other) {
  if (this != &other) Assign(other.data_, other.length_);
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  return *this;
}

CString& CString::operator=(const char* text) {
  Assign(text, text ? std::strlen(text) : 0);
  return *this;
}

const char* CString::GetString() const {
  return data_ ? data_ : kEmpty;
}

void CString::Empty() {
  length_ = 0;
  if (data_) data_[0] = 0;
}

void CString::Reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  size_t grown = capacity_ < 16 ? 16 : capacity_ * 2;
  if (grown < capacity) grown = capacity;
  void* p = std::realloc(data_, grown + 1);
  if (!p) throw std::bad_alloc();
  data_ = static_cast<char*>(p);
  capacity_ = grown;
}

void CString::Assign(const char* bytes, size_t length) {
  if (length == 0 || !bytes) {
    Empty();
    return;
  }
  // The source may lie inside this string's own buffer.
  if (data_ && bytes >= data_ && bytes <= data_ + length_) {
    std::memmove(data_, bytes, length);
  } else {
    Reserve(length);
    std::memcpy(data_, bytes, length);
  }
  length_ = length;
  data_[length_] = 0;
}

CString& CString::Append(const char* bytes, size_t length) {
  if (length == 0 || !bytes) return *this;
  if (data_ && bytes >= data_ && bytes <= data_ + length_) {
    size_t offset = static_cast<size_t>(bytes - data_);
    Reserve(length_ + length);
    std::memmove(data_ + length_, data_ + offset, length);
  } else {
    Reserve(length_ + length);
    std::memcpy(data_ + length_, bytes, length);
  }
  length_ += length;
  data_[length_] = 0;
  return *this;
}

CString& CString::operator+=(const char* text) {
  return Append(text, text ? std::strlen(text) : 0);
}

CString& CString::operator+=(const CString& other) {
  CString copy(other);  // other may be *this
  return Append(copy.data_, copy.length_);
}

CString& CString::operator+=(char c) {
  return Append(&c, 1);
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    Empty();
    return;
  }
  Reserve(static_cast<size_t>(needed));
  if (!data_) Reserve(1);
  std::vsnprintf(data_, static_cast<size_t>(needed) + 1, format, again);
  va_end(again);
  length_ = static_cast<size_t>(needed);
}

CString& CString::TrimLeft() {
  size_t i = 0;
  while (i < length_ && IsTrimmed(data_[i])) ++i;
  if (i > 0) Assign(data_ + i, length_ - i);
  return *this;
}

CString& CString::TrimRight() {
  while (length_ > 0 && IsTrimmed(data_[length_ - 1])) --length_;
  if (data_) data_[length_] = 0;
  return *this;
}

CString& CString::Trim() {
  return TrimRight().TrimLeft();
}

bool CString::operator==(const CString& other) const {
  return length_ == other.length_ && std::memcmp(GetString(), other.GetString(), length_) == 0;
}

bool CString::operator==(const char* text) const {
  size_t n = text ? std::strlen(text) : 0;
  return length_ == n && std::memcmp(GetString(), text ? text : kEmpty, n) == 0;
}
