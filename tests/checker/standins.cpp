#include "standins.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "recmgr/recmgr.h"

std::string CapturedStdout;
int SpinnerSteps = 0;

RunOptionFlags RunOptions;
char OwnerName[50];
char CurrentTableName[21];
char CurrentFieldName[21];
char MessageName[66];
RunCounters RunStats;

uint8_t FileRecord[FILE_RECORD_SIZE];
uint8_t FieldRecord[FIELD_RECORD_SIZE];
uint8_t IndexRecord[INDEX_RECORD_SIZE];
uint8_t AttribRecord[ATTRIB_RECORD_SIZE];

uint8_t StatBuffer[STAT_BUFFER_SIZE];
const uint8_t* AcsArea = StatBuffer;
const uint8_t* StatEnd = StatBuffer;

FileSlot FileSlots[SLOT_COUNT];

namespace {
RecordManagerEntryFn entryFn = nullptr;

void Append(FILE* stream, const char* format, va_list args) {
  char text[4096];
  vsnprintf(text, sizeof text, format, args);
  if (stream == stdout) {
    CapturedStdout += text;
  }
}
}  // namespace

void ResetCheckerState() {
  RunOptions = {};
  RunStats = {};
  CapturedStdout.clear();
  SpinnerSteps = 0;
  std::memset(StatBuffer, 0, sizeof StatBuffer);
  AcsArea = StatBuffer;
  StatEnd = StatBuffer;
  std::memset(FieldRecord, 0, sizeof FieldRecord);
  std::memset(IndexRecord, 0, sizeof IndexRecord);
  std::memset(AttribRecord, 0, sizeof AttribRecord);
  std::memset(FileSlots, 0, sizeof FileSlots);
  FileSlots[SLOT_FIELD].dataLength = FIELD_RECORD_SIZE;
  FileSlots[SLOT_INDEX].dataLength = INDEX_RECORD_SIZE;
  FileSlots[SLOT_ATTRIB].dataLength = ATTRIB_RECORD_SIZE;
  CurrentFieldName[0] = '\0';
}

int PrintToStream(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Append(stream, format, args);
  va_end(args);
  return 0;
}

int PrintToStdout(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Append(stdout, format, args);
  va_end(args);
  return 0;
}

void AdvanceSpinner() { ++SpinnerSteps; }

void TrimTrailingSpaces(char* text) {
  size_t n = std::strlen(text);
  while (n > 1 && text[n - 1] == ' ') text[--n] = '\0';
}

void SetRecordManagerEntry(RecordManagerEntryFn entry) { entryFn = entry; }

// The bare call: the slot's fields in, the length handed back out; no trace
// and no status messages.
int CallRecordManager(int slot) {
  FileSlot& s = FileSlots[slot];
  uint32_t length = s.dataLength;
  int result = entryFn(s.operation, s.positionBlock, s.dataBuffer, &length, s.keyBuffer, 255,
                       static_cast<uint8_t>(s.keyNumber));
  s.dataLength = static_cast<uint16_t>(length);
  return static_cast<int16_t>(result & 0xFFFF);
}
