// Opening the four dictionaries in order, stopping at the first failure, and
// closing them at the end of a run.
#include <cstring>

#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "recmgr/recmgr.h"

namespace {

// The file name travels in the key buffer of the Open. Static rather than
// local: the slot keeps pointing at it after the call, and the record manager
// is told the key buffer is 255 bytes long.
uint8_t openKeyArea[256];

struct Dictionary {
  int slot;
  const char* name;
  uint8_t* record;
  uint16_t recordSize;
};

const Dictionary kDictionaries[] = {
    {SLOT_FILE, "FILE.DDF", FileRecord, FILE_RECORD_SIZE},
    {SLOT_FIELD, "FIELD.DDF", FieldRecord, FIELD_RECORD_SIZE},
    {SLOT_INDEX, "INDEX.DDF", IndexRecord, INDEX_RECORD_SIZE},
    {SLOT_ATTRIB, "ATTRIB.DDF", AttribRecord, ATTRIB_RECORD_SIZE},
};

int OpenDictionary(const Dictionary& dict) {
  FileSlot& slot = FileSlots[dict.slot];
  std::memset(openKeyArea, 0, sizeof openKeyArea);
  std::strncpy(reinterpret_cast<char*>(openKeyArea), dict.name, sizeof openKeyArea - 1);
  std::strncpy(slot.fileName, dict.name, sizeof slot.fileName - 1);
  slot.fileName[sizeof slot.fileName - 1] = '\0';

  // The owner name with its terminator, bounded by the record size. A name
  // too long for the buffer is cut so that the terminator still fits: the
  // record manager then refuses the cut name (owner name wrong) instead of
  // reading past the length sent.
  size_t n = 0;
  while (n < sizeof OwnerName - 1 && OwnerName[n] != '\0') ++n;
  if (n > static_cast<size_t>(dict.recordSize) - 1) n = dict.recordSize - 1;
  std::memcpy(dict.record, OwnerName, n);
  dict.record[n] = 0;

  slot.dataBuffer = dict.record;
  slot.dataLength = dict.recordSize;
  slot.operation = OP_OPEN;
  slot.keyNumber = 0;
  slot.keyBuffer = openKeyArea;
  return CallRecordManager(dict.slot);
}

}  // namespace

int OpenDictionaries() {
  if (RunOptions.trace) PrintToStdout("Opening Data Dictionaries\n");
  int status = 0;
  for (const Dictionary& dict : kDictionaries) {
    status = OpenDictionary(dict);
    if (status != 0) break;  // the later ones are not tried
  }
  if (RunOptions.trace) PrintToStdout("Data Dictionaries Opened: %d\n", status);
  return status;
}

void CloseDictionaries() {
  if (RunOptions.trace) PrintToStdout("Closing Data Dictionaries\n");
  for (const Dictionary& dict : kDictionaries) {
    FileSlots[dict.slot].operation = OP_CLOSE;
    CallRecordManager(dict.slot);
  }
  if (RunOptions.trace) PrintToStdout("Data Dictionaries Closed\n");
}
