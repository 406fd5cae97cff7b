// Driver-internal output state: the spinner position (tests reset it) and the
// standard-stream setup that main() performs once.
#pragma once

// Index of the next spinner character, 0 to 3 between calls.
extern int SpinnerPosition;

// Set when standard output and standard error reach the same file; error
// lines then flush the pending report first to keep their order.
extern bool StdoutSharesStderr;

// Set when standard output is a terminal: a report line then first brings
// the spinner characters still buffered, so the screen shows both in order.
extern bool StdoutIsTerminal;

// Gives standard output a static buffer: full buffering when it is not a
// terminal, line buffering when it is. Call before anything is written.
void PrepareStandardStreams();
