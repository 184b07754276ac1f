#include <windows.h>

#include "tools/meter/meter_signals.h"

namespace veldrane::meter {
namespace {

std::atomic<bool> g_stop{false};

BOOL WINAPI OnConsoleEvent(DWORD) {
  g_stop.store(true);
  return TRUE;
}

}  // namespace

const std::atomic<bool>& StopOnSignals() {
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
  return g_stop;
}

}  // namespace veldrane::meter
