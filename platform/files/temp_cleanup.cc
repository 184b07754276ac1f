#include "platform/files/temp_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/thread_annotations.h"

namespace veldrane::platform {
namespace {

constexpr int kSlots = 16;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the signal handler, so only atomics and a fixed buffer per slot. A slot is taken
// (taken), filled, then published (ready); the handler removes only published paths.
struct Slot {
  std::atomic<bool> taken{false};
  std::atomic<bool> ready{false};
  char path[PATH_MAX];
};
Slot g_slots[kSlots];

Mutex g_mutex;  // the count and the handlers; never taken by the handler
int g_guarded GUARDED_BY(g_mutex) = 0;
bool g_installed[sizeof kSignals / sizeof kSignals[0]] GUARDED_BY(g_mutex) = {};

void OnSignal(int sig) {
  int saved = errno;
  for (Slot& slot : g_slots) {
    // unlink is async-signal-safe; the file table is not used here for that reason.
    if (slot.ready.load()) ::unlink(slot.path);
  }
  // The signal's own action now: it is blocked while this handler runs and ends the process
  // as soon as the handler returns.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
  raise(sig);
  errno = saved;
}

void InstallLocked() REQUIRES(g_mutex) {
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    struct sigaction old {};
    if (sigaction(kSignals[i], nullptr, &old) != 0) continue;
    bool is_default = !(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL;
    if (!is_default) continue;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    for (int other : kSignals) sigaddset(&action.sa_mask, other);
    g_installed[i] = sigaction(kSignals[i], &action, nullptr) == 0;
  }
}

void RestoreLocked() REQUIRES(g_mutex) {
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (!g_installed[i]) continue;
    g_installed[i] = false;
    // A handler that the program installed meanwhile stays.
    struct sigaction current {};
    if (sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler != &OnSignal) continue;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(kSignals[i], &action, nullptr);
  }
}

}  // namespace

bool TempFileGuard::Guard(const std::string& path) {
  Release();
  if (path.size() >= PATH_MAX) return false;
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (!g_slots[i].taken.compare_exchange_strong(expected, true)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    {
      MutexLock lock(g_mutex);
      if (g_guarded++ == 0) InstallLocked();
    }
    g_slots[i].ready.store(true);
    slot_ = i;
    return true;
  }
  return false;
}

void TempFileGuard::Release() {
  if (slot_ < 0) return;
  g_slots[slot_].ready.store(false);
  {
    MutexLock lock(g_mutex);
    if (--g_guarded == 0) RestoreLocked();
  }
  g_slots[slot_].taken.store(false);
  slot_ = -1;
}

}  // namespace veldrane::platform
