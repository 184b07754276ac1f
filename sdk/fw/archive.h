// CArchive: the framework's object archive, byte for byte as configuration files store it.
//
// An archive either loads or stores, over a CFile, through a buffer (4096 bytes unless told).
// Every value is little-endian:
//  - integers of 8, 16 and 32 bits;
//  - counts: 16 bits below 0xFFFF, else 0xFFFF and 32 bits;
//  - strings: a length prefix (one byte below 255; 0xFF and 16 bits below 0xFFFE; 0xFF, 0xFFFF
//    and 32 bits beyond) and the bytes. Reading also takes the prefix 0xFF 0xFFFE: a second
//    prefix of the same form counts 16-bit characters (UTF-16), converted to code page 949 (on a
//    system without that converter the read fails rather than keep other bytes);
//  - objects: a 16-bit tag (0xFFFF with the class description for the first object of a class,
//    0x8000 | index for a class described before; 0x7FFF and a 32-bit tag once the archive's
//    index count has reached 0x7FFF), then the object's own Serialize. Classes and objects take
//    indexes from 1 in the order they appear.
//
// Reading is hardened for files from anywhere: a count or length larger than the bytes left
// fails before anything is sized from it, and every failure is a CArchiveException with its
// cause, the byte offset of the item that failed and the section that the caller named.
//
// ABI: exported from the framework library; one archive is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "fw/cstring.h"
#include "fw/export.h"
#include "fw/object.h"

// A source or sink of bytes under an archive.
class FW_API CFile {
 public:
  static constexpr uint64_t kUnknownLength = UINT64_MAX;

  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  virtual ~CFile();

  // Reads up to `count` bytes: the number read, 0 at the end of the data, -1 on an error.
  virtual int64_t Read(void* buffer, size_t count) = 0;
  // Writes all `count` bytes; false on an error.
  virtual bool Write(const void* buffer, size_t count) = 0;
  // The bytes a reader can still read, or kUnknownLength (a pipe).
  virtual uint64_t BytesLeft() const = 0;
  // The system's error number of the last failed call, 0 when there is none.
  virtual int LastError() const { return 0; }
};

// Bytes in memory: a file attached to bytes that the caller keeps (read only), or a growing
// buffer of its own (read and write).
class FW_API CMemFile : public CFile {
 public:
  CMemFile() = default;
  CMemFile(const void* data, size_t size);
  ~CMemFile() override;

  int64_t Read(void* buffer, size_t count) override;
  bool Write(const void* buffer, size_t count) override;
  uint64_t BytesLeft() const override;

  // What was written (a file of its own only).
  const std::string& Data() const { return own_; }

 private:
  const char* view_ = nullptr;  // attached bytes, or null for a buffer of its own
  size_t view_size_ = 0;
  std::string own_;
  size_t position_ = 0;
};

// Why reading or writing an archive failed. The set is closed: callers may switch over it.
enum class ArchiveCause : int {
  kEndOfData = 1,     // the data ends inside an item
  kTooLong,           // a count or length larger than the bytes left
  kClassNameTooLong,  // a class name of kMaxClassNameLength bytes or more
  kUnknownClass,      // no class registered under the stored name
  kBadSchema,         // the stored schema differs from the class's
  kBadIndex,          // a class index that was never given
  kUnexpectedTag,     // a null tag or a back-reference where a new object belongs
  kWrongClass,        // an object of another class than the one expected
  kBadHeader,         // a header of another kind of file
  kTrailingData,      // bytes left after the last item
  kTooManyObjects,    // more objects than the archive can index
  kFileError,         // the file could not be opened, read, written, flushed or replaced
};

class FW_API CArchiveException : public std::exception {
 public:
  // `section` is the part of the file being read or written (may be empty); `sys_error` the
  // system's error number for kFileError; `detail` what was being done (may be empty).
  CArchiveException(ArchiveCause cause, uint64_t offset, std::string section, int sys_error = 0,
                    std::string detail = std::string());
  ~CArchiveException() override;

  ArchiveCause cause() const { return cause_; }
  uint64_t offset() const { return offset_; }
  const std::string& section() const { return section_; }
  int sys_error() const { return sys_error_; }
  const std::string& detail() const { return detail_; }
  // "end of data at byte 57 in the stations", "cannot write: No space left on device".
  const char* what() const noexcept override;

  static const char* CauseText(ArchiveCause cause);

 private:
  ArchiveCause cause_;
  uint64_t offset_;
  std::string section_;
  int sys_error_;
  std::string detail_;
  std::string message_;
};

class FW_API CArchive {
 public:
  enum Mode { kStore = 0, kLoad = 1 };
  static constexpr size_t kDefaultBufferSize = 4096;

  // The file must outlive the archive.
  CArchive(CFile* file, Mode mode, size_t buffer_size = kDefaultBufferSize);
  // Does not flush: a storing archive is finished with Close(), which can fail.
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  bool IsLoading() const { return mode_ == kLoad; }
  bool IsStoring() const { return mode_ == kStore; }

  // Storing: writes out the buffer. Loading: nothing.
  void Flush();
  // Flush, then no further use.
  void Close();

  // Loading: the bytes not yet read (CFile::kUnknownLength when the file cannot tell).
  uint64_t BytesLeft() const;
  // Loading: true when no byte is left to read.
  bool AtEnd();
  // Loading: fails with kTrailingData when any byte is left.
  void ExpectEnd();

  // Names the part of the file that follows, for the failures reported from here on.
  void SetSection(const char* section) { section_ = section ? section : ""; }
  // Throws the failure `cause` at the start of the item being read or written.
  [[noreturn]] void Fail(ArchiveCause cause) const;

  // Raw bytes. Read returns the number read (fewer only at the end of the data); ReadExact
  // fails with kEndOfData instead.
  void Write(const void* bytes, size_t count);
  size_t Read(void* bytes, size_t count);
  void ReadExact(void* bytes, size_t count);

  CArchive& operator<<(uint8_t v);
  CArchive& operator<<(uint16_t v);
  CArchive& operator<<(int16_t v);
  CArchive& operator<<(uint32_t v);
  CArchive& operator<<(int32_t v);
  CArchive& operator<<(const CString& s);
  CArchive& operator>>(uint8_t& v);
  CArchive& operator>>(uint16_t& v);
  CArchive& operator>>(int16_t& v);
  CArchive& operator>>(uint32_t& v);
  CArchive& operator>>(int32_t& v);
  CArchive& operator>>(CString& s);

  // Element counts of lists. ReadCount fails with kTooLong for more elements than bytes left.
  void WriteCount(uint32_t count);
  uint32_t ReadCount();

  // Writes a new object of its class: the tag (with the class description the first time),
  // then its Serialize. Every object is written once; the archive keeps no back-references.
  void WriteObject(CObject& object);
  // Reads one new object of exactly class `expected`, made by that class's own factory (whatever
  // another module registered under the same name), and its fields; with a null `expected`, of
  // any class registered under the stored name. Null tags and back-references fail with
  // kUnexpectedTag.
  std::unique_ptr<CObject> ReadObject(const CRuntimeClass* expected);

  // Text: WriteString writes the bytes up to the terminator, without it. ReadString reads one
  // line of at most `max` characters into `buffer` (room for max + 1): a line ends at a line
  // feed, or at a carriage return together with the character after it; the end is not kept.
  // A longer line is cut after `max` characters and the rest is the next line. Returns null
  // when the data ends before the first character of a line, else `buffer`, terminated.
  void WriteString(const char* text);
  char* ReadString(char* buffer, size_t max);

 private:
  void WriteClassTag(const CRuntimeClass* rtc);
  const CRuntimeClass* ReadClassTag(const CRuntimeClass* expected);
  uint32_t NextIndex();
  size_t ReadStringLength(bool* wide);
  void FillBuffer();
  void CheckLeft(uint64_t needed);
  int ReadByte();  // -1 at the end of the data

  CFile* file_;
  Mode mode_;
  std::vector<char> buffer_;
  size_t cur_ = 0;  // next byte in the buffer
  size_t end_ = 0;  // loading: bytes valid in the buffer
  uint64_t position_ = 0;
  uint64_t item_start_ = 0;
  const char* section_ = "";
  // Indexes given so far (0 is the null tag), and the classes among them.
  uint32_t map_count_ = 1;
  std::vector<std::pair<uint32_t, const CRuntimeClass*>> classes_;
};
