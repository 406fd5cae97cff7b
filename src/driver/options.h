// The command line: defaults, the option scan and the FILE.DDF table key.
#pragma once

// The longest owner name that every dictionary's data buffer can carry with
// its terminator (INDEX.DDF's record is 10 bytes).
constexpr int kMaxOwnerNameLength = 9;

constexpr int kTableKeyWidth = 20;

// Every option flag and counter to 0, the owner name to its default.
void SetRunDefaults();

// Scans argv[argc - 1] back to argv[1]. Returns 0, or 1 after writing a
// message when a /P value is too long to be sent.
int ScanOptions(int argc, char** argv);

// Fills tableKey (kTableKeyWidth + 1 bytes) from the first argument; returns
// true when the run covers all tables.
bool BuildTableKey(const char* argument, char* tableKey);
