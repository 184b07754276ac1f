#include <signal.h>

#include "tools/meter/meter_signals.h"

namespace veldrane::meter {
namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
  g_stop.store(true);
}

}  // namespace

const std::atomic<bool>& StopOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  return g_stop;
}

}  // namespace veldrane::meter
