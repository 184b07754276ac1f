#include "host/runner/gateway/tag_values.h"

namespace veldrane::host {

void TagValues::Link(const std::string& tag) {
  Set(tag, 0);
}

void TagValues::Set(const std::string& tag, double value) {
  platform::MutexLock lock(mutex_);
  values_[tag] = value;
  version_.fetch_add(1);
}

bool TagValues::Get(const std::string& tag, double* value) const {
  platform::MutexLock lock(mutex_);
  auto it = values_.find(tag);
  if (it == values_.end()) return false;
  *value = it->second;
  return true;
}

void TagValues::Count(std::string_view input, bool set) {
  platform::MutexLock lock(mutex_);
  auto it = counts_.find(input);
  if (it == counts_.end()) it = counts_.emplace(std::string(input), Counts{}).first;
  ++(set ? it->second.set : it->second.refused);
}

TagValues::Counts TagValues::CountsOf(const std::string& input) const {
  platform::MutexLock lock(mutex_);
  auto it = counts_.find(input);
  return it == counts_.end() ? Counts{} : it->second;
}

}  // namespace veldrane::host
