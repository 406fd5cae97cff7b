// Record-manager access: the file slots, the one checked call through which
// every record-manager operation passes, and the slot-level operations.
#pragma once

#include <cstdint>

// The record manager's one entry. The result's low 16 bits are the status,
// a signed 16-bit value, 0 for success. The key number byte carries -1 as 0xFF.
using RecordManagerEntryFn = int (*)(uint32_t operation, void* positionBlock,
                                     void* dataBuffer, uint32_t* dataLength,
                                     void* keyBuffer, uint8_t keyLength,
                                     uint8_t keyNumber);

// Chooses the entry that every later call goes through. main() binds the
// build's record manager once at start-up; tests bind fakes.
void SetRecordManagerEntry(RecordManagerEntryFn entry);

// The entry of this build's binding (the embedded record manager, or the
// platform's client library on Windows). Defined by the binding library.
int BoundRecordManagerEntry(uint32_t operation, void* positionBlock,
                            void* dataBuffer, uint32_t* dataLength,
                            void* keyBuffer, uint8_t keyLength,
                            uint8_t keyNumber);

enum Operation : uint16_t {
  OP_OPEN = 0,
  OP_CLOSE = 1,
  OP_INSERT = 2,
  OP_DELETE = 4,
  OP_GET_EQUAL = 5,
  OP_GET_NEXT = 6,
  OP_GET_GREATER_OR_EQUAL = 9,
  OP_GET_FIRST = 12,
  OP_STAT = 15,
  OP_RESET = 28,
};

enum Status : int {
  STATUS_SUCCESS = 0,
  STATUS_FILE_NOT_OPEN = 3,
  STATUS_KEY_NOT_FOUND = 4,
  STATUS_DUPLICATE_KEY = 5,
  STATUS_END_OF_FILE = 9,
  STATUS_FILE_NOT_FOUND = 12,
  STATUS_NOT_LOADED = 20,
  STATUS_DATA_BUFFER_LENGTH = 22,
  STATUS_NOT_A_FILE = 30,
};

enum SlotNumber : int {
  SLOT_FILE = 1,    // FILE.DDF
  SLOT_FIELD = 2,   // FIELD.DDF
  SLOT_INDEX = 3,   // INDEX.DDF
  SLOT_DATA = 4,    // the data file of the table being checked
  SLOT_ATTRIB = 5,  // ATTRIB.DDF
  SLOT_COUNT = 6,   // slot 0 is never used
};

// The parameter block and standing state of one file. A caller sets only the
// fields its operation needs; the rest, dataLength above all, carry over.
struct FileSlot {
  uint16_t operation;
  uint8_t positionBlock[128];  // the record manager's; never read or moved
  uint8_t* dataBuffer;
  uint16_t dataLength;  // sent with the next call; after it, the length handed back
  uint8_t* keyBuffer;   // may be null
  int16_t keyNumber;    // open mode for Open; -1 for Stat
  char fileName[128];   // used only in messages
};

extern FileSlot FileSlots[SLOT_COUNT];

// Issues one call on FileSlots[slot] with the /D trace and the status policy.
// Returns the status; status 20 ends the process with exit code 1.
int CallRecordManager(int slot);

int CloseFileSlot(int slot);
int OpenDataFile(int slot, const char* fileName, uint8_t* dataBuffer, uint16_t dataLength);
int StatDataFile(int slot, uint8_t* dataBuffer, uint16_t dataLength);
int ResetRecordManager();
