// NameList: the station names that a configuration file lists before its port settings. The
// names lie in one block of bytes and an empty name takes nothing, so that the list costs
// memory in proportion to the file that it came from, however many names the file claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fw/cstring.h"

class NameList {
 public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Name i (0 to size() - 1).
  CString operator[](size_t i) const;

  // Calls f(const CString&) for each name in order.
  template <typename F>
  void ForEach(F f) const {
    const CString empty;
    size_t start = 0;
    auto entry = entries_.begin();
    for (size_t i = 0; i < count_; ++i) {
      if (entry == entries_.end() || entry->index != i) {
        f(empty);
        continue;
      }
      f(CString(bytes_.data() + start, entry->end - start));
      start = entry->end;
      ++entry;
    }
  }

  void push_back(const CString& name);
  void clear();

 private:
  struct Entry {
    size_t index;  // of a name that is not empty
    size_t end;    // of its bytes in bytes_
  };

  size_t count_ = 0;
  std::string bytes_;
  std::vector<Entry> entries_;  // in index order
};
