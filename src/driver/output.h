// Console output: the two print helpers every line goes through, the spinner,
// the name helpers, and the run counters with their statistics block.
#pragma once

#include <cstdint>
#include <cstdio>

struct RunCounters {
  uint32_t filesProcessed;
  uint32_t filesRejected;
  uint32_t btrieveKeys;
  uint32_t indicesVerified;
  uint32_t indicesNeeded;
  uint32_t indicesCorrupt;
};

extern RunCounters RunStats;

int PrintToStream(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int PrintToStdout(const char* format, ...) __attribute__((format(printf, 1, 2)));

void AdvanceSpinner();
void TrimTrailingSpaces(char* text);
void PadWithSpaces(char* text, int width);
void PrintStatistics();
