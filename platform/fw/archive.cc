#include "fw/archive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/text/cp949.h"

namespace {

// Tags of the object stream (0 is the null object, which this archive never reads).
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000u;
// Indexes beyond this cannot be told apart from the tags above.
constexpr uint32_t kMaxMapCount = 0x3FFFFFFE;

// Strings are read in pieces of this size when the file cannot tell its length, so that a
// damaged prefix never sizes an allocation by itself.
constexpr size_t kStringChunk = 64 * 1024;

}  // namespace

// ---- CFile, CMemFile ------------------------------------------------------------------------

CFile::~CFile() = default;

CMemFile::CMemFile(const void* data, size_t size)
    : view_(data ? static_cast<const char*>(data) : ""), view_size_(data ? size : 0) {}

CMemFile::~CMemFile() = default;

int64_t CMemFile::Read(void* buffer, size_t count) {
  const char* data = view_ ? view_ : own_.data();
  size_t size = view_ ? view_size_ : own_.size();
  size_t n = std::min(count, size - position_);
  if (n > 0) std::memcpy(buffer, data + position_, n);
  position_ += n;
  return static_cast<int64_t>(n);
}

bool CMemFile::Write(const void* buffer, size_t count) {
  if (view_) return false;  // attached bytes are read only
  own_.append(static_cast<const char*>(buffer), count);
  return true;
}

uint64_t CMemFile::BytesLeft() const {
  return (view_ ? view_size_ : own_.size()) - position_;
}

// ---- CArchiveException ----------------------------------------------------------------------

CArchiveException::CArchiveException(ArchiveCause cause, uint64_t offset, std::string section,
                                     int sys_error, std::string detail)
    : cause_(cause),
      offset_(offset),
      section_(std::move(section)),
      sys_error_(sys_error),
      detail_(std::move(detail)) {
  if (cause_ == ArchiveCause::kFileError) {
    message_ = detail_.empty() ? CauseText(cause_) : detail_;
    if (sys_error_ != 0) message_ += std::string(": ") + std::strerror(sys_error_);
    return;
  }
  message_ = std::string(CauseText(cause_)) + " at byte " + std::to_string(offset_);
  if (!section_.empty()) message_ += " in the " + section_;
  if (!detail_.empty()) message_ += " (" + detail_ + ")";
}

CArchiveException::~CArchiveException() = default;

const char* CArchiveException::what() const noexcept {
  return message_.c_str();
}

const char* CArchiveException::CauseText(ArchiveCause cause) {
  switch (cause) {
    case ArchiveCause::kEndOfData:
      return "the data ends early";
    case ArchiveCause::kTooLong:
      return "a count or length beyond the data left";
    case ArchiveCause::kClassNameTooLong:
      return "a class name of 64 bytes or more";
    case ArchiveCause::kUnknownClass:
      return "an unknown class";
    case ArchiveCause::kBadSchema:
      return "a class of another schema";
    case ArchiveCause::kBadIndex:
      return "a class index that was never given";
    case ArchiveCause::kUnexpectedTag:
      return "no new object where one belongs";
    case ArchiveCause::kWrongClass:
      return "an object of another class";
    case ArchiveCause::kBadHeader:
      return "the header of another kind of file";
    case ArchiveCause::kTrailingData:
      return "data after the end";
    case ArchiveCause::kTooManyObjects:
      return "too many objects";
    case ArchiveCause::kFileError:
      return "a file error";
  }
  return "an archive error";
}

// ---- CArchive: buffer -----------------------------------------------------------------------

CArchive::CArchive(CFile* file, Mode mode, size_t buffer_size)
    : file_(file), mode_(mode), buffer_(buffer_size > 0 ? buffer_size : kDefaultBufferSize) {}

CArchive::~CArchive() = default;

void CArchive::Fail(ArchiveCause cause) const {
  throw CArchiveException(cause, item_start_, section_);
}

void CArchive::Flush() {
  if (mode_ != kStore || cur_ == 0) return;
  if (!file_->Write(buffer_.data(), cur_)) {
    throw CArchiveException(ArchiveCause::kFileError, position_, section_, file_->LastError(),
                            "cannot write");
  }
  cur_ = 0;
}

void CArchive::Close() {
  Flush();
}

uint64_t CArchive::BytesLeft() const {
  uint64_t in_file = file_->BytesLeft();
  if (in_file == CFile::kUnknownLength) return in_file;
  return in_file + (end_ - cur_);
}

bool CArchive::AtEnd() {
  if (cur_ < end_) return false;
  FillBuffer();
  return end_ == 0;
}

void CArchive::ExpectEnd() {
  item_start_ = position_;
  if (!AtEnd()) Fail(ArchiveCause::kTrailingData);
}

void CArchive::FillBuffer() {
  cur_ = end_ = 0;
  int64_t n = file_->Read(buffer_.data(), buffer_.size());
  if (n < 0) {
    throw CArchiveException(ArchiveCause::kFileError, position_, section_, file_->LastError(),
                            "cannot read");
  }
  end_ = static_cast<size_t>(n);
}

void CArchive::CheckLeft(uint64_t needed) {
  uint64_t left = BytesLeft();
  if (left != CFile::kUnknownLength && needed > left) Fail(ArchiveCause::kTooLong);
}

int CArchive::ReadByte() {
  if (cur_ == end_) {
    FillBuffer();
    if (end_ == 0) return -1;
  }
  ++position_;
  return static_cast<unsigned char>(buffer_[cur_++]);
}

void CArchive::Write(const void* bytes, size_t count) {
  if (mode_ != kStore) throw std::logic_error("CArchive: writing to a loading archive");
  const char* p = static_cast<const char*>(bytes);
  position_ += count;
  while (count > 0) {
    if (cur_ == buffer_.size()) Flush();
    if (cur_ == 0 && count >= buffer_.size()) {
      // A large block goes straight to the file.
      if (!file_->Write(p, count)) {
        throw CArchiveException(ArchiveCause::kFileError, position_ - count, section_,
                                file_->LastError(), "cannot write");
      }
      return;
    }
    size_t n = std::min(count, buffer_.size() - cur_);
    std::memcpy(buffer_.data() + cur_, p, n);
    cur_ += n;
    p += n;
    count -= n;
  }
}

size_t CArchive::Read(void* bytes, size_t count) {
  if (mode_ != kLoad) throw std::logic_error("CArchive: reading from a storing archive");
  char* p = static_cast<char*>(bytes);
  size_t done = 0;
  while (done < count) {
    if (cur_ == end_) {
      FillBuffer();
      if (end_ == 0) break;
    }
    size_t n = std::min(count - done, end_ - cur_);
    std::memcpy(p + done, buffer_.data() + cur_, n);
    cur_ += n;
    done += n;
  }
  position_ += done;
  return done;
}

void CArchive::ReadExact(void* bytes, size_t count) {
  if (Read(bytes, count) != count) Fail(ArchiveCause::kEndOfData);
}

// ---- integers -------------------------------------------------------------------------------

namespace {

template <typename T>
void PutLittle(CArchive& ar, T value) {
  unsigned char bytes[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
  }
  ar.Write(bytes, sizeof bytes);
}

template <typename T>
T GetLittle(CArchive& ar) {
  unsigned char bytes[sizeof(T)];
  ar.ReadExact(bytes, sizeof bytes);
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return static_cast<T>(value);
}

}  // namespace

CArchive& CArchive::operator<<(uint8_t v) {
  item_start_ = position_;
  PutLittle(*this, v);
  return *this;
}
CArchive& CArchive::operator<<(uint16_t v) {
  item_start_ = position_;
  PutLittle(*this, v);
  return *this;
}
CArchive& CArchive::operator<<(int16_t v) {
  return *this << static_cast<uint16_t>(v);
}
CArchive& CArchive::operator<<(uint32_t v) {
  item_start_ = position_;
  PutLittle(*this, v);
  return *this;
}
CArchive& CArchive::operator<<(int32_t v) {
  return *this << static_cast<uint32_t>(v);
}

CArchive& CArchive::operator>>(uint8_t& v) {
  item_start_ = position_;
  v = GetLittle<uint8_t>(*this);
  return *this;
}
CArchive& CArchive::operator>>(uint16_t& v) {
  item_start_ = position_;
  v = GetLittle<uint16_t>(*this);
  return *this;
}
CArchive& CArchive::operator>>(int16_t& v) {
  uint16_t u;
  *this >> u;
  v = static_cast<int16_t>(u);
  return *this;
}
CArchive& CArchive::operator>>(uint32_t& v) {
  item_start_ = position_;
  v = GetLittle<uint32_t>(*this);
  return *this;
}
CArchive& CArchive::operator>>(int32_t& v) {
  uint32_t u;
  *this >> u;
  v = static_cast<int32_t>(u);
  return *this;
}

// ---- counts and strings ---------------------------------------------------------------------

void CArchive::WriteCount(uint32_t count) {
  item_start_ = position_;
  if (count < 0xFFFF) {
    PutLittle(*this, static_cast<uint16_t>(count));
  } else {
    PutLittle(*this, static_cast<uint16_t>(0xFFFF));
    PutLittle(*this, count);
  }
}

uint32_t CArchive::ReadCount() {
  uint64_t start = position_;
  item_start_ = start;
  uint32_t count = GetLittle<uint16_t>(*this);
  if (count == 0xFFFF) count = GetLittle<uint32_t>(*this);
  item_start_ = start;
  // Every element takes at least one byte.
  CheckLeft(count);
  return count;
}

CArchive& CArchive::operator<<(const CString& s) {
  item_start_ = position_;
  size_t length = s.GetLength();
  if (length < 0xFF) {
    PutLittle(*this, static_cast<uint8_t>(length));
  } else if (length < 0xFFFE) {
    PutLittle(*this, static_cast<uint8_t>(0xFF));
    PutLittle(*this, static_cast<uint16_t>(length));
  } else {
    if (length > 0xFFFFFFFFu) Fail(ArchiveCause::kTooLong);
    PutLittle(*this, static_cast<uint8_t>(0xFF));
    PutLittle(*this, static_cast<uint16_t>(0xFFFF));
    PutLittle(*this, static_cast<uint32_t>(length));
  }
  Write(s.GetString(), length);
  return *this;
}

size_t CArchive::ReadStringLength(bool* wide) {
  *wide = false;
  uint8_t b = GetLittle<uint8_t>(*this);
  if (b < 0xFF) return b;
  uint16_t w = GetLittle<uint16_t>(*this);
  if (w == 0xFFFE) {
    // 16-bit characters: a second prefix of the same form counts them.
    *wide = true;
    b = GetLittle<uint8_t>(*this);
    if (b < 0xFF) return b;
    w = GetLittle<uint16_t>(*this);
  }
  if (w < 0xFFFF) return w;
  return GetLittle<uint32_t>(*this);
}

CArchive& CArchive::operator>>(CString& s) {
  uint64_t start = position_;
  item_start_ = start;
  bool wide = false;
  size_t length = ReadStringLength(&wide);
  item_start_ = start;
  if (!wide) {
    CheckLeft(length);
    if (end_ - cur_ >= length) {
      // The usual case: the whole string is in the buffer.
      s.Assign(buffer_.data() + cur_, length);
      cur_ += length;
      position_ += length;
      return *this;
    }
    std::string bytes;
    while (bytes.size() < length) {
      size_t n = std::min(length - bytes.size(), kStringChunk);
      size_t old = bytes.size();
      bytes.resize(old + n);
      ReadExact(&bytes[old], n);
    }
    s.Assign(bytes.data(), bytes.size());
    return *this;
  }
  CheckLeft(static_cast<uint64_t>(length) * 2);
  std::vector<uint16_t> units;
  unsigned char pair[2];
  while (units.size() < length) {
    size_t n = std::min(length - units.size(), kStringChunk);
    units.reserve(units.size() + n);
    for (size_t i = 0; i < n; ++i) {
      ReadExact(pair, 2);
      units.push_back(static_cast<uint16_t>(pair[0] | (pair[1] << 8)));
    }
  }
  std::string text = veldrane::platform::Utf16ToCp949(units.data(), units.size());
  s.Assign(text.data(), text.size());
  return *this;
}

// ---- objects --------------------------------------------------------------------------------

uint32_t CArchive::NextIndex() {
  if (map_count_ >= kMaxMapCount) Fail(ArchiveCause::kTooManyObjects);
  return map_count_++;
}

void CArchive::WriteClassTag(const CRuntimeClass* rtc) {
  for (const auto& [index, known] : classes_) {
    if (known != rtc) continue;
    if (index < kBigObjectTag && map_count_ < kBigObjectTag) {
      PutLittle(*this, static_cast<uint16_t>(kClassTag | index));
    } else {
      PutLittle(*this, kBigObjectTag);
      PutLittle(*this, kBigClassTag | index);
    }
    return;
  }
  size_t name_length = std::strlen(rtc->class_name);
  if (name_length >= kMaxClassNameLength) Fail(ArchiveCause::kClassNameTooLong);
  PutLittle(*this, kNewClassTag);
  PutLittle(*this, rtc->schema);
  PutLittle(*this, static_cast<uint16_t>(name_length));
  Write(rtc->class_name, name_length);
  classes_.emplace_back(NextIndex(), rtc);
}

void CArchive::WriteObject(CObject& object) {
  item_start_ = position_;
  const CRuntimeClass* rtc = object.GetRuntimeClass();
  if (!rtc || !rtc->class_name) Fail(ArchiveCause::kUnknownClass);
  WriteClassTag(rtc);
  NextIndex();
  object.Serialize(*this);
}

const CRuntimeClass* CArchive::ReadClassTag(const CRuntimeClass* expected) {
  uint16_t tag = GetLittle<uint16_t>(*this);
  const CRuntimeClass* rtc = nullptr;
  if (tag == kNewClassTag) {
    uint16_t schema = GetLittle<uint16_t>(*this);
    uint16_t name_length = GetLittle<uint16_t>(*this);
    if (name_length >= kMaxClassNameLength) Fail(ArchiveCause::kClassNameTooLong);
    char name[kMaxClassNameLength];
    ReadExact(name, name_length);
    // The class the reader asks for is taken as it is: another module of the process (a host
    // that reads configurations itself) may carry a class of the same name.
    if (expected && std::strlen(expected->class_name) == name_length &&
        std::memcmp(expected->class_name, name, name_length) == 0) {
      rtc = expected;
    } else {
      rtc = FindRuntimeClass(name, name_length);
    }
    if (!rtc) Fail(ArchiveCause::kUnknownClass);
    if (rtc->schema != schema) Fail(ArchiveCause::kBadSchema);
    classes_.emplace_back(NextIndex(), rtc);
  } else {
    uint32_t ob_tag = tag == kBigObjectTag
                          ? GetLittle<uint32_t>(*this)
                          : (static_cast<uint32_t>(tag & kClassTag) << 16) | (tag & ~kClassTag);
    // Without the class bit the tag is the null object or an object read before.
    if ((ob_tag & kBigClassTag) == 0) Fail(ArchiveCause::kUnexpectedTag);
    uint32_t index = ob_tag & ~kBigClassTag;
    for (const auto& [known_index, known] : classes_) {
      if (known_index == index) rtc = known;
    }
    if (!rtc) Fail(ArchiveCause::kBadIndex);
  }
  if (expected && rtc != expected) Fail(ArchiveCause::kWrongClass);
  return rtc;
}

std::unique_ptr<CObject> CArchive::ReadObject(const CRuntimeClass* expected) {
  uint64_t start = position_;
  item_start_ = start;
  const CRuntimeClass* rtc = ReadClassTag(expected);
  item_start_ = start;
  std::unique_ptr<CObject> object = rtc->CreateObject();
  if (!object) Fail(ArchiveCause::kUnknownClass);
  NextIndex();
  object->Serialize(*this);
  return object;
}

// ---- text -----------------------------------------------------------------------------------

void CArchive::WriteString(const char* text) {
  item_start_ = position_;
  if (text) Write(text, std::strlen(text));
}

char* CArchive::ReadString(char* buffer, size_t max) {
  item_start_ = position_;
  if (max == 0) return nullptr;
  int c = ReadByte();
  if (c < 0) return nullptr;
  size_t n = 0;
  while (c >= 0) {
    if (c == '\n') break;
    if (c == '\r') {
      ReadByte();  // the character after it, normally the line feed
      break;
    }
    buffer[n++] = static_cast<char>(c);
    if (n == max) break;
    c = ReadByte();
  }
  buffer[n] = 0;
  return buffer;
}
