#include "driver/signals.h"

#include <csignal>
#include <cstdio>

#include "driver/console.h"

namespace {

volatile sig_atomic_t pendingSignal = 0;

void EndBySignal(int sig) {
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void OnSignal(int sig) {
  if (pendingSignal != 0) {
    // Asked twice: only async-signal-safe steps, then end now.
    ConsoleEnd();
    EndBySignal(sig);
    return;
  }
  pendingSignal = sig;
}

}  // namespace

void InstallSignalHandlers() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

bool SignalPending() { return pendingSignal != 0; }

void ServicePendingSignal() {
  int sig = pendingSignal;
  if (sig == 0) return;
  ConsoleEnd();
  fflush(stdout);
  fflush(stderr);
  EndBySignal(sig);
}
