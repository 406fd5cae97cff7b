// Slot-level operations used outside the dictionary code: Open, Stat, Close
// of one slot and the closing Reset.
#include <cstring>

#include "driver/driver.h"
#include "recmgr/recmgr.h"

namespace {

constexpr size_t kKeyAreaSize = 256;

// The key areas stay valid after the call: later calls on the slot (Close)
// send the key buffer as left, so it must never point into a dead frame.
char openKeyArea[SLOT_COUNT][kKeyAreaSize];
uint8_t statKeyArea[kKeyAreaSize];

// Copies at most size - 1 characters and always terminates.
void CopyTerminated(char* to, const char* from, size_t size) {
  size_t n = strnlen(from, size - 1);
  memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

int CloseFileSlot(int slot) {
  FileSlots[slot].operation = OP_CLOSE;
  return CallRecordManager(slot);
}

int OpenDataFile(int slot, const char* fileName, uint8_t* dataBuffer, uint16_t dataLength) {
  FileSlot& s = FileSlots[slot];
  char* keyArea = openKeyArea[slot];
  CopyTerminated(keyArea, fileName, kKeyAreaSize);
  CopyTerminated(s.fileName, fileName, sizeof s.fileName);

  // The owner name with its terminator leads the data buffer, within the
  // length sent and at most 256 bytes; a name cut to fit keeps its terminator.
  size_t room = dataLength < kKeyAreaSize ? dataLength : kKeyAreaSize;
  if (room > 0) {
    size_t n = strnlen(OwnerName, sizeof OwnerName - 1);
    if (n > room - 1) n = room - 1;
    memcpy(dataBuffer, OwnerName, n);
    dataBuffer[n] = 0;
  }

  s.dataLength = dataLength;
  s.keyNumber = 0;
  s.keyBuffer = reinterpret_cast<uint8_t*>(keyArea);
  s.dataBuffer = dataBuffer;
  s.operation = OP_OPEN;
  return CallRecordManager(slot);
}

int StatDataFile(int slot, uint8_t* dataBuffer, uint16_t dataLength) {
  FileSlot& s = FileSlots[slot];
  s.dataLength = dataLength;
  s.dataBuffer = dataBuffer;
  s.keyNumber = -1;
  s.keyBuffer = statKeyArea;
  s.operation = OP_STAT;
  return CallRecordManager(slot);
}

int ResetRecordManager() {
  FileSlot& s = FileSlots[SLOT_FILE];
  s.keyNumber = 0;
  s.keyBuffer = nullptr;
  s.operation = OP_RESET;
  return CallRecordManager(SLOT_FILE);
}
