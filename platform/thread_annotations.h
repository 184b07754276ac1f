// What a lock guards, said so that Clang checks it (-Wthread-safety, in the strict Clang
// presets): a member GUARDED_BY(mutex_) is read and written only while mutex_ is held. Other
// compilers read the annotations as nothing. std::mutex carries no annotation of its own, so
// what is checked uses Mutex and MutexLock from here.
#pragma once

#include <mutex>

#if defined(__clang__)
#define VELDRANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VELDRANE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) VELDRANE_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY VELDRANE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(lock) VELDRANE_THREAD_ANNOTATION(guarded_by(lock))
#define PT_GUARDED_BY(lock) VELDRANE_THREAD_ANNOTATION(pt_guarded_by(lock))
#define REQUIRES(...) VELDRANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VELDRANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELDRANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) VELDRANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

namespace veldrane::platform {

// std::mutex as a capability the checker knows.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  // For a condition variable's wait, which takes the lock over while it waits.
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace veldrane::platform
