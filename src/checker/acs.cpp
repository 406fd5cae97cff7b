// ACS cross-check and repair: compares a key's ACS flag with the column's
// "O" record in ATTRIB.DDF and, under /F, deletes records that should not
// exist and inserts a missing one copied from the data file's Stat result.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"

namespace {

constexpr uint16_t KEY_ACS = 0x0020;
constexpr uint8_t ACS_SIGNATURE = 0xAC;

// Data types whose columns may carry a collating sequence.
bool TypeMayCarryAcs(uint8_t dataType) {
  switch (dataType) {
    case 0: case 10: case 11: case 21: case 25: case 26:
      return true;
    default:
      return false;
  }
}

// Entry acsNumber of the current table's collating sequences, or null when it
// does not lie wholly inside both StatBuffer and the bytes that this table's
// Stat handed back. Bytes beyond those may be left over from an earlier table
// and must never reach ATTRIB.DDF.
const uint8_t* AcsEntry(uint8_t acsNumber) {
  if (AcsArea == nullptr || StatEnd == nullptr) return nullptr;
  const auto base = reinterpret_cast<uintptr_t>(StatBuffer);
  const auto area = reinterpret_cast<uintptr_t>(AcsArea);
  const auto end = reinterpret_cast<uintptr_t>(StatEnd);
  if (area < base || end < base) return nullptr;
  const uintptr_t areaOffset = area - base;
  uintptr_t endOffset = end - base;
  if (endOffset > STAT_BUFFER_SIZE) endOffset = STAT_BUFFER_SIZE;
  const uintptr_t entryOffset = areaOffset + uintptr_t{ACS_TABLE_SIZE} * acsNumber;
  if (areaOffset > endOffset || entryOffset + ACS_TABLE_SIZE > endOffset) return nullptr;
  return StatBuffer + entryOffset;
}

// Inserts a new "O" record for the column from the key's collating sequence.
void InsertAcsRecord(int columnId, uint8_t acsNumber) {
  PrintToStream(stdout, " FIX: Need to create new ATTRIB.DDF Record!\n");
  const uint8_t* entry = AcsEntry(acsNumber);
  if (entry == nullptr || entry[0] != ACS_SIGNATURE) {
    PrintToStream(stdout, " Error: No ACS found when trying to insert a new ACS record.\n");
    return;
  }
  std::memcpy(AttribRecord + ATTRIB_DATA, entry, ACS_TABLE_SIZE);
  // Clear the rest of the buffer so that nothing of an earlier record can be
  // written into the new one, whatever length the insert sends.
  std::memset(AttribRecord + ATTRIB_DATA + ACS_TABLE_SIZE, 0,
              ATTRIB_RECORD_SIZE - ATTRIB_DATA - ACS_TABLE_SIZE);
  if (InsertAttribRecord(columnId, ATTRIB_ACS, AttribRecord) != STATUS_SUCCESS) {
    PrintToStream(stdout, " Error trying to insert a new ACS record.\n");
  }
}

}  // namespace

bool CrossCheckAcs(int keyNumber, int segmentNumber, uint16_t keyFlags, uint8_t acsNumber,
                   bool& headerPrinted) {
  const int columnId = LoadU16(FieldRecord + FIELD_COLUMN_ID);
  const uint8_t dataType = FieldRecord[FIELD_DATA_TYPE];
  bool differs = false;
  // Every difference line is preceded by the header, once per segment.
  auto header = [&]() {
    ReportInconsistency(CurrentTableName, CurrentFieldName, keyNumber, segmentNumber,
                        headerPrinted);
    differs = true;
  };

  int lookupStatus = FindAttribRecord(columnId, ATTRIB_ACS, AttribRecord);
  if (RunOptions.trace) {
    PrintToStream(stdout, " Attrib Record Lookup Returned %d.\n", lookupStatus);
  }

  if (lookupStatus == STATUS_SUCCESS && !TypeMayCarryAcs(dataType)) {
    header();
    PrintToStream(stdout, " ACS defined in ATTRIB.DDF, but Data Type %d Doesn't Support an ACS.\n",
                  static_cast<int>(dataType));
    if (RunOptions.fixAcs) {
      PrintToStream(stdout, " FIX: Deleting the invalid ATTRIB.DDF Record!\n");
      if (DeleteAttribRecord(columnId, ATTRIB_ACS, AttribRecord) == STATUS_SUCCESS) {
        // The record is gone: from here on it counts as absent.
        lookupStatus = STATUS_KEY_NOT_FOUND;
      } else {
        PrintToStream(stdout, " Error trying to delete this ACS record.\n");
      }
    }
  }

  const bool keyHasAcs = (keyFlags & KEY_ACS) != 0;
  if (keyHasAcs && lookupStatus == STATUS_KEY_NOT_FOUND) {
    header();
    PrintToStream(stdout, " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF.\n");
    if (RunOptions.fixAcs) InsertAcsRecord(columnId, acsNumber);
  } else if (!keyHasAcs && lookupStatus == STATUS_SUCCESS) {
    header();
    PrintToStream(stdout, " ACS defined in ATTRIB.DDF, but ACS Flag NOT set in Btrieve file.\n");
    if (RunOptions.fixAcs) {
      PrintToStream(stdout, " FIX: Deleting the extra ATTRIB.DDF Record!\n");
      if (DeleteAttribRecord(columnId, ATTRIB_ACS, AttribRecord) != STATUS_SUCCESS) {
        PrintToStream(stdout, " Error trying to delete this ACS record.\n");
      }
    }
  }
  return differs;
}
