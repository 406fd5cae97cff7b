// The file slots and the checked call: every record-manager operation passes
// through CallRecordManager, which traces it under /D and applies the status
// policy.
#include <cstdlib>

#include "driver/driver.h"
#include "driver/output.h"
#include "recmgr/recmgr.h"

FileSlot FileSlots[SLOT_COUNT];

namespace {

RecordManagerEntryFn boundEntry = nullptr;

// The record manager always receives the largest key length; it writes no
// more than the length of the key in use.
constexpr uint8_t kKeyLength = 255;

void ApplyStatusPolicy(const FileSlot& slot, int status) {
  switch (status) {
    case STATUS_SUCCESS:
    case STATUS_FILE_NOT_OPEN:
    case STATUS_KEY_NOT_FOUND:
    case STATUS_DUPLICATE_KEY:
    case STATUS_END_OF_FILE:
    case STATUS_FILE_NOT_FOUND:
    case STATUS_DATA_BUFFER_LENGTH:
      return;  // the callers handle these themselves
    case STATUS_NOT_LOADED:
      PrintToStream(stderr, "Please load the Btrieve Record Manager\n");
      std::exit(1);  // a normal exit: buffered output is flushed
    case STATUS_NOT_A_FILE:
      PrintToStream(stderr, "%s: Not a Btrieve File\n", slot.fileName);
      return;
    default:
      PrintToStream(stderr, "Btrieve Error %d: Operation=%d, File=%s\n", status,
                    static_cast<int>(slot.operation), slot.fileName);
      return;
  }
}

}  // namespace

void SetRecordManagerEntry(RecordManagerEntryFn entry) { boundEntry = entry; }

int CallRecordManager(int slotNumber) {
  FileSlot& slot = FileSlots[slotNumber];
  if (RunOptions.trace) {
    PrintToStdout("Op: %d, Buflen: %d, KeyNum: %d ", static_cast<int>(slot.operation),
                  static_cast<int>(slot.dataLength), static_cast<int>(slot.keyNumber));
  }

  uint32_t length = slot.dataLength;
  int result = boundEntry(slot.operation, slot.positionBlock, slot.dataBuffer, &length,
                          slot.keyBuffer, kKeyLength,
                          static_cast<uint8_t>(slot.keyNumber & 0xFF));
  slot.dataLength = static_cast<uint16_t>(length & 0xFFFF);
  int status = static_cast<int16_t>(static_cast<uint16_t>(result & 0xFFFF));

  if (RunOptions.trace) PrintToStdout("Status: %d\n", status);
  ApplyStatusPolicy(slot, status);
  return status;
}
