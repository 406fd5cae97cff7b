// Index definition verification: compares one key segment, as the data file
// defines it, with its INDEX.DDF record and its FIELD.DDF column, and reports
// every difference under a header printed once per call.
#include <cstdio>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"

namespace {

// Key flag bits (the data file's view of a segment).
constexpr uint16_t KEY_DUPLICATES = 0x0001;
constexpr uint16_t KEY_MODIFIABLE = 0x0002;
constexpr uint16_t KEY_NULL = 0x0008;
constexpr uint16_t KEY_SEGMENT = 0x0010;
constexpr uint16_t KEY_ACS = 0x0020;
constexpr uint16_t KEY_DESCENDING = 0x0040;
constexpr uint16_t KEY_LINKED_DUPLICATES = 0x0080;
constexpr uint16_t KEY_EXTENDED_TYPE = 0x0100;
constexpr uint16_t KEY_NULL_ANY = 0x0200 | KEY_NULL;
constexpr uint16_t KEY_CASE_INSENSITIVE = 0x0400;

// INDEX.DDF flag bits; ACS and case-insensitivity sit elsewhere than in keys.
constexpr uint16_t INDEX_ACS = 0x0004;
constexpr uint16_t INDEX_NULL = 0x0008;
constexpr uint16_t INDEX_CASE_INSENSITIVE = 0x0020;

// FIELD.DDF flag bit: the column is case-insensitive.
constexpr uint8_t FIELD_CASE = 0x01;

bool Has(uint16_t flags, uint16_t bits) { return (flags & bits) != 0; }

// The state of one verification: whether a difference was found and whether
// the header has been printed for it.
struct Verification {
  int keyNumber;
  int segmentNumber;
  bool inconsistent = false;
  bool headerPrinted = false;

  void Report(const char* line) {
    ReportInconsistency(CurrentTableName, CurrentFieldName, keyNumber, segmentNumber,
                        headerPrinted);
    PrintToStream(stdout, "%s", line);
    inconsistent = true;
  }
  void ReportIf(bool differs, const char* line) {
    if (differs) Report(line);
  }
};

}  // namespace

void ReportInconsistency(const char* tableName, const char* columnName, int keyNumber,
                         int segmentNumber, bool& headerPrinted) {
  if (headerPrinted) return;
  PrintToStream(stdout, "Inconsistency Found: Key %d, Segment %d for %s.%s.\n", keyNumber,
                segmentNumber, tableName, columnName);
  headerPrinted = true;
}

int VerifyIndexSegment(int keyNumber, int segmentNumber, uint16_t keyFlags,
                       uint8_t extendedType, uint8_t acsNumber) {
  if (RunOptions.showIndexes) {
    PrintToStdout("Working On Index %d, Segment %d...\n", keyNumber, segmentNumber);
  } else if (!RunOptions.showTables) {
    AdvanceSpinner();
  }

  const int columnSize = LoadU16(FieldRecord + FIELD_SIZE);
  if (RunOptions.trace) {
    PrintToStream(stdout,
                  "Checking Index: Field %s with Length %d as %d/%d with flags: 0x%.4x.\n",
                  CurrentFieldName, columnSize, keyNumber, segmentNumber,
                  static_cast<unsigned>(keyFlags));
  }

  const int status = FindIndexRecord(LoadU16(FileRecord + FILE_TABLE_ID), keyNumber,
                                     segmentNumber, IndexRecord);
  if (status == STATUS_KEY_NOT_FOUND) {
    PrintToStream(stdout, "Index Not Found: Key %d, Seg %d on File %s.\n", keyNumber,
                  segmentNumber, CurrentTableName);
    return 1;
  }
  if (status != STATUS_SUCCESS) {
    PrintToStream(stdout, "Error Retrieving Index Record, Status %d.\n", status);
    return 1;
  }

  if (RunOptions.showIndexes) {
    PrintToStdout("Verifying Type and Flags for %s...\n", CurrentFieldName);
  }

  Verification v{keyNumber, segmentNumber};
  if (LoadU16(IndexRecord + INDEX_COLUMN_ID) != LoadU16(FieldRecord + FIELD_COLUMN_ID)) {
    v.Report(" Index number is for the wrong field.\n");
    return 1;
  }

  const uint8_t dataType = FieldRecord[FIELD_DATA_TYPE];
  if (RunOptions.strictType && extendedType != dataType) {
    ReportInconsistency(CurrentTableName, CurrentFieldName, keyNumber, segmentNumber,
                        v.headerPrinted);
    PrintToStream(stdout, " Field (%d) and Key Type (%d) do not match.\n",
                  static_cast<int>(dataType), static_cast<int>(extendedType));
    v.inconsistent = true;
  }

  const uint16_t indexFlags = LoadU16(IndexRecord + INDEX_FLAGS);
  // A bit differs when it is set on one side and clear on the other.
  auto differs = [&](uint16_t keyBit, uint16_t indexBit) {
    return Has(keyFlags, keyBit) != Has(indexFlags, indexBit);
  };

  v.ReportIf(differs(KEY_DUPLICATES, KEY_DUPLICATES), " Duplicate Key Flag Doesn't Match.\n");
  // Linked duplicates only mean something on a key that allows duplicates.
  if (Has(keyFlags, KEY_DUPLICATES)) {
    v.ReportIf(differs(KEY_LINKED_DUPLICATES, KEY_LINKED_DUPLICATES),
               " Linked/Repeating Duplicates Flag Mismatch (Warning Only).\n");
  }
  v.ReportIf(differs(KEY_MODIFIABLE, KEY_MODIFIABLE), " Modifiable Key Flag Doesn't Match.\n");
  v.ReportIf(differs(KEY_SEGMENT, KEY_SEGMENT), " Segment Key Flag Doesn't Match.\n");
  v.ReportIf(differs(KEY_DESCENDING, KEY_DESCENDING), " Descending Key Flag Doesn't Match.\n");
  v.ReportIf(differs(KEY_EXTENDED_TYPE, KEY_EXTENDED_TYPE),
             " Extended Type Key Flag Doesn't Match.\n");

  if (RunOptions.strictAcs) {
    v.ReportIf(differs(KEY_ACS, INDEX_ACS), " ACS Key Flag Doesn't Match.\n");
    v.ReportIf(differs(KEY_CASE_INSENSITIVE, INDEX_CASE_INSENSITIVE),
               " Case Insensitivity Key Flag Doesn't Match.\n");
    const bool columnCase = (FieldRecord[FIELD_FLAGS] & FIELD_CASE) != 0;
    v.ReportIf(columnCase != Has(indexFlags, INDEX_CASE_INSENSITIVE),
               " CASE Flag in the FIELD Record Doesn't Match CASE Flag in this INDEX.\n");
    if (CrossCheckAcs(keyNumber, segmentNumber, keyFlags, acsNumber, v.headerPrinted)) {
      v.inconsistent = true;
    }
  } else {
    // Without /A only the presence of some case or ACS handling is compared.
    v.ReportIf(Has(keyFlags, KEY_ACS | KEY_CASE_INSENSITIVE) !=
                   Has(indexFlags, INDEX_ACS | INDEX_CASE_INSENSITIVE),
               " Case/ACS Key Flags Do Not Match.\n");
  }

  if (RunOptions.checkNull) {
    v.ReportIf(Has(keyFlags, KEY_NULL_ANY) != Has(indexFlags, INDEX_NULL),
               " Null Key Flag Doesn't Match.\n");
  }

  if (!v.inconsistent) return 0;
  if (RunOptions.trace) {
    PrintToStream(stdout, "Field %s.%s, Length %d as %d/%d with flags: 0x%.4x.\n",
                  CurrentTableName, CurrentFieldName, columnSize, keyNumber, segmentNumber,
                  static_cast<unsigned>(keyFlags));
    PrintToStream(stdout, " Key Flags Do Not Match: 0x%.4x.\n",
                  static_cast<unsigned>(indexFlags));
  }
  return 1;
}
