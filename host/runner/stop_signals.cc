#include "host/runner/stop_signals.h"

#include <signal.h>

namespace veldrane::host {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int sig) {
  if (TakeSignalAsStop()) return;
  // The signal's own action: it is blocked while this handler runs and ends the process as soon
  // as the handler returns.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
  raise(sig);
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : kSignals) sigaddset(&action.sa_mask, sig);
  for (int sig : kSignals) sigaction(sig, &action, nullptr);
  // A closed pipe on standard output ends a write, not the runner.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace veldrane::host
