// A table of system calls that a test can replace (to fail the Nth call, or count calls), with
// the system's own table as the default. One per platform matter: modules, files, serial lines.
#pragma once

#include <atomic>

namespace veldrane::platform {

template <typename Api>
class ReplaceableApi {
 public:
  explicit constexpr ReplaceableApi(const Api* system) : system_(system), current_(system) {}

  const Api& Get() const { return *current_.load(); }
  // Installs a replacement; null restores the system's. Returns the previous table.
  const Api* Set(const Api* api) { return current_.exchange(api ? api : system_); }
  const Api& System() const { return *system_; }

 private:
  const Api* const system_;
  std::atomic<const Api*> current_;
};

}  // namespace veldrane::platform
