// The command-line driver: run options, owner name, the names quoted by the
// report, and the entry point of a run.
#pragma once

#include <cstdint>

struct RunOptionFlags {
  uint8_t strictAcs;    // /A
  uint8_t strictType;   // /C
  uint8_t trace;        // /D
  uint8_t fixAcs;       // /F
  uint8_t showIndexes;  // /I
  uint8_t showKeys;     // /K
  uint8_t checkNull;    // /N
  uint8_t showStats;    // /S
  uint8_t showTables;   // /T
};

extern RunOptionFlags RunOptions;
extern char OwnerName[50];
extern char CurrentTableName[21];
extern char CurrentFieldName[21];
extern char MessageName[66];

// Runs the whole job once and returns the process exit code. The record
// manager's entry must have been chosen with SetRecordManagerEntry first.
int ScrutorMain(int argc, char** argv);
