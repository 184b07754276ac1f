#include "config/name_list.h"

#include <algorithm>

CString NameList::operator[](size_t i) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), i,
                             [](const Entry& e, size_t index) { return e.index < index; });
  if (it == entries_.end() || it->index != i) return CString();
  size_t start = it == entries_.begin() ? 0 : std::prev(it)->end;
  return CString(bytes_.data() + start, it->end - start);
}

void NameList::push_back(const CString& name) {
  if (!name.IsEmpty()) {
    bytes_.append(name.GetString(), name.GetLength());
    entries_.push_back({count_, bytes_.size()});
  }
  ++count_;
}

void NameList::clear() {
  count_ = 0;
  bytes_.clear();
  entries_.clear();
}
