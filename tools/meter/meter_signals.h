// How the virtual meter ends: Ctrl-C, SIGTERM and SIGHUP on POSIX (meter_signals_posix.cc);
// Ctrl-C, Ctrl-Break and closing the console on Windows (meter_signals_windows.cc).
#pragma once

#include <atomic>

namespace veldrane::meter {

// From now on those set the flag returned, which the meter's loop watches.
const std::atomic<bool>& StopOnSignals();

}  // namespace veldrane::meter
