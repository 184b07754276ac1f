// The runner's tag values: the last value each linked tag was given, and how many values each
// input gave and had refused. Inputs write from their own threads; the runner reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/thread_annotations.h"

namespace veldrane::host {

class TagValues {
 public:
  // A linked tag: 0 until a value comes.
  void Link(const std::string& tag);
  void Set(const std::string& tag, double value);
  // False for a tag never linked.
  bool Get(const std::string& tag, double* value) const;
  // Moves with every Set: the stations' values need reading again only when it moved.
  uint64_t version() const { return version_.load(); }

  // What an input's values came to.
  struct Counts {
    uint64_t set = 0;
    uint64_t refused = 0;
  };
  void Count(std::string_view input, bool set);
  Counts CountsOf(const std::string& input) const;

 private:
  mutable platform::Mutex mutex_;
  std::map<std::string, double> values_ GUARDED_BY(mutex_);
  std::map<std::string, Counts, std::less<>> counts_ GUARDED_BY(mutex_);
  std::atomic<uint64_t> version_{0};
};

}  // namespace veldrane::host
