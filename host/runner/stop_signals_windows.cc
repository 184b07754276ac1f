// How the host runner ends on Windows: Ctrl-C, Ctrl-Break and closing the console window. While
// the driver runs the first of them asks for a clean stop; before that, and on a second one,
// the process ends at once (exit status 130, as after SIGINT).
#include <windows.h>

#include "host/runner/stop_signals.h"

namespace veldrane::host {
namespace {

std::atomic<bool> g_clean{false};
std::atomic<bool> g_stop{false};

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (g_clean.load() && !g_stop.exchange(true)) return TRUE;
  ExitProcess(130);
}

}  // namespace

void InstallStopSignals() {
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

void StopCleanlyOnSignal() {
  g_clean.store(true);
}

const std::atomic<bool>& StopRequested() {
  return g_stop;
}

void RequestStop() {
  g_stop.store(true);
}

}  // namespace veldrane::host
