// The table pass: opens one table's data file, reads its key definitions with
// Stat, counts keys and segments, hands every key segment to the matcher in
// order, and closes the file.
#include <cstring>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"

uint8_t StatBuffer[STAT_BUFFER_SIZE];
const uint8_t* AcsArea = StatBuffer;
const uint8_t* StatEnd = StatBuffer;

namespace {

constexpr int FILESPEC_KEY_COUNT = 4;

// The data-file path: at most 64 characters of the location, stopping at a
// NUL, trailing blanks cut.
void CopyLocation(char (&path)[LOCATION_WIDTH + 1]) {
  const uint8_t* location = FileRecord + FILE_LOCATION;
  int n = 0;
  while (n < LOCATION_WIDTH && location[n] != 0) {
    path[n] = static_cast<char>(location[n]);
    ++n;
  }
  path[n] = '\0';
  TrimTrailingSpaces(path);
}

// Counts the KeySpec entries of keyCount keys: a key ends at the first entry
// without the segmented flag. Every entry must lie wholly before end. Returns
// the count, or -1 when the keys run past end.
int CountSegments(int keyCount, const uint8_t* end) {
  int segments = 0;
  int keysEnded = 0;
  while (keysEnded < keyCount) {
    const uint8_t* entry = StatBuffer + FILE_SPEC_SIZE + KEY_SPEC_SIZE * segments;
    if (end - entry < KEY_SPEC_SIZE) return -1;
    if ((LoadU16(entry + KEYSPEC_FLAGS) & KEY_FLAG_SEGMENTED) == 0) ++keysEnded;
    ++segments;
  }
  return segments;
}

void WalkSegments(int keyCount, int segmentCount) {
  int key = 0;
  int32_t segmentCounter = 0;
  for (int i = 0; i < segmentCount && key < keyCount; ++i) {
    if (RunOptions.showKeys || RunOptions.trace) {
      PrintToStdout("Starting on Key %d of %d\n", key, keyCount);
    }
    KeySpec keySpec;
    std::memcpy(keySpec.bytes, StatBuffer + FILE_SPEC_SIZE + KEY_SPEC_SIZE * i, KEY_SPEC_SIZE);
    MatchSegmentToField(keySpec, segmentCounter);
    if (LoadU16(keySpec.bytes + KEYSPEC_FLAGS) & KEY_FLAG_SEGMENTED) {
      ++segmentCounter;  // on whatever the matcher left there
    } else {
      segmentCounter = 0;
      ++key;
    }
  }
}

}  // namespace

void CheckTable() {
  // Until this table's Stat succeeds, nothing of an earlier table is readable.
  AcsArea = StatBuffer;
  StatEnd = StatBuffer;

  char path[LOCATION_WIDTH + 1];
  CopyLocation(path);
  if (RunOptions.trace) PrintToStdout("Opening file %s\n", path);

  int status = OpenDataFile(SLOT_DATA, path, StatBuffer, STAT_BUFFER_SIZE);
  if (status != 0) {
    std::memcpy(MessageName, path, sizeof path);
    PrintToStdout("Btrieve File %s Not Found.\n", MessageName);
    ++RunStats.filesRejected;
    return;
  }
  ++RunStats.filesProcessed;
  if (RunOptions.trace) PrintToStdout("Obtaining Stat Information\n");

  // A failed Stat leaves no key definitions to walk; the call layer has
  // reported it already.
  status = StatDataFile(SLOT_DATA, StatBuffer, STAT_BUFFER_SIZE);
  if (status != 0) {
    CloseFileSlot(SLOT_DATA);
    return;
  }

  // Only the bytes this Stat handed back belong to this table.
  int returned = FileSlots[SLOT_DATA].dataLength;
  if (returned > STAT_BUFFER_SIZE) returned = STAT_BUFFER_SIZE;
  const uint8_t* end = StatBuffer + returned;

  int keyCount = -1;
  int segmentCount = -1;
  if (returned >= FILE_SPEC_SIZE) {
    keyCount = StatBuffer[FILESPEC_KEY_COUNT];
    segmentCount = CountSegments(keyCount, end);
  }
  if (segmentCount < 0) {
    PrintToStdout("Key definitions of table %s in %s run past the Stat result; table skipped.\n",
                  CurrentTableName, path);
    CloseFileSlot(SLOT_DATA);
    return;
  }

  int acsOffset = FILE_SPEC_SIZE + KEY_SPEC_SIZE * segmentCount;
  if (RunOptions.trace) {
    PrintToStdout("Found %d Segments, calculating ACS offset of 0x%.4x\n", segmentCount,
                  static_cast<unsigned>(acsOffset));
  }
  RunStats.btrieveKeys += static_cast<uint32_t>(keyCount);
  AcsArea = StatBuffer + acsOffset;
  StatEnd = end;

  WalkSegments(keyCount, segmentCount);
  CloseFileSlot(SLOT_DATA);
}
