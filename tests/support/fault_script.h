// Failing the Nth call of any replaceable system table (platform/replaceable_api.h). A test
// names the calls to fail ("read", "ioctl TIOCEXCL"); the entries of its faulty table count
// every call by name, fail the scripted ones with the script's errno and hand the others to the
// system's table.
#pragma once

#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace veldrane::test {

class FaultScript {
 public:
  struct Fault {
    std::string call;
    int nth;  // 1 is the first call of that name
    int error;
  };

  // Replaces the faults and forgets the counts.
  void Set(std::vector<Fault> faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = std::move(faults);
    counts_.clear();
  }
  void Fail(std::string call, int nth, int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({std::move(call), nth, error});
  }
  void Reset() { Set({}); }

  // Counts the call; true when it is one to fail, with errno set.
  bool Hit(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = ++counts_[call];
    for (const Fault& f : faults_) {
      if (f.call == call && f.nth == n) {
        errno = f.error;
        return true;
      }
    }
    return false;
  }
  int Count(const std::string& call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = counts_.find(call);
    return it == counts_.end() ? 0 : it->second;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Fault> faults_;
  std::map<std::string, int> counts_;
};

// The script that faulty tables consult: their entries are plain functions and capture nothing.
inline FaultScript& Faults() {
  static FaultScript script;
  return script;
}

// A table installed for the lifetime of the object, through the table's own setter; the
// previous one comes back after it, and the script starts empty.
template <typename Api>
class InstalledApi {
 public:
  InstalledApi(const Api* (*set)(const Api*), const Api& api) : set_(set), previous_(set(&api)) {
    Faults().Reset();
  }
  ~InstalledApi() {
    set_(previous_);
    Faults().Reset();
  }
  InstalledApi(const InstalledApi&) = delete;
  InstalledApi& operator=(const InstalledApi&) = delete;

 private:
  const Api* (*set_)(const Api*);
  const Api* previous_;
};

}  // namespace veldrane::test

// An entry of a faulty table for the field `field` of the table that `system_api()` returns: the
// call is named after the field; a scripted one answers -1, the others go to the system.
#define VELDRANE_FAULTY_CALL(system_api, field)                      \
  [](auto... args) {                                                 \
    if (::veldrane::test::Faults().Hit(#field)) {                    \
      return static_cast<decltype(system_api().field(args...))>(-1); \
    }                                                                \
    return system_api().field(args...);                              \
  }
