// Interrupt and termination signals. The first SIGINT or SIGTERM is only
// noted; the run acts on it at a safe point: the walk stops before the next
// table, the dictionaries are closed and the record manager reset as after
// Escape, and then the terminal is restored, output flushed and the process
// ended by the same signal (status 128 + signal). A second signal before
// then ends the process at once.
#pragma once

void InstallSignalHandlers();

// True once a signal has been noted.
bool SignalPending();

// Ends the process by the noted signal, if any; otherwise returns at once.
void ServicePendingSignal();
