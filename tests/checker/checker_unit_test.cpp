// The matcher, the verifier and the ACS check against an in-memory dictionary:
// exact standard output, counters, segment numbers and ATTRIB.DDF afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "dictionary_model.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "fake_entry.h"
#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"
#include "capture.h"
#include "checker_state.h"

namespace {

constexpr uint16_t kTable = 7;

KeySpec Key(uint16_t position, uint16_t length, uint16_t flags, uint8_t extendedType,
            uint8_t keyNumber, uint8_t acsNumber = 0) {
  KeySpec k{};
  StoreU16(k.bytes + KEYSPEC_POSITION, position);
  StoreU16(k.bytes + KEYSPEC_LENGTH, length);
  StoreU16(k.bytes + KEYSPEC_FLAGS, flags);
  k.bytes[KEYSPEC_EXT_TYPE] = extendedType;
  k.bytes[KEYSPEC_KEY_NUMBER] = keyNumber;
  k.bytes[KEYSPEC_ACS_NUMBER] = acsNumber;
  return k;
}

// Options as their letters, e.g. "AFD".
void SetOptions(const std::string& letters) {
  RunOptions = {};
  for (char c : letters) {
    switch (c) {
      case 'A': RunOptions.strictAcs = 1; break;
      case 'C': RunOptions.strictType = 1; break;
      case 'D': RunOptions.trace = 1; break;
      case 'F': RunOptions.fixAcs = 1; break;
      case 'I': RunOptions.showIndexes = 1; break;
      case 'N': RunOptions.checkNull = 1; break;
      case 'T': RunOptions.showTables = 1; break;
      default: FAIL() << "unknown option " << c;
    }
  }
}

// A scripted record manager with an in-memory dictionary behind it.
struct Scenario {
  FakeRecordManager fake;
  DictionaryModel db{fake};
};

class CheckerTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }

  // Starts a case afresh: empty dictionary, cleared state, table 7 "Orders".
  virtual void Fresh() {
    scenario_.reset();
    scenario_ = std::make_unique<Scenario>();
    ResetCheckerState();
    std::memset(FileRecord, 0, sizeof FileRecord);
    StoreU16(FileRecord + FILE_TABLE_ID, kTable);
    std::strcpy(CurrentTableName, "Orders");
  }
  DictionaryModel& db() { return scenario_->db; }
  FakeRecordManager& fake() { return scenario_->fake; }

  // The matcher on one key segment; returns its answer.
  int Match(const KeySpec& key, int32_t& counter) { return RunMatcher(key, counter); }

 private:
  std::unique_ptr<Scenario> scenario_;
};

// ---------------------------------------------------------------- matching

// Orders: Id 0..3, a named index and Name 4..13, City 14..19, Zip 20..21,
// a gap 22..29, Note 30..37, a lone named index at 40, an empty column at 50.
class MatchTest : public CheckerTest {
 protected:
  void Fresh() override {
    CheckerTest::Fresh();
    db().AddColumn({1, kTable, "Id", 14, 0, 4});
    db().AddColumn({9, kTable, "ByName", 255, 4, 0});
    db().AddColumn({2, kTable, "Name", 0, 4, 10});
    db().AddColumn({3, kTable, "City", 0, 14, 6});
    db().AddColumn({4, kTable, "Zip", 0, 20, 2});
    db().AddColumn({5, kTable, "Note", 0, 30, 8});
    db().AddColumn({10, kTable, "ByNote", 255, 40, 0});
    db().AddColumn({6, kTable, "Empty", 0, 50, 0});
    // Another table's column right after, at an offset the gap asks for.
    db().AddColumn({70, kTable + 1, "Other", 0, 22, 8});
    db().AddIndex(kTable, 1, 0, 0, 0x0000);
    db().AddIndex(kTable, 2, 1, 0, 0x0010);
    db().AddIndex(kTable, 3, 1, 1, 0x0010);
    db().AddIndex(kTable, 4, 1, 2, 0x0000);
    db().AddIndex(kTable, 2, 2, 0, 0x0000);
    db().AddIndex(kTable, 4, 4, 0, 0x0010);
  }
};

struct MatchCase {
  const char* name;
  const char* options;
  KeySpec key;
  int32_t counterBefore;
  const char* out;
  int result;
  int32_t counterAfter;
  uint32_t verified, needed, corrupt;
};

TEST_F(MatchTest, OutcomesTable) {
  const MatchCase cases[] = {
      {"one column", "", Key(1, 4, 0, 14, 0), 0, "", 1, 0, 1, 0, 0},
      {"one column traced; position 1 is looked for at 0", "D", Key(1, 4, 0, 14, 0), 0,
       "Key Information:\nPosition: 1\nLength:   4\nExt.Type: 14\nKey Num:  0\n"
       "KeyFlags: 0x0000\nLooking For Field At Position 0.\n" "Op: 9, Buflen: 32, KeyNum: 4 Status: 0\n"
       "Found Perfect Match.\n"
       "Checking Index: Field Id with Length 4 as 0/0 with flags: 0x0000.\n" "Op: 5, Buflen: 10, KeyNum: 2 Status: 0\n",
       1, 0, 1, 0, 0},
      // Name, City and Zip under segments 0, 1, 2; the INDEX rows expect
      // 0x0010 on the first two, so a missing segment bit would be reported.
      {"three columns", "", Key(5, 18, 0, 0, 1), 0, "", 1, 2, 3, 0, 0},
      {"named index skipped before the column", "D", Key(5, 10, 0, 0, 2), 0,
       "Key Information:\nPosition: 5\nLength:   10\nExt.Type: 0\nKey Num:  2\n"
       "KeyFlags: 0x0000\nLooking For Field At Position 4.\n" "Op: 9, Buflen: 32, KeyNum: 4 Status: 0\n"
       "Skipping Named Index ByName.\n" "Op: 6, Buflen: 32, KeyNum: 4 Status: 0\n"
       "Found Perfect Match.\n"
       "Checking Index: Field Name with Length 10 as 2/0 with flags: 0x0000.\n" "Op: 5, Buflen: 10, KeyNum: 2 Status: 0\n",
       1, 0, 1, 0, 0},
      {"only a named index at the offset", "", Key(41, 4, 0, 0, 3), 0,
       " No Fields Found At Offset 40 of table Orders.\n", 0, 0, 0, 0, 1},
      {"nothing at the offset, another table's column next", "", Key(23, 4, 0, 0, 3), 0,
       " No Fields Found At Offset 22 of table Orders.\n", 0, 0, 0, 0, 1},
      {"beyond the last column of every table", "", Key(60001, 4, 0, 0, 3), 0,
       " No Fields Found At Offset 60000 of table Orders.\n", 0, 0, 0, 0, 1},
      {"position 0 wraps to offset 65535", "", Key(0, 4, 0, 0, 3), 0,
       " No Fields Found At Offset 65535 of table Orders.\n", 0, 0, 0, 0, 1},
      {"column longer than the segment", "", Key(5, 4, 0, 0, 3), 0,
       "Unable To Match Table Orders, Key Number 3.\n", 0, 0, 0, 0, 1},
      {"column longer than the segment, traced", "D", Key(31, 4, 0x0001, 0, 3), 0,
       "Key Information:\nPosition: 31\nLength:   4\nExt.Type: 0\nKey Num:  3\n"
       "KeyFlags: 0x0001\nLooking For Field At Position 30.\n" "Op: 9, Buflen: 32, KeyNum: 4 Status: 0\n"
       "Found Field Note with Length 8 > 4. Now What?.\n"
       "Unable To Match Table Orders, Key Number 3.\n",
       0, 0, 0, 0, 1},
      // Zip is verified as segment 0 with 0x0010; the rest falls into the gap
      // and is looked for under its own key-information block.
      {"split whose rest falls into a gap", "D", Key(21, 10, 0, 0, 4), 0,
       "Key Information:\nPosition: 21\nLength:   10\nExt.Type: 0\nKey Num:  4\n"
       "KeyFlags: 0x0000\nLooking For Field At Position 20.\n" "Op: 9, Buflen: 32, KeyNum: 4 Status: 0\n"
       "Found Field Zip with Length 2 < 10.\n"
       "Checking Index: Field Zip with Length 2 as 4/0 with flags: 0x0010.\n" "Op: 5, Buflen: 10, KeyNum: 2 Status: 0\n"
       "Key Information:\nPosition: 23\nLength:   8\nExt.Type: 0\nKey Num:  4\n"
       "KeyFlags: 0x0000\nLooking For Field At Position 22.\n" "Op: 9, Buflen: 32, KeyNum: 4 Status: 0\n"
       " No Fields Found At Offset 22 of table Orders.\n",
       1, 1, 1, 0, 1},
      {"a column of size 0 is unmatchable", "", Key(51, 4, 0, 0, 5), 0,
       "Unable To Match Table Orders, Key Number 5.\n", 0, 0, 0, 0, 1},
      {"a column of size 0 under a segment of length 0", "", Key(51, 0, 0, 0, 5), 0,
       "Unable To Match Table Orders, Key Number 5.\n", 0, 0, 0, 0, 1},
      // A key continuing from earlier segments: the counter carries on.
      {"split starting at segment 3", "", Key(15, 8, 0, 0, 6), 3,
       "Index Not Found: Key 6, Seg 3 on File Orders.\n"
       "Index Not Found: Key 6, Seg 4 on File Orders.\n",
       1, 4, 0, 2, 0},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    SetOptions(c.options);
    int32_t counter = c.counterBefore;
    EXPECT_EQ(Match(c.key, counter), c.result);
    EXPECT_EQ(CapturedStdout, c.out);
    EXPECT_EQ(counter, c.counterAfter);
    EXPECT_EQ(RunStats.indicesVerified, c.verified);
    EXPECT_EQ(RunStats.indicesNeeded, c.needed);
    EXPECT_EQ(RunStats.indicesCorrupt, c.corrupt);
  }
}

TEST_F(MatchTest, SplitVerifiesEachColumnUnderItsOwnSegmentNumber) {
  SetOptions("");
  fake().ClearCalls();
  int32_t counter = 0;
  ASSERT_EQ(Match(Key(5, 18, 0x0002, 0, 1), counter), 1);
  // One INDEX.DDF lookup per column, segments 0, 1, 2 of key 1.
  std::vector<std::vector<uint8_t>> lookups;
  for (const RecordedCall& call : fake().calls()) {
    if (call.positionBlock == FileSlots[SLOT_INDEX].positionBlock) {
      lookups.emplace_back(call.keyBytes.begin(), call.keyBytes.begin() + 6);
    }
  }
  const std::vector<std::vector<uint8_t>> expected = {
      {7, 0, 1, 0, 0, 0}, {7, 0, 1, 0, 1, 0}, {7, 0, 1, 0, 2, 0}};
  EXPECT_EQ(lookups, expected);
  // The key's own modifiable bit reaches every column, and the INDEX rows lack
  // it: three reports, each under its own header.
  EXPECT_EQ(CapturedStdout,
            "Inconsistency Found: Key 1, Segment 0 for Orders.Name.\n"
            " Modifiable Key Flag Doesn't Match.\n"
            "Inconsistency Found: Key 1, Segment 1 for Orders.City.\n"
            " Modifiable Key Flag Doesn't Match.\n"
            "Inconsistency Found: Key 1, Segment 2 for Orders.Zip.\n"
            " Modifiable Key Flag Doesn't Match.\n");
  EXPECT_EQ(RunStats.indicesNeeded, 3u);
  // FieldRecord and CurrentFieldName are left on the last column.
  EXPECT_STREQ(CurrentFieldName, "Zip");
  EXPECT_EQ(LoadU16(FieldRecord + FIELD_COLUMN_ID), 4);
}

TEST_F(CheckerTest, SegmentOf65535BytesOverOneByteColumns) {
  for (uint32_t offset = 0; offset < 65535; ++offset) {
    db().AddColumn({static_cast<uint16_t>(offset + 1), kTable, "B", 0,
                  static_cast<uint16_t>(offset), 1});
    db().AddIndex(kTable, static_cast<uint16_t>(offset + 1), 0, static_cast<uint16_t>(offset),
                offset == 65534 ? 0x0000 : 0x0010);
  }
  SetOptions("T");
  int32_t counter = 0;
  EXPECT_EQ(Match(Key(1, 65535, 0, 0, 0), counter), 1);
  EXPECT_EQ(counter, 65534);
  EXPECT_EQ(RunStats.indicesVerified, 65535u);
  EXPECT_EQ(RunStats.indicesNeeded, 0u);
  EXPECT_EQ(RunStats.indicesCorrupt, 0u);
  EXPECT_EQ(CapturedStdout, "");
}

// ------------------------------------------------------------ verification

// Orders.Amount: column 20 at offset 0, 8 bytes, verified as key 0 segment 0.
class VerifyTest : public CheckerTest {
 protected:
  // Runs one segment over Amount with the given flags; returns the answer as
  // counted (1 needed, 0 verified).
  int Run(const std::string& options, uint16_t keyFlags, uint16_t indexFlags,
          uint16_t fieldFlags = 0, uint8_t extendedType = 0, uint8_t dataType = 0) {
    db().AddColumn({20, kTable, "Amount", dataType, 0, 8, fieldFlags});
    db().AddIndex(kTable, 20, 0, 0, indexFlags);
    SetOptions(options);
    int32_t counter = 0;
    EXPECT_EQ(Match(Key(1, 8, keyFlags, extendedType, 0), counter), 1);
    EXPECT_EQ(RunStats.indicesVerified + RunStats.indicesNeeded, 1u);
    return RunStats.indicesNeeded == 1 ? 1 : 0;
  }
};

struct FlagCase {
  const char* name;
  const char* options;
  uint16_t keyFlags, indexFlags, fieldFlags;
  const char* lines;  // difference lines after the header; empty: consistent
};

TEST_F(VerifyTest, FlagRowsTable) {
  const char* const kHeader = "Inconsistency Found: Key 0, Segment 0 for Orders.Amount.\n";
  const FlagCase cases[] = {
      {"all equal", "", 0x0000, 0x0000, 0, ""},
      {"row 1 duplicates", "", 0x0001, 0x0000, 0, " Duplicate Key Flag Doesn't Match.\n"},
      {"row 2 linked duplicates only", "", 0x0081, 0x0001, 0,
       " Linked/Repeating Duplicates Flag Mismatch (Warning Only).\n"},
      {"rows 1 and 2 together", "", 0x0081, 0x0000, 0,
       " Duplicate Key Flag Doesn't Match.\n"
       " Linked/Repeating Duplicates Flag Mismatch (Warning Only).\n"},
      {"row 2 skipped without the key's duplicates bit", "", 0x0000, 0x0081, 0,
       " Duplicate Key Flag Doesn't Match.\n"},
      {"row 3 modifiable", "", 0x0002, 0x0000, 0, " Modifiable Key Flag Doesn't Match.\n"},
      {"row 4 segment", "", 0x0000, 0x0010, 0, " Segment Key Flag Doesn't Match.\n"},
      {"row 5 descending", "", 0x0040, 0x0000, 0, " Descending Key Flag Doesn't Match.\n"},
      {"row 6 extended type", "", 0x0000, 0x0100, 0,
       " Extended Type Key Flag Doesn't Match.\n"},
      {"row 7 ACS", "A", 0x0000, 0x0004, 0, " ACS Key Flag Doesn't Match.\n"},
      {"row 8 case-insensitive", "A", 0x0400, 0x0000, 0,
       " Case Insensitivity Key Flag Doesn't Match.\n"},
      {"row 9 FIELD CASE alone", "A", 0x0000, 0x0000, 1,
       " CASE Flag in the FIELD Record Doesn't Match CASE Flag in this INDEX.\n"},
      {"row 9 INDEX case-insensitive alone", "A", 0x0400, 0x0020, 0,
       " CASE Flag in the FIELD Record Doesn't Match CASE Flag in this INDEX.\n"},
      {"row 9 both set", "A", 0x0400, 0x0020, 1, ""},
      {"row 9 reads only the FIELD flags' low byte", "A", 0x0000, 0x0000, 0x0100, ""},
      {"row 10 case-insensitive key against INDEX ACS", "", 0x0400, 0x0004, 0, ""},
      {"row 10 INDEX case-insensitive alone", "", 0x0000, 0x0020, 0,
       " Case/ACS Key Flags Do Not Match.\n"},
      {"row 10 not tested under /A", "A", 0x0400, 0x0020, 1, ""},
      {"row 11 second null bit against INDEX null", "N", 0x0200, 0x0008, 0, ""},
      {"row 11 both null bits against none", "N", 0x0208, 0x0000, 0,
       " Null Key Flag Doesn't Match.\n"},
      {"row 11 not tested without /N", "", 0x0208, 0x0000, 0, ""},
      {"three differences in table order", "", 0x0043, 0x0000, 0,
       " Duplicate Key Flag Doesn't Match.\n"
       " Modifiable Key Flag Doesn't Match.\n"
       " Descending Key Flag Doesn't Match.\n"},
      {"every row at once", "AN", 0x0663, 0x0190, 1,
       " Duplicate Key Flag Doesn't Match.\n"
       " Linked/Repeating Duplicates Flag Mismatch (Warning Only).\n"
       " Modifiable Key Flag Doesn't Match.\n"
       " Segment Key Flag Doesn't Match.\n"
       " Descending Key Flag Doesn't Match.\n"
       " Extended Type Key Flag Doesn't Match.\n"
       " ACS Key Flag Doesn't Match.\n"
       " Case Insensitivity Key Flag Doesn't Match.\n"
       " CASE Flag in the FIELD Record Doesn't Match CASE Flag in this INDEX.\n"
       " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF.\n"
       " Null Key Flag Doesn't Match.\n"},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    db().AddColumn({20, kTable, "Amount", 0, 0, 8, c.fieldFlags});
    db().AddIndex(kTable, 20, 0, 0, c.indexFlags);
    SetOptions(c.options);
    int32_t counter = 0;
    EXPECT_EQ(RunMatcher(Key(1, 8, c.keyFlags, 0, 0), counter), 1);
    const bool consistent = std::string(c.lines).empty();
    EXPECT_EQ(CapturedStdout, consistent ? std::string() : kHeader + std::string(c.lines));
    EXPECT_EQ(RunStats.indicesVerified, consistent ? 1u : 0u);
    EXPECT_EQ(RunStats.indicesNeeded, consistent ? 0u : 1u);
  }
}

TEST_F(VerifyTest, TypeComparedOnlyUnderC) {
  EXPECT_EQ(Run("C", 0, 0, 0, /*extendedType=*/14, /*dataType=*/1), 1);
  EXPECT_EQ(CapturedStdout,
            "Inconsistency Found: Key 0, Segment 0 for Orders.Amount.\n"
            " Field (1) and Key Type (14) do not match.\n");
  Fresh();
  EXPECT_EQ(Run("", 0, 0, 0, 14, 1), 0);
  EXPECT_EQ(CapturedStdout, "");
  Fresh();
  EXPECT_EQ(Run("C", 0, 0, 0, 200, 200), 0);
  EXPECT_EQ(CapturedStdout, "");
}

TEST_F(VerifyTest, TraceTailFollowsAnyDifference) {
  EXPECT_EQ(Run("DN", 0x0208, 0x0000), 1);
  const std::string expectedEnd =
      "Checking Index: Field Amount with Length 8 as 0/0 with flags: 0x0208.\n"
      "Op: 5, Buflen: 10, KeyNum: 2 Status: 0\n"
      "Inconsistency Found: Key 0, Segment 0 for Orders.Amount.\n"
      " Null Key Flag Doesn't Match.\n"
      "Field Orders.Amount, Length 8 as 0/0 with flags: 0x0208.\n"
      " Key Flags Do Not Match: 0x0000.\n";
  ASSERT_GE(CapturedStdout.size(), expectedEnd.size());
  EXPECT_EQ(CapturedStdout.substr(CapturedStdout.size() - expectedEnd.size()), expectedEnd);
}

TEST_F(VerifyTest, ConsistentUnderTraceAndAcsPrintsOnlyTraceLines) {
  EXPECT_EQ(Run("DA", 0x0000, 0x0000), 0);
  EXPECT_EQ(CapturedStdout.substr(CapturedStdout.find("Found Perfect Match.\n")),
            "Found Perfect Match.\n"
            "Checking Index: Field Amount with Length 8 as 0/0 with flags: 0x0000.\n"
            "Op: 5, Buflen: 10, KeyNum: 2 Status: 0\n"
            "Op: 5, Buflen: 2053, KeyNum: 0 Status: 4\n"
            " Attrib Record Lookup Returned 4.\n");
}

TEST_F(VerifyTest, WrongColumnStopsTheTests) {
  db().AddColumn({20, kTable, "Amount", 0, 0, 8});
  db().AddIndex(kTable, 21, 0, 0, 0x0000);
  SetOptions("DA");
  int32_t counter = 0;
  Match(Key(1, 8, 0x0043, 0, 0), counter);
  // No flag row, no ATTRIB lookup and no tail after the identity line.
  const std::string out = CapturedStdout;
  EXPECT_EQ(out.substr(out.find("Checking Index")),
            "Checking Index: Field Amount with Length 8 as 0/0 with flags: 0x0043.\n"
            "Op: 5, Buflen: 10, KeyNum: 2 Status: 0\n"
            "Inconsistency Found: Key 0, Segment 0 for Orders.Amount.\n"
            " Index number is for the wrong field.\n");
  EXPECT_EQ(RunStats.indicesNeeded, 1u);
}

TEST_F(VerifyTest, IndexLookupFailures) {
  db().AddColumn({20, kTable, "Amount", 0, 0, 8});
  SetOptions("I");
  int32_t counter = 0;
  Match(Key(1, 8, 0, 0, 3), counter);
  // No header and no "Verifying" line for a missing record.
  EXPECT_EQ(CapturedStdout,
            "Working On Index 3, Segment 0...\n"
            "Index Not Found: Key 3, Seg 0 on File Orders.\n");
  EXPECT_EQ(RunStats.indicesNeeded, 1u);

  CapturedStdout.clear();
  db().indexStatus = 2;
  SetOptions("");
  Match(Key(1, 8, 0, 0, 3), counter);
  EXPECT_EQ(CapturedStdout, "Error Retrieving Index Record, Status 2.\n");
  EXPECT_EQ(RunStats.indicesNeeded, 2u);
}

TEST_F(VerifyTest, ProgressLinesAndSpinner) {
  struct { const char* options; const char* out; int spins; } cases[] = {
      {"", "", 1},
      {"T", "", 0},
      {"I", "Working On Index 0, Segment 0...\nVerifying Type and Flags for Amount...\n", 0},
      {"IT", "Working On Index 0, Segment 0...\nVerifying Type and Flags for Amount...\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Fresh();
    db().AddColumn({20, kTable, "Amount", 0, 0, 8});
    db().AddIndex(kTable, 20, 0, 0, 0);
    SetOptions(c.options);
    int32_t counter = 0;
    RunMatcher(Key(1, 8, 0, 0, 0), counter);
    EXPECT_EQ(CapturedStdout, c.out);
    EXPECT_EQ(SpinnerSteps, c.spins);
  }
}

TEST(ReportInconsistencyTest, PrintsOncePerFlag) {
  ResetCheckerState();
  bool printed = false;
  OutputCapture capture;
  ReportInconsistency("T", "C", 2, 5, printed);
  ReportInconsistency("T", "C", 2, 5, printed);
  capture.Finish();
  EXPECT_TRUE(printed);
  EXPECT_EQ(capture.out(), "Inconsistency Found: Key 2, Segment 5 for T.C.\n");
}

// --------------------------------------------------------------------- ACS

std::vector<uint8_t> AcsTable(uint8_t signature, uint8_t fill) {
  std::vector<uint8_t> t(ACS_TABLE_SIZE);
  t[0] = signature;
  std::memcpy(t.data() + 1, "UPPER   ", 8);
  for (int i = 0; i < 256; ++i) t[9 + i] = static_cast<uint8_t>(i + fill);
  return t;
}

constexpr const char* kAcsHeader = "Inconsistency Found: Key 0, Segment 0 for Orders.Name.\n";
constexpr const char* kType1 = " ACS defined in ATTRIB.DDF, but Data Type 1 Doesn't Support an ACS.\n";
constexpr const char* kFlagNotSet =
    " ACS defined in ATTRIB.DDF, but ACS Flag NOT set in Btrieve file.\n";
constexpr const char* kNoRecord = " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF.\n";
constexpr const char* kFixInvalid = " FIX: Deleting the invalid ATTRIB.DDF Record!\n";
constexpr const char* kFixExtra = " FIX: Deleting the extra ATTRIB.DDF Record!\n";
constexpr const char* kFixCreate = " FIX: Need to create new ATTRIB.DDF Record!\n";
constexpr const char* kDeleteError = " Error trying to delete this ACS record.\n";
constexpr const char* kInsertError = " Error trying to insert a new ACS record.\n";
constexpr const char* kNoAcsError = " Error: No ACS found when trying to insert a new ACS record.\n";

enum class After { kKept, kGone, kInserted };

struct AcsCase {
  const char* name;
  const char* options;
  uint8_t dataType;
  bool hasRecord;
  bool keyAcs;
  int deleteStatus, insertStatus, lookupStatus;
  uint8_t acsNumber;
  std::vector<const char*> lines;  // after the header; empty: consistent
  After after;
};

// Column Name (id 30) at offset 0; the Stat area holds two collating
// sequences, entry 0 with the signature and entry 1 without it; bytes beyond
// them are left over from an earlier table.
TEST_F(CheckerTest, AcsPathsTable) {
  const std::vector<uint8_t> oldRecord = AcsTable(0xAC, 100);
  const AcsCase cases[] = {
      {"found, type may carry, flag set", "AF", 0, true, true, 0, 0, 0, 0, {}, After::kKept},
      {"found, type may carry, flag clear", "A", 0, true, false, 0, 0, 0, 0, {kFlagNotSet},
       After::kKept},
      {"found, flag clear, fixed", "AF", 11, true, false, 0, 0, 0, 0, {kFlagNotSet, kFixExtra},
       After::kGone},
      {"found, flag clear, delete fails", "AF", 25, true, false, 85, 0, 0, 0,
       {kFlagNotSet, kFixExtra, kDeleteError}, After::kKept},
      {"found, invalid type, flag set", "A", 1, true, true, 0, 0, 0, 0, {kType1}, After::kKept},
      {"found, invalid type, flag set, fixed", "AF", 1, true, true, 0, 0, 0, 0,
       {kType1, kFixInvalid, kNoRecord, kFixCreate}, After::kInserted},
      {"found, invalid type, flag set, delete fails", "AF", 1, true, true, 85, 0, 0, 0,
       {kType1, kFixInvalid, kDeleteError}, After::kKept},
      {"found, invalid type, flag clear", "A", 1, true, false, 0, 0, 0, 0, {kType1, kFlagNotSet},
       After::kKept},
      {"found, invalid type, flag clear, fixed", "AF", 1, true, false, 0, 0, 0, 0,
       {kType1, kFixInvalid}, After::kGone},
      {"found, invalid type, flag clear, deletes fail", "AF", 1, true, false, 85, 0, 0, 0,
       {kType1, kFixInvalid, kDeleteError, kFlagNotSet, kFixExtra, kDeleteError},
       After::kKept},
      {"not found, flag set", "A", 1, false, true, 0, 0, 0, 0, {kNoRecord}, After::kGone},
      {"not found, flag set, fixed", "AF", 21, false, true, 0, 0, 0, 0, {kNoRecord, kFixCreate},
       After::kInserted},
      {"not found, flag set, insert fails", "AF", 0, false, true, 0, 18, 0, 0,
       {kNoRecord, kFixCreate, kInsertError}, After::kGone},
      {"not found, flag set, entry without signature", "AF", 0, false, true, 0, 0, 0, 1,
       {kNoRecord, kFixCreate, kNoAcsError}, After::kGone},
      {"not found, flag set, entry past this table's Stat", "AF", 0, false, true, 0, 0, 0, 2,
       {kNoRecord, kFixCreate, kNoAcsError}, After::kGone},
      {"not found, flag set, entry past the buffer", "AF", 0, false, true, 0, 0, 0, 255,
       {kNoRecord, kFixCreate, kNoAcsError}, After::kGone},
      {"not found, flag clear", "AF", 1, false, false, 0, 0, 0, 0, {}, After::kGone},
      {"lookup error, flag set", "AF", 0, false, true, 0, 0, 2, 0, {}, After::kGone},
      {"lookup error, flag clear", "AF", 1, true, false, 0, 0, 2, 0, {}, After::kKept},
      {"/F without /A", "F", 1, true, false, 0, 0, 0, 0, {}, After::kKept},
  };
  for (const AcsCase& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    DictionaryModel& caseDb = db();
    caseDb.AddColumn({30, kTable, "Name", c.dataType, 0, 8});
    caseDb.AddIndex(kTable, 30, 0, 0, c.keyAcs ? 0x0004 : 0x0000);
    if (c.hasRecord) caseDb.AddAttrib(30, 'O', oldRecord);
    // Bystanders that no repair, failed or not, may touch.
    caseDb.AddAttrib(30, 'V', {1, 2});
    caseDb.AddAttrib(31, 'O', oldRecord);
    caseDb.deleteStatus = c.deleteStatus;
    caseDb.insertStatus = c.insertStatus;
    caseDb.attribGetStatus = c.lookupStatus;
    // Stat result: FileSpec, one KeySpec, entries 0 (signed) and 1 (not);
    // a signed entry 2 lies beyond what this Stat handed back.
    const int area = FILE_SPEC_SIZE + KEY_SPEC_SIZE;
    const std::vector<uint8_t> entry0 = AcsTable(0xAC, 1);
    const std::vector<uint8_t> entry1 = AcsTable(0x00, 2);
    const std::vector<uint8_t> stale = AcsTable(0xAC, 3);
    std::memcpy(StatBuffer + area, entry0.data(), ACS_TABLE_SIZE);
    std::memcpy(StatBuffer + area + ACS_TABLE_SIZE, entry1.data(), ACS_TABLE_SIZE);
    std::memcpy(StatBuffer + area + 2 * ACS_TABLE_SIZE, stale.data(), ACS_TABLE_SIZE);
    AcsArea = StatBuffer + area;
    StatEnd = AcsArea + 2 * ACS_TABLE_SIZE;
    // Leftovers of an earlier record sit in the buffer behind the ACS.
    std::memset(AttribRecord, 0xEE, sizeof AttribRecord);
    SetOptions(c.options);

    int32_t counter = 0;
    RunMatcher(Key(1, 8, c.keyAcs ? 0x0020 : 0x0000, 0, 0, c.acsNumber), counter);

    std::string expected;
    if (!c.lines.empty()) expected = kAcsHeader;
    for (const char* line : c.lines) expected += line;
    EXPECT_EQ(CapturedStdout, expected);
    EXPECT_EQ(RunStats.indicesNeeded, c.lines.empty() ? 0u : 1u);
    EXPECT_EQ(RunStats.indicesVerified, c.lines.empty() ? 1u : 0u);

    const std::vector<uint8_t> stored = caseDb.Attrib(30, 'O');
    switch (c.after) {
      case After::kKept: {
        ASSERT_EQ(stored.size(), 5u + ACS_TABLE_SIZE);
        EXPECT_TRUE(std::equal(oldRecord.begin(), oldRecord.end(), stored.begin() + 5));
        break;
      }
      case After::kGone:
        EXPECT_TRUE(stored.empty());
        break;
      case After::kInserted: {
        std::vector<uint8_t> want = {30, 0, 'O', 0x09, 0x01};
        want.insert(want.end(), entry0.begin(), entry0.end());
        EXPECT_EQ(stored, want);
        break;
      }
    }
    EXPECT_EQ(caseDb.Attrib(30, 'V'), (std::vector<uint8_t>{30, 0, 'V', 2, 0, 1, 2}));
    EXPECT_EQ(caseDb.Attrib(31, 'O').size(), 5u + ACS_TABLE_SIZE);
    EXPECT_EQ(caseDb.AttribCount(), c.after == After::kGone ? 2u : 3u);
    if (std::string(c.options).find('F') == std::string::npos) {
      EXPECT_EQ(caseDb.deletes + caseDb.inserts, 0);
    }
    if (std::string(c.options).find('A') == std::string::npos) {
      for (const RecordedCall& call : fake().calls()) {
        EXPECT_NE(call.positionBlock, FileSlots[SLOT_ATTRIB].positionBlock);
      }
    }
  }
}

TEST_F(CheckerTest, InsertedRecordIsWhatLaterSegmentsFind) {
  db().AddColumn({30, kTable, "Name", 0, 0, 8});
  db().AddIndex(kTable, 30, 0, 0, 0x0004);
  db().AddIndex(kTable, 30, 1, 0, 0x0004);
  const std::vector<uint8_t> entry = AcsTable(0xAC, 9);
  std::memcpy(StatBuffer + 32, entry.data(), ACS_TABLE_SIZE);
  AcsArea = StatBuffer + 32;
  StatEnd = AcsArea + ACS_TABLE_SIZE;
  SetOptions("AF");
  int32_t counter = 0;
  RunMatcher(Key(1, 8, 0x0020, 0, 0), counter);
  RunMatcher(Key(1, 8, 0x0020, 0, 1), counter);
  EXPECT_EQ(CapturedStdout,
            std::string(kAcsHeader) + kNoRecord + kFixCreate);
  EXPECT_EQ(db().inserts, 1);
  // The repaired segment still counts as needed; the later one is verified.
  EXPECT_EQ(RunStats.indicesNeeded, 1u);
  EXPECT_EQ(RunStats.indicesVerified, 1u);
}

TEST_F(CheckerTest, NoStatResultMeansNoAcs) {
  // Nothing of this table's Stat is readable: the signed entry in the buffer
  // belongs to an earlier table.
  db().AddColumn({30, kTable, "Name", 0, 0, 8});
  db().AddIndex(kTable, 30, 0, 0, 0x0004);
  const std::vector<uint8_t> entry = AcsTable(0xAC, 9);
  std::memcpy(StatBuffer + 32, entry.data(), ACS_TABLE_SIZE);
  AcsArea = StatBuffer + 32;
  StatEnd = StatBuffer + 32 + ACS_TABLE_SIZE - 1;
  SetOptions("AF");
  int32_t counter = 0;
  RunMatcher(Key(1, 8, 0x0020, 0, 0), counter);
  EXPECT_EQ(CapturedStdout, std::string(kAcsHeader) + kNoRecord + kFixCreate + kNoAcsError);
  EXPECT_EQ(db().inserts, 0);
}

}  // namespace
