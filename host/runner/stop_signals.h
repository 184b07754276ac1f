// How the host runner ends on SIGINT (Ctrl-C), SIGTERM and SIGHUP. While the driver runs, the
// first such signal asks for a clean stop (the driver stopped, the statistics printed); before
// that (loading a configuration, opening the port) and on a second signal the process ends at
// once, as the signal's own action would end it.
#pragma once

#include <atomic>

namespace veldrane::host {

void InstallStopSignals();
// From here on the first signal asks for a clean stop instead of ending the process.
void StopCleanlyOnSignal();
// Set by the first signal after StopCleanlyOnSignal; the runner's waits watch it.
const std::atomic<bool>& StopRequested();
// Asks for a stop as the signal would (--seconds ran out); a signal from now on ends at once.
void RequestStop();
// For the signal handlers (async-signal-safe): true when this signal is the clean stop, false
// when the process must end at once.
bool TakeSignalAsStop();

}  // namespace veldrane::host
