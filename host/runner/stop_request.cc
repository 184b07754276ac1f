// The stop request that the signal handlers of each system share.
#include "host/runner/stop_signals.h"

namespace veldrane::host {
namespace {

std::atomic<bool> g_clean{false};
std::atomic<bool> g_stop{false};

}  // namespace

bool TakeSignalAsStop() {
  return g_clean.load() && !g_stop.exchange(true);
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
