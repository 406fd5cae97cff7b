// Test-only stand-ins for the checker's collaborators (call layer, output,
// run state), so that the matcher, verifier and ACS check run alone against
// an in-memory dictionary model.
#pragma once

#include <string>

// Everything the checker wrote to standard output since the last reset.
extern std::string CapturedStdout;
// Spinner steps since the last reset.
extern int SpinnerSteps;

// Clears options, counters, captured output, names and the Stat area.
void ResetCheckerState();
