// Segment-to-field matching: finds the FIELD.DDF column, or run of
// consecutive columns, that a key segment covers and hands each column to the
// verifier, counting the outcome in RunStats.
//
// A segment that spans several columns is followed column by column in a loop
// rather than by recursion, so that a segment of 65535 bytes over 1-byte
// columns cannot exhaust the stack. Each turn of the loop prints and counts
// what one nested call would: its own key-information block with the
// remaining position and length, its own search, its own verification.
#include <cstdio>
#include <cstring>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"

namespace {

constexpr uint8_t NAMED_INDEX_TYPE = 255;

// FIELD.DDF key 4 value: table id, offset, one byte 0. It lives in static
// storage so that SLOT_FIELD never refers to a dead stack frame, and is as
// long as the key length that every call announces.
uint8_t FieldSearchKey[255];

void PrintKeyInformation(uint16_t position, uint16_t length, uint16_t flags,
                         uint8_t extendedType, uint8_t keyNumber) {
  PrintToStream(stdout, "Key Information:\n");
  PrintToStream(stdout, "Position: %u\n", static_cast<unsigned>(position));
  PrintToStream(stdout, "Length:   %u\n", static_cast<unsigned>(length));
  PrintToStream(stdout, "Ext.Type: %u\n", static_cast<unsigned>(extendedType));
  PrintToStream(stdout, "Key Num:  %u\n", static_cast<unsigned>(keyNumber));
  PrintToStream(stdout, "KeyFlags: 0x%.4x\n", static_cast<unsigned>(flags));
}

void CopyFieldName() {
  const uint8_t* name = FieldRecord + FIELD_COLUMN_NAME;
  int n = 0;
  while (n < NAME_WIDTH && name[n] != 0) {
    CurrentFieldName[n] = static_cast<char>(name[n]);
    ++n;
  }
  CurrentFieldName[n] = '\0';
  TrimTrailingSpaces(CurrentFieldName);
}

// Leaves in FieldRecord the first column of the current table that begins at
// offset, skipping named indexes. Returns false when there is none: another
// table or offset comes first, or the record manager answers non-zero.
bool FindColumnAt(uint16_t offset) {
  const uint16_t tableId = LoadU16(FileRecord + FILE_TABLE_ID);
  std::memset(FieldSearchKey, 0, sizeof FieldSearchKey);
  StoreU16(FieldSearchKey, tableId);
  StoreU16(FieldSearchKey + 2, offset);

  FileSlot& slot = FileSlots[SLOT_FIELD];
  slot.dataBuffer = FieldRecord;
  slot.keyBuffer = FieldSearchKey;
  slot.keyNumber = 4;
  slot.operation = OP_GET_GREATER_OR_EQUAL;
  int status = CallRecordManager(SLOT_FIELD);
  while (status == STATUS_SUCCESS) {
    if (LoadU16(FieldRecord + FIELD_TABLE_ID) != tableId ||
        LoadU16(FieldRecord + FIELD_OFFSET) != offset) {
      return false;
    }
    CopyFieldName();
    if (FieldRecord[FIELD_DATA_TYPE] != NAMED_INDEX_TYPE) return true;
    if (RunOptions.trace) {
      PrintToStream(stdout, "Skipping Named Index %s.\n", CurrentFieldName);
    }
    slot.operation = OP_GET_NEXT;
    status = CallRecordManager(SLOT_FIELD);
  }
  return false;
}

void CountVerification(int answer) {
  if (answer != 0) {
    ++RunStats.indicesNeeded;
  } else {
    ++RunStats.indicesVerified;
  }
}

}  // namespace

int MatchSegmentToField(KeySpec keySpec, int32_t& segmentCounter) {
  const uint16_t flags = LoadU16(keySpec.bytes + KEYSPEC_FLAGS);
  const uint8_t extendedType = keySpec.bytes[KEYSPEC_EXT_TYPE];
  const uint8_t keyNumber = keySpec.bytes[KEYSPEC_KEY_NUMBER];
  const uint8_t acsNumber = keySpec.bytes[KEYSPEC_ACS_NUMBER];
  uint16_t position = LoadU16(keySpec.bytes + KEYSPEC_POSITION);
  uint16_t length = LoadU16(keySpec.bytes + KEYSPEC_LENGTH);

  // Once the first column is found the segment counts as matched, whatever
  // its remainder yields.
  int matched = 0;
  for (;;) {
    if (RunOptions.trace) {
      PrintKeyInformation(position, length, flags, extendedType, keyNumber);
    }
    const uint16_t offset = static_cast<uint16_t>(position - 1);
    if (RunOptions.trace) {
      PrintToStream(stdout, "Looking For Field At Position %d.\n", static_cast<int>(offset));
    }

    if (!FindColumnAt(offset)) {
      PrintToStream(stdout, " No Fields Found At Offset %d of table %s.\n",
                    static_cast<int>(offset), CurrentTableName);
      ++RunStats.indicesCorrupt;
      return matched;
    }

    const uint16_t size = LoadU16(FieldRecord + FIELD_SIZE);
    if (size == length && size != 0) {
      if (RunOptions.trace) PrintToStream(stdout, "Found Perfect Match.\n");
      CountVerification(
          VerifyIndexSegment(keyNumber, segmentCounter, flags, extendedType, acsNumber));
      return 1;
    }
    // A column longer than the segment cannot be keyed by it; one of size 0
    // would never move the search on. Neither is verified.
    if (size > length || size == 0) {
      if (RunOptions.trace && size > length) {
        PrintToStream(stdout, "Found Field %s with Length %d > %d. Now What?.\n",
                      CurrentFieldName, static_cast<int>(size), static_cast<int>(length));
      }
      PrintToStream(stdout, "Unable To Match Table %s, Key Number %d.\n", CurrentTableName,
                    static_cast<int>(keyNumber));
      ++RunStats.indicesCorrupt;
      return matched;
    }

    // The column is shorter: verify it as a non-final segment and follow the
    // rest of the byte range under the next segment number.
    if (RunOptions.trace) {
      PrintToStream(stdout, "Found Field %s with Length %d < %d.\n", CurrentFieldName,
                    static_cast<int>(size), static_cast<int>(length));
    }
    CountVerification(VerifyIndexSegment(keyNumber, segmentCounter,
                                         static_cast<uint16_t>(flags | KEY_FLAG_SEGMENTED),
                                         extendedType, acsNumber));
    ++segmentCounter;
    matched = 1;
    position = static_cast<uint16_t>(position + size);
    length = static_cast<uint16_t>(length - size);
  }
}
