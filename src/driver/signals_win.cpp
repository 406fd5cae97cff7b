// Ctrl-C and Ctrl-Break on Windows. The first is only noted; the run acts
// on it at the same safe point as elsewhere (before the next table, after
// the dictionaries are closed and the record manager reset), then flushes
// its output and ends with the code of an interrupted console program. A
// second one before then ends the process at once, with the same code.
#include <windows.h>

#include <cstdio>

#include "driver/console.h"
#include "driver/signals.h"

namespace {

// The exit code Windows gives a process ended by Ctrl-C.
constexpr UINT kControlCExit = 0xC000013A;

// The control handler runs on a thread of its own.
volatile LONG pendingEvent = 0;

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (InterlockedExchange(&pendingEvent, 1) == 0) return TRUE;
  // Asked twice: end now, as the system's own handler would.
  ExitProcess(kControlCExit);
}

}  // namespace

void InstallSignalHandlers() { SetConsoleCtrlHandler(OnControl, TRUE); }

bool SignalPending() { return InterlockedCompareExchange(&pendingEvent, 0, 0) != 0; }

void ServicePendingSignal() {
  if (!SignalPending()) return;
  ConsoleEnd();
  fflush(stdout);
  fflush(stderr);
  ExitProcess(kControlCExit);
}
