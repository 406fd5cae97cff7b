// Puts the process-wide state of the spine back to program start, so that
// in-process tests do not see each other's slots, spinner or options.
#pragma once

#include <cstring>

#include "driver/driver.h"
#include "driver/output.h"
#include "driver/output_internal.h"
#include "recmgr/recmgr.h"

inline void ResetSpineState() {
  memset(FileSlots, 0, sizeof FileSlots);
  SpinnerPosition = 0;
  RunOptions = RunOptionFlags{};
  RunStats = RunCounters{};
  memset(OwnerName, 0, sizeof OwnerName);
}
