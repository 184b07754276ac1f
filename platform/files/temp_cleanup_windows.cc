// Temporary files that Ctrl-C, Ctrl-Break or closing the console window must not leave behind:
// while one is registered, a console handler removes every registered file and lets the
// process end as it would have (the next handler, or the system's, runs after it).
#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/files/temp_cleanup.h"
#include "platform/text/win_text.h"

namespace veldrane::platform {
namespace {

constexpr int kSlots = 16;

struct Slot {
  std::atomic<bool> taken{false};
  std::atomic<bool> ready{false};
  std::wstring path;
};
Slot g_slots[kSlots];

std::mutex g_mutex;
int g_guarded = 0;

BOOL WINAPI OnConsoleEvent(DWORD) {
  for (Slot& slot : g_slots) {
    if (slot.ready.load()) DeleteFileW(slot.path.c_str());
  }
  return FALSE;
}

}  // namespace

bool TempFileGuard::Guard(const std::string& path) {
  Release();
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (!g_slots[i].taken.compare_exchange_strong(expected, true)) continue;
    g_slots[i].path = WideFromUtf8(path);
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_guarded++ == 0) SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
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
    std::lock_guard<std::mutex> lock(g_mutex);
    if (--g_guarded == 0) SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
  }
  g_slots[slot_].taken.store(false);
  slot_ = -1;
}

}  // namespace veldrane::platform
