// How the host runner ends on Windows: Ctrl-C, Ctrl-Break and closing the console window. While
// the driver runs the first of them asks for a clean stop; before that, and on a second one,
// the process ends at once (exit status 130, as after SIGINT).
#include <windows.h>

#include "host/runner/stop_signals.h"

namespace veldrane::host {
namespace {

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (TakeSignalAsStop()) return TRUE;
  ExitProcess(130);
}

}  // namespace

void InstallStopSignals() {
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

}  // namespace veldrane::host
