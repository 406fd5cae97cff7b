// Run state for the checker's unit tests: a clean slate per case, and the
// matcher run with its standard output and spinner captured.
#pragma once

#include <cstdint>
#include <string>

#include "checker/checker.h"

// Everything written to standard output by the captured calls since the last
// reset, and the spinner steps drawn on standard error.
extern std::string CapturedStdout;
extern int SpinnerSteps;

// Clears options, counters, captured output, record buffers, slots and the
// Stat area.
void ResetCheckerState();

// MatchSegmentToField with its output captured.
int RunMatcher(const KeySpec& key, int32_t& counter);
