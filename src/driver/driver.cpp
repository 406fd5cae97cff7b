// The run: argument check, options, dictionaries, the FILE.DDF walk with the
// Escape poll, and the end of the run with its exit code.
#include "driver/driver.h"

#include <cstring>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/console.h"
#include "driver/options.h"
#include "driver/output.h"
#include "driver/signals.h"
#include "recmgr/recmgr.h"

RunOptionFlags RunOptions;
char OwnerName[50];
char CurrentTableName[21];
char CurrentFieldName[21];
char MessageName[66];

namespace {

constexpr int kEscape = 27;

const char* const kUsageLines[] = {
    "\nUsage:  SCRUTOR TableName [/<options>] [/P=Password]\n\n",
    "    This command examines the TableName table for indices which are\n",
    "    not properly defined in INDEX.DDF and prints a report about them.\n",
    "    Use \"*\" for TableName to process all Tables.\n",
    "    Use the /A option to enable strict ACS/Case checking.\n",
    "    Use the /C option to enable strict field type checking.\n",
    "    Use the /F option with /A to fix up ACS issues within ATTRIB.DDF.\n",
    "    Use the /I option to print index information as they are processed.\n",
    "    Use the /K option to print Btrieve key info as they are processed.\n",
    "    Use the /N option to enable NULL flag checking.\n",
    "    Use the /S option to print statistics at the end.\n",
    "    Use the /T option to print table names as they are processed.\n",
    "    Use the /P= option to provide the database Master Password.\n\n",
};

// The table key as the user gave it (for the not-found message), and the
// walk's own copy that the record manager overwrites with each key found.
// Static: SLOT_FILE keeps pointing at the walk key after the run. The walk key
// has room for the largest key length the call layer announces (255).
char tableKey[kTableKeyWidth + 1];
uint8_t walkKey[256];

void PrintUsage() {
  for (const char* line : kUsageLines) PrintToStream(stderr, "%s", line);
}

bool IsSkippedTable(const uint8_t* record) {
  const uint8_t* name = record + FILE_TABLE_NAME;
  return (name[0] == 'X' || name[0] == 'x') && name[1] == '$';
}

void SetCurrentTableName(const uint8_t* record) {
  const char* name = reinterpret_cast<const char*>(record + FILE_TABLE_NAME);
  size_t n = strnlen(name, NAME_WIDTH);
  memcpy(CurrentTableName, name, n);
  CurrentTableName[n] = '\0';
  TrimTrailingSpaces(CurrentTableName);
}

enum WalkEnd { WALK_DONE, WALK_NOT_FOUND, WALK_ESCAPE, WALK_SIGNAL };

WalkEnd WalkTables(bool allTables) {
  memset(walkKey, 0, sizeof walkKey);
  memcpy(walkKey, tableKey, sizeof tableKey);
  FileSlot& slot = FileSlots[SLOT_FILE];
  slot.dataBuffer = FileRecord;
  slot.keyBuffer = walkKey;
  slot.keyNumber = 1;
  slot.operation = allTables ? OP_GET_FIRST : OP_GET_EQUAL;

  for (;;) {
    // An interrupt stops the walk between tables, never inside a table's
    // checks and repairs.
    if (SignalPending()) return WALK_SIGNAL;
    int status = CallRecordManager(SLOT_FILE);
    if (status == STATUS_KEY_NOT_FOUND) return WALK_NOT_FOUND;
    if (status != STATUS_SUCCESS) return WALK_DONE;  // end of file included

    int key = ConsolePollKey();
    if (key == kEscape) return WALK_ESCAPE;

    if (!IsSkippedTable(FileRecord)) {
      SetCurrentTableName(FileRecord);
      if (RunOptions.showTables) {
        PrintToStdout("Working On Table %s...\n", CurrentTableName);
      } else {
        AdvanceSpinner();
      }
      CheckTable();
    }

    if (!allTables) return WALK_DONE;
    slot.operation = OP_GET_NEXT;
  }
}

int Run(int argc, char** argv) {
  SetRunDefaults();
  if (ScanOptions(argc, argv) != 0) return 1;
  bool allTables = BuildTableKey(argv[1], tableKey);

  int status = OpenDictionaries();
  if (status != 0) {
    PrintToStream(stderr, "Unable to Open Dictionary Files - Status %d\n", status);
    ResetRecordManager();
    return 1;
  }

  switch (WalkTables(allTables)) {
    case WALK_NOT_FOUND:
      memcpy(MessageName, tableKey, kTableKeyWidth);
      MessageName[kTableKeyWidth] = '\0';
      TrimTrailingSpaces(MessageName);
      PrintToStdout("Table <%s> Not Found.\n", MessageName);
      ResetRecordManager();
      return 2;
    case WALK_ESCAPE:
      PrintToStream(stderr, "\nScrutor Terminated by the User.\n");
      CloseDictionaries();
      ResetRecordManager();
      return 1;
    case WALK_SIGNAL:
      CloseDictionaries();
      ResetRecordManager();
      return 1;  // ScrutorMain ends the process by the signal
    case WALK_DONE:
      break;
  }

  if (RunOptions.showStats) {
    PrintStatistics();
  } else {
    PrintToStdout("Done.\n");
  }
  CloseDictionaries();
  ResetRecordManager();
  return 0;
}

}  // namespace

int ScrutorMain(int argc, char** argv) {
  int n = argc - 1;
  if (n < 1 || n > 6) {
    PrintUsage();
    return 1;
  }
  ConsoleBegin();
  int code = Run(argc, argv);
  ConsoleEnd();
  ServicePendingSignal();
  return code;
}
