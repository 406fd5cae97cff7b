#include "checker_state.h"

#include <cstring>

#include "capture.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "driver/output_internal.h"
#include "recmgr/recmgr.h"

std::string CapturedStdout;
int SpinnerSteps = 0;

void ResetCheckerState() {
  RunOptions = {};
  RunStats = {};
  CapturedStdout.clear();
  SpinnerSteps = 0;
  SpinnerPosition = 0;
  std::memset(StatBuffer, 0, sizeof StatBuffer);
  AcsArea = StatBuffer;
  StatEnd = StatBuffer;
  std::memset(FileRecord, 0, sizeof FileRecord);
  std::memset(FieldRecord, 0, sizeof FieldRecord);
  std::memset(IndexRecord, 0, sizeof IndexRecord);
  std::memset(AttribRecord, 0, sizeof AttribRecord);
  std::memset(FileSlots, 0, sizeof FileSlots);
  // The lengths that the dictionary opens leave in their slots.
  FileSlots[SLOT_FIELD].dataLength = FIELD_RECORD_SIZE;
  FileSlots[SLOT_INDEX].dataLength = INDEX_RECORD_SIZE;
  FileSlots[SLOT_ATTRIB].dataLength = ATTRIB_RECORD_SIZE;
  CurrentFieldName[0] = '\0';
}

int RunMatcher(const KeySpec& key, int32_t& counter) {
  OutputCapture capture;
  const int result = MatchSegmentToField(key, counter);
  capture.Finish();
  CapturedStdout += capture.out();
  // Each spinner step is one character and a backspace.
  for (char c : capture.err()) {
    if (c == '\b') ++SpinnerSteps;
  }
  return result;
}
