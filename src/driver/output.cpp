// The print helpers every line goes through, the spinner, the name helpers
// and the statistics block.
#include "driver/output.h"

#include <chrono>
#include <cstdarg>
#include <cstring>

#include "driver/output_internal.h"

RunCounters RunStats;
int SpinnerPosition;
bool StdoutSharesStderr;
bool StdoutIsTerminal;

namespace {
const char kSpinnerChars[4] = {'-', '\\', '|', '/'};

// Standard error is line-buffered (see streams.cpp); the spinner, which ends
// no line, is shown at least this often, so a terminal or the reader of a
// pipe still sees progress.
constexpr auto kSpinnerFlushEvery = std::chrono::milliseconds(100);
std::chrono::steady_clock::time_point spinnerFlushedAt;
unsigned spinnerSteps;
}

int PrintToStream(FILE* stream, const char* format, ...) {
  // When both streams reach the same file, a line on standard error brings
  // the pending report lines first, so the file keeps the order in which the
  // lines were written. The spinner (no line feed) flushes nothing.
  if (stream == stderr && StdoutSharesStderr) {
    size_t n = strlen(format);
    if (n > 0 && format[n - 1] == '\n') fflush(stdout);
  }
  if (stream == stdout && StdoutIsTerminal) fflush(stderr);
  va_list args;
  va_start(args, format);
  int written = vfprintf(stream, format, args);
  va_end(args);
  return written;
}

int PrintToStdout(const char* format, ...) {
  if (StdoutIsTerminal) fflush(stderr);
  va_list args;
  va_start(args, format);
  int written = vfprintf(stdout, format, args);
  va_end(args);
  return written;
}

void AdvanceSpinner() {
  char c = kSpinnerChars[SpinnerPosition & 3];
  SpinnerPosition++;
  PrintToStream(stderr, "%c%c", c, '\b');
  if (SpinnerPosition > 3) SpinnerPosition = 0;
  // The clock is read every 16th step only: a step takes microseconds.
  if ((spinnerSteps++ & 15) != 0) return;
  auto now = std::chrono::steady_clock::now();
  if (now - spinnerFlushedAt >= kSpinnerFlushEvery) {
    fflush(stderr);
    spinnerFlushedAt = now;
  }
}

void TrimTrailingSpaces(char* text) {
  size_t i = strlen(text);
  // The first character is never removed: an all-blank name keeps one blank.
  while (i > 0 && (text[i] == ' ' || text[i] == '\0')) {
    text[i] = '\0';
    i--;
  }
}

void PadWithSpaces(char* text, int width) {
  int len = static_cast<int>(strlen(text));
  for (int i = len; i < width; i++) text[i] = ' ';
}

void PrintStatistics() {
  PrintToStdout("\nWork completed.\n");
  PrintToStdout("Files Processed = %lu\n", static_cast<unsigned long>(RunStats.filesProcessed));
  PrintToStdout("Files Rejected  = %lu\n", static_cast<unsigned long>(RunStats.filesRejected));
  PrintToStdout("Btrieve Keys    = %lu\n", static_cast<unsigned long>(RunStats.btrieveKeys));
  PrintToStdout("Indices Verified= %lu\n", static_cast<unsigned long>(RunStats.indicesVerified));
  PrintToStdout("Indices Needed  = %lu\n", static_cast<unsigned long>(RunStats.indicesNeeded));
  PrintToStdout("Indices Corrupt = %lu\n", static_cast<unsigned long>(RunStats.indicesCorrupt));
}
