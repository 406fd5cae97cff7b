#include "driver/options.h"

#include <cstring>

#include "driver/driver.h"
#include "driver/output.h"

namespace {

const char kDefaultOwnerName[] = "..QV....";

}  // namespace

void SetRunDefaults() {
  RunOptions = RunOptionFlags{};
  RunStats = RunCounters{};
  memset(OwnerName, 0, sizeof OwnerName);
  memcpy(OwnerName, kDefaultOwnerName, sizeof kDefaultOwnerName);
}

int ScanOptions(int argc, char** argv) {
  // From the last argument to the first, so the leftmost /P is the one kept.
  for (int i = argc - 1; i >= 1; i--) {
    const char* arg = argv[i];
    if (arg[0] != '/' && arg[0] != '-') continue;
    char letter = arg[1];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    switch (letter) {
      case 'A': RunOptions.strictAcs = 1; break;
      case 'C': RunOptions.strictType = 1; break;
      case 'D': RunOptions.trace = 1; break;
      case 'F': RunOptions.fixAcs = 1; break;
      case 'I': RunOptions.showIndexes = 1; break;
      case 'K': RunOptions.showKeys = 1; break;
      case 'N': RunOptions.checkNull = 1; break;
      case 'S': RunOptions.showStats = 1; break;
      case 'T': RunOptions.showTables = 1; break;
      case 'P': {
        // The value starts at the fourth character; the third ("=") is not
        // examined. A bare /P has no value: an empty owner name.
        const char* value = arg[2] == '\0' ? arg + 2 : arg + 3;
        size_t length = strlen(value);
        if (length > static_cast<size_t>(kMaxOwnerNameLength)) {
          PrintToStream(stderr, "The /P password is too long: at most %d characters.\n",
                        kMaxOwnerNameLength);
          return 1;
        }
        memcpy(OwnerName, value, length + 1);
        break;
      }
      default:
        break;  // unknown letters are passed over silently
    }
  }
  return 0;
}

bool BuildTableKey(const char* argument, char* tableKey) {
  size_t n = strnlen(argument, kTableKeyWidth);
  memcpy(tableKey, argument, n);
  tableKey[n] = '\0';
  PadWithSpaces(tableKey, kTableKeyWidth);
  tableKey[kTableKeyWidth] = '\0';
  if (tableKey[0] != '*') return false;
  memset(tableKey, ' ', kTableKeyWidth);
  return true;
}
