// Interrupt and termination signals. The first SIGINT or SIGTERM is noted and
// acted on at the next safe point (before a record-manager call, or when the
// run returns): the terminal is restored, output flushed, and the process
// ends by the same signal, so its status is the conventional 128 + signal.
// A second signal before that point ends the process at once.
#pragma once

void InstallSignalHandlers();

// Ends the process when a signal is pending; otherwise returns at once.
void ServicePendingSignal();
