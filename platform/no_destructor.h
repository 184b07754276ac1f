// An object that is built on first use and never destroyed, for the state a module keeps until
// its own unload handler tears it down. The order in which a module's static destructors and its
// unload handler run differs between loaders (on Windows the handler runs after them), so state
// that the handler reads must not be destroyed under it.
#pragma once

#include <new>
#include <utility>

namespace veldrane::platform {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T& operator*() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace veldrane::platform
