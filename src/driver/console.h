// Key input for the Escape poll, kept behind a tiny interface so that each
// platform has a small file of its own.
#pragma once

// Prepares key input for the run: a terminal is switched to unbuffered,
// no-echo input until ConsoleEnd (also at process exit).
void ConsoleBegin();

// Restores what ConsoleBegin changed. Safe to call more than once, and from
// a signal handler.
void ConsoleEnd();

// Does not wait: -1 when no key is waiting, else the code of the one key read.
int ConsolePollKey();
