// Tag values and change records of the host's tag database (class library TarkoSub.so).
//
// Ownership: DbGetChanges (host_tables.h) hands its caller a CTagChangeArray. The caller owns
// the array and every record in it: it destroys each record (virtual destructor) and then the
// array, whose own destructor leaves the records alone. Records and arrays may be destroyed on
// any thread.
#pragma once

#include <cstdint>

#include "tarko/export.h"

// A tag's value: a 16-bit type code (0: no usable value) and the value as a double.
class TARKO_API CTagVal {
 public:
  CTagVal();
  CTagVal(uint16_t type, double value);
  uint16_t GetType() const;
  double GetVal() const;
  void Set(uint16_t type, double value);

 private:
  uint16_t type_;
  double value_;
};

// Type codes the reference tag database uses (any nonzero code means a valid value).
enum : uint16_t { kTagTypeNone = 0, kTagTypeAnalog = 1, kTagTypeDigital = 2 };

// One delivered change: the user data given to DbAdvise, then the tag's new value.
class TARKO_API TagChangeRecord {
 public:
  TagChangeRecord(void* user_data, const CTagVal& value);
  virtual ~TagChangeRecord();
  TagChangeRecord(const TagChangeRecord&) = delete;
  TagChangeRecord& operator=(const TagChangeRecord&) = delete;

  void* user_data;
  CTagVal value;
};

// The object array DbGetChanges returns; it holds record pointers and does not own them.
class TARKO_API CTagChangeArray {
 public:
  CTagChangeArray();
  virtual ~CTagChangeArray();
  CTagChangeArray(const CTagChangeArray&) = delete;
  CTagChangeArray& operator=(const CTagChangeArray&) = delete;

  int32_t GetSize() const;
  TagChangeRecord* GetAt(int32_t index) const;  // null outside 0..GetSize()-1
  void Add(TagChangeRecord* record);

 private:
  TagChangeRecord** items_;
  int32_t size_;
  int32_t capacity_;
};
