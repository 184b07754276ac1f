#include <cstdlib>
#include <new>

#include "tarko/tagval.h"

CTagVal::CTagVal() : type_(kTagTypeNone), value_(0.0) {}

CTagVal::CTagVal(uint16_t type, double value) : type_(type), value_(value) {}

uint16_t CTagVal::GetType() const {
  return type_;
}

double CTagVal::GetVal() const {
  return value_;
}

void CTagVal::Set(uint16_t type, double value) {
  type_ = type;
  value_ = value;
}

TagChangeRecord::TagChangeRecord(void* user, const CTagVal& v) : user_data(user), value(v) {}

TagChangeRecord::~TagChangeRecord() = default;

CTagChangeArray::CTagChangeArray() : items_(nullptr), size_(0), capacity_(0) {}

CTagChangeArray::~CTagChangeArray() {
  std::free(items_);
}

int32_t CTagChangeArray::GetSize() const {
  return size_;
}

TagChangeRecord* CTagChangeArray::GetAt(int32_t index) const {
  return (index >= 0 && index < size_) ? items_[index] : nullptr;
}

void CTagChangeArray::Add(TagChangeRecord* record) {
  if (size_ == capacity_) {
    int32_t grown = capacity_ ? capacity_ * 2 : 16;
    void* p = std::realloc(items_, sizeof(TagChangeRecord*) * static_cast<size_t>(grown));
    if (!p) throw std::bad_alloc();
    items_ = static_cast<TagChangeRecord**>(p);
    capacity_ = grown;
  }
  items_[size_++] = record;
}
