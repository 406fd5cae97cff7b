// End to end: small databases built with scrutor-db, scrutor run on them, the
// exact standard output compared, and ATTRIB.DDF read back through export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "run_process.h"

namespace {

using nlohmann::json;

// One 265-byte collating sequence as hex: signature, name, 256-byte table
// (byte i maps to i + shift).
std::string AcsHex(int signature, int shift) {
  static const char* digits = "0123456789ABCDEF";
  std::string bytes;
  bytes.push_back(static_cast<char>(signature));
  bytes += "UPPER   ";
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>((i + shift) & 0xFF));
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

// Replaces every placeholder: $ACS0 and $ACS1 two collating sequences
// (shift 1 and 2), $OLD an older one (shift 100).
std::string Expand(std::string text) {
  const std::pair<const char*, std::string> table[] = {
      {"$ACS0", AcsHex(0xAC, 1)},
      {"$ACS1", AcsHex(0xAC, 2)},
      {"$OLD", AcsHex(0xAC, 100)},
  };
  for (const auto& [name, hex] : table) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name)) {
      text.replace(at, std::string(name).size(), hex);
    }
  }
  return text;
}

// A database built with scrutor-db in a directory of its own.
class Database {
 public:
  // Builds the database of a description; fails the test if the builder does.
  explicit Database(const std::string& description) {
    const std::string path = dir_.path() + "/description.json";
    WriteFileBytes(path, Expand(description));
    ProcessResult r = RunProcess({SCRUTOR_DB_BIN, "build", path, Path()}, "", "", true);
    built_ = r.exitCode == 0;
    EXPECT_TRUE(built_) << r.err;
  }
  bool built() const { return built_; }
  std::string Path() const { return dir_.path() + "/db"; }

  ProcessResult Scrutor(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {SCRUTOR_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, Path(), "", true);
  }

  // The ATTRIB.DDF rows, read back through export, as "field type data".
  std::vector<std::string> Attributes() const {
    ProcessResult r = RunProcess({SCRUTOR_DB_BIN, "export", Path()}, "", "", true);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> rows;
    if (r.exitCode != 0) return rows;
    const json exported = json::parse(r.out);
    for (const json& a : exported["attributes"]) {
      rows.push_back(std::to_string(a["field"].get<int>()) + " " +
                     a["type"].get<std::string>() + " " + a["data"].get<std::string>());
    }
    return rows;
  }

 private:
  TempDir dir_;
  bool built_ = false;
};

// One table, Orders (id 7, ORDERS.DAT, 64-byte records), from its parts.
std::string Orders(const std::string& fields, const std::string& indexes,
                   const std::string& keys, const std::string& attributes = "[]",
                   const std::string& acs = "[]") {
  return R"({"tables": [{"id": 7, "name": "Orders", "location": "ORDERS.DAT"}],
  "fields": )" + fields + R"(,
  "indexes": )" + indexes + R"(,
  "attributes": )" + attributes + R"(,
  "files": [{"path": "ORDERS.DAT", "record_length": 64, "keys": )" + keys +
         R"(, "acs": )" + acs + "}]}";
}

struct Case {
  const char* name;
  std::string description;
  std::vector<std::string> args;
  std::string out;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Database db(c.description);
    if (!db.built()) continue;
    ProcessResult r = db.Scrutor(c.args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

}  // namespace

namespace {

// The statistics block of a run over one table with one key.
std::string Stats(int verified, int needed, int corrupt, int keys = 1, int processed = 1,
                  int rejected = 0) {
  return "\nWork completed.\nFiles Processed = " + std::to_string(processed) +
         "\nFiles Rejected  = " + std::to_string(rejected) +
         "\nBtrieve Keys    = " + std::to_string(keys) +
         "\nIndices Verified= " + std::to_string(verified) +
         "\nIndices Needed  = " + std::to_string(needed) +
         "\nIndices Corrupt = " + std::to_string(corrupt) + "\n";
}

// Orders: Id 0..3, a named index and Name 4..13, City 14..19, Zip 20..21, a
// gap 22..29, Note 30..37, a lone named index at 40.
const char* const kMatchFields = R"([
  {"id": 1, "table": 7, "name": "Id", "type": 14, "offset": 0, "size": 4},
  {"id": 9, "table": 7, "name": "ByName", "type": 255, "offset": 4, "size": 0},
  {"id": 2, "table": 7, "name": "Name", "type": 0, "offset": 4, "size": 10},
  {"id": 3, "table": 7, "name": "City", "type": 0, "offset": 14, "size": 6},
  {"id": 4, "table": 7, "name": "Zip", "type": 0, "offset": 20, "size": 2},
  {"id": 5, "table": 7, "name": "Note", "type": 0, "offset": 30, "size": 8},
  {"id": 10, "table": 7, "name": "ByNote", "type": 255, "offset": 40, "size": 0}])";

// A one-key file whose only segment has this position, length and type.
std::string OneSegment(int position, int length, int type = 0, int number = 0) {
  return R"([{"number": )" + std::to_string(number) + R"(, "segments": [{"position": )" +
         std::to_string(position) + R"(, "length": )" + std::to_string(length) +
         R"(, "type": )" + std::to_string(type) + "}]}]";
}

TEST(EndToEndMatching, Cases) {
  const std::vector<Case> cases = {
      {"one column", Orders(kMatchFields, R"([{"table": 7, "field": 1, "number": 0, "part": 0}])",
                            OneSegment(1, 4, 14)),
       {"Orders", "/S"}, Stats(1, 0, 0)},
      // The INDEX rows carry 0x0010 on the first two columns only: without the
      // segment bit on them the verifier would report the difference.
      {"three columns under segments 0, 1, 2",
       Orders(kMatchFields, R"([
         {"table": 7, "field": 2, "number": 1, "part": 0, "flags": "0x0010"},
         {"table": 7, "field": 3, "number": 1, "part": 1, "flags": "0x0010"},
         {"table": 7, "field": 4, "number": 1, "part": 2}])",
              OneSegment(5, 18, 0, 1)),
       {"Orders", "/S"}, Stats(3, 0, 0)},
      {"only a named index at the offset", Orders(kMatchFields, "[]", OneSegment(41, 4)),
       {"Orders", "/S"}, " No Fields Found At Offset 40 of table Orders.\n" + Stats(0, 0, 1)},
      {"column longer than the segment", Orders(kMatchFields, "[]", OneSegment(5, 4, 0, 3)),
       {"Orders", "/S"}, "Unable To Match Table Orders, Key Number 3.\n" + Stats(0, 0, 1)},
      {"split whose rest falls into a gap",
       Orders(kMatchFields,
              R"([{"table": 7, "field": 4, "number": 0, "part": 0, "flags": "0x0010"}])",
              OneSegment(21, 10)),
       {"Orders", "/S"}, " No Fields Found At Offset 22 of table Orders.\n" + Stats(1, 0, 1)},
      // A key of two segments, the first over two columns: the second segment
      // is verified under number 2.
      {"segment after a split continues the numbering",
       Orders(kMatchFields, R"([
         {"table": 7, "field": 3, "number": 0, "part": 0, "flags": "0x0010"},
         {"table": 7, "field": 4, "number": 0, "part": 1, "flags": "0x0010"},
         {"table": 7, "field": 5, "number": 0, "part": 2}])",
              R"([{"number": 0, "segments": [{"position": 15, "length": 8},
                                             {"position": 31, "length": 8}]}])"),
       {"Orders", "/S"}, Stats(3, 0, 0)},
  };
  RunCases(cases);
}

// Amount: column 20, 8 bytes at offset 0, type 0, with the given FIELD flags;
// one key of one segment over it with the given flags and extended type, and
// its INDEX.DDF row with the given flags.
std::string AmountDatabase(const std::string& keyFlags, const std::string& indexFlags,
                           int fieldFlags = 0, int extendedType = 0) {
  return Orders(R"([{"id": 20, "table": 7, "name": "Amount", "type": 0, "offset": 0, "size": 8,
                     "flags": )" + std::to_string(fieldFlags) + "}]",
                R"([{"table": 7, "field": 20, "number": 0, "part": 0, "flags": ")" +
                    indexFlags + R"("}])",
                R"([{"number": 0, "segments": [{"position": 1, "length": 8, "flags": ")" +
                    keyFlags + R"(", "type": )" + std::to_string(extendedType) + "}]}]",
                "[]", R"([")" + std::string("$ACS0") + R"("])");
}

const char* const kAmountHeader = "Inconsistency Found: Key 0, Segment 0 for Orders.Amount.\n";

TEST(EndToEndVerification, FlagRows) {
  const std::string h = kAmountHeader;
  const std::vector<Case> cases = {
      {"row 1 duplicates", AmountDatabase("0x0001", "0x0000"), {"Orders"},
       h + " Duplicate Key Flag Doesn't Match.\nDone.\n"},
      {"row 2 alone: 0x0081 against 0x0001", AmountDatabase("0x0081", "0x0001"), {"Orders"},
       h + " Linked/Repeating Duplicates Flag Mismatch (Warning Only).\nDone.\n"},
      {"rows 1 and 2 together", AmountDatabase("0x0081", "0x0000"), {"Orders"},
       h + " Duplicate Key Flag Doesn't Match.\n"
           " Linked/Repeating Duplicates Flag Mismatch (Warning Only).\nDone.\n"},
      {"row 1 only: 0x0000 against 0x0081", AmountDatabase("0x0000", "0x0081"), {"Orders"},
       h + " Duplicate Key Flag Doesn't Match.\nDone.\n"},
      {"row 3 modifiable", AmountDatabase("0x0002", "0x0000"), {"Orders"},
       h + " Modifiable Key Flag Doesn't Match.\nDone.\n"},
      {"row 4 segment", AmountDatabase("0x0000", "0x0010"), {"Orders"},
       h + " Segment Key Flag Doesn't Match.\nDone.\n"},
      {"row 5 descending", AmountDatabase("0x0040", "0x0000"), {"Orders"},
       h + " Descending Key Flag Doesn't Match.\nDone.\n"},
      {"row 6 extended type", AmountDatabase("0x0100", "0x0000"), {"Orders"},
       h + " Extended Type Key Flag Doesn't Match.\nDone.\n"},
      {"row 7 ACS", AmountDatabase("0x0000", "0x0004"), {"Orders", "/A"},
       h + " ACS Key Flag Doesn't Match.\nDone.\n"},
      {"row 8 case-insensitive", AmountDatabase("0x0400", "0x0000"), {"Orders", "/A"},
       h + " Case Insensitivity Key Flag Doesn't Match.\nDone.\n"},
      {"row 9 FIELD CASE alone", AmountDatabase("0x0000", "0x0000", 1), {"Orders", "/A"},
       h + " CASE Flag in the FIELD Record Doesn't Match CASE Flag in this INDEX.\nDone.\n"},
      {"row 9 FIELD CASE with INDEX case-insensitive", AmountDatabase("0x0400", "0x0020", 1),
       {"Orders", "/A"}, "Done.\n"},
      {"row 10: 0x0400 against 0x0004 passes", AmountDatabase("0x0400", "0x0004"), {"Orders"},
       "Done.\n"},
      {"row 10: 0x0000 against 0x0020 fails", AmountDatabase("0x0000", "0x0020"), {"Orders"},
       h + " Case/ACS Key Flags Do Not Match.\nDone.\n"},
      {"row 11: 0x0200 against 0x0008 passes", AmountDatabase("0x0200", "0x0008"),
       {"Orders", "/N"}, "Done.\n"},
      {"row 11: 0x0208 against 0x0000 fails", AmountDatabase("0x0208", "0x0000"),
       {"Orders", "/N"}, h + " Null Key Flag Doesn't Match.\nDone.\n"},
      {"three differences in one call", AmountDatabase("0x0043", "0x0000"), {"Orders"},
       h + " Duplicate Key Flag Doesn't Match.\n Modifiable Key Flag Doesn't Match.\n"
           " Descending Key Flag Doesn't Match.\nDone.\n"},
      {"/C reports the type", AmountDatabase("0x0000", "0x0000", 0, 14), {"Orders", "/C"},
       h + " Field (0) and Key Type (14) do not match.\nDone.\n"},
      {"without /C the type is not compared", AmountDatabase("0x0000", "0x0000", 0, 14),
       {"Orders", "/S"}, Stats(1, 0, 0)},
      {"index not found",
       Orders(R"([{"id": 20, "table": 7, "name": "Amount", "type": 0, "offset": 0, "size": 8}])",
              "[]", OneSegment(1, 8)),
       {"Orders", "/I", "/S"},
       "Working On Index 0, Segment 0...\nIndex Not Found: Key 0, Seg 0 on File Orders.\n" +
           Stats(0, 1, 0)},
      {"wrong column",
       Orders(R"([{"id": 20, "table": 7, "name": "Amount", "type": 0, "offset": 0, "size": 8},
                  {"id": 21, "table": 7, "name": "Other", "type": 0, "offset": 8, "size": 8}])",
              R"([{"table": 7, "field": 21, "number": 0, "part": 0, "flags": "0x0002"}])",
              OneSegment(1, 8)),
       {"Orders"}, h + " Index number is for the wrong field.\nDone.\n"},
  };
  RunCases(cases);
}

}  // namespace

namespace {

// Name: column 30, 8 bytes at offset 0, of the given data type, under one key
// with or without the ACS flag (ACS number 0) and a matching INDEX.DDF row;
// optionally an "O" record for it. Column 30's "V" record and column 31's "O"
// record are bystanders that no repair may touch.
std::string AcsDatabase(int dataType, bool keyAcs, bool hasRecord) {
  std::string attributes = R"([{"field": 30, "type": "V", "data": "0102"},
                               {"field": 31, "type": "O", "data": "$OLD"})";
  if (hasRecord) attributes += R"(, {"field": 30, "type": "O", "data": "$OLD"})";
  attributes += "]";
  return Orders(R"([{"id": 30, "table": 7, "name": "Name", "type": )" +
                    std::to_string(dataType) + R"(, "offset": 0, "size": 8},
                    {"id": 31, "table": 7, "name": "Other", "type": 0, "offset": 8, "size": 8}])",
                R"([{"table": 7, "field": 30, "number": 0, "part": 0, "flags": ")" +
                    std::string(keyAcs ? "0x0004" : "0x0000") + R"("}])",
                R"([{"number": 0, "segments": [{"position": 1, "length": 8, "flags": ")" +
                    std::string(keyAcs ? "0x0020" : "0x0000") + R"(", "acs": 0}]}])",
                attributes, R"(["$ACS0"])");
}

enum class After { kKept, kGone, kInserted };

struct AcsCase {
  const char* name;
  std::string description;
  std::vector<std::string> args;
  std::string out;
  After after;  // column 30's "O" record after the run
};

TEST(EndToEndAcs, PathsAndAttribAfterwards) {
  const std::string h = "Inconsistency Found: Key 0, Segment 0 for Orders.Name.\n";
  const std::string type1 = " ACS defined in ATTRIB.DDF, but Data Type 1 Doesn't Support an ACS.\n";
  const std::string flagNotSet =
      " ACS defined in ATTRIB.DDF, but ACS Flag NOT set in Btrieve file.\n";
  const std::string noRecord =
      " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF.\n";
  const std::string fixInvalid = " FIX: Deleting the invalid ATTRIB.DDF Record!\n";
  const std::string fixExtra = " FIX: Deleting the extra ATTRIB.DDF Record!\n";
  const std::string fixCreate = " FIX: Need to create new ATTRIB.DDF Record!\n";
  const std::string needed = Stats(0, 1, 0);

  const std::vector<AcsCase> cases = {
      {"found, type may carry, flag set", AcsDatabase(0, true, true), {"Orders", "/A", "/F", "/S"},
       Stats(1, 0, 0), After::kKept},
      {"found, type may carry, flag clear", AcsDatabase(10, false, true), {"Orders", "/A"},
       h + flagNotSet + "Done.\n", After::kKept},
      {"found, type may carry, flag clear, fixed", AcsDatabase(26, false, true),
       {"Orders", "/A", "/F", "/S"}, h + flagNotSet + fixExtra + needed, After::kGone},
      {"found, invalid type, flag set", AcsDatabase(1, true, true), {"Orders", "/A"},
       h + type1 + "Done.\n", After::kKept},
      {"found, invalid type, flag set, fixed", AcsDatabase(1, true, true),
       {"Orders", "/A", "/F", "/S"}, h + type1 + fixInvalid + noRecord + fixCreate + needed,
       After::kInserted},
      {"found, invalid type, flag clear", AcsDatabase(1, false, true), {"Orders", "/A"},
       h + type1 + flagNotSet + "Done.\n", After::kKept},
      {"found, invalid type, flag clear, fixed", AcsDatabase(1, false, true),
       {"Orders", "/A", "/F", "/S"}, h + type1 + fixInvalid + needed, After::kGone},
      {"not found, flag set", AcsDatabase(0, true, false), {"Orders", "/A"},
       h + noRecord + "Done.\n", After::kGone},
      {"not found, flag set, fixed", AcsDatabase(11, true, false), {"Orders", "/A", "/F", "/S"},
       h + noRecord + fixCreate + needed, After::kInserted},
      {"not found, flag clear", AcsDatabase(1, false, false), {"Orders", "/A", "/F", "/S"},
       Stats(1, 0, 0), After::kGone},
      {"/F without /A", AcsDatabase(1, false, true), {"Orders", "/F", "/S"}, Stats(1, 0, 0),
       After::kKept},
  };
  const std::string bystanders[] = {"30 V 0102", "31 O " + AcsHex(0xAC, 100)};
  for (const AcsCase& c : cases) {
    SCOPED_TRACE(c.name);
    Database db(c.description);
    if (!db.built()) continue;
    ProcessResult r = db.Scrutor(c.args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.out);

    std::vector<std::string> want(std::begin(bystanders), std::end(bystanders));
    if (c.after == After::kKept) want.push_back("30 O " + AcsHex(0xAC, 100));
    if (c.after == After::kInserted) want.push_back("30 O " + AcsHex(0xAC, 1));
    std::vector<std::string> rows = db.Attributes();
    std::sort(rows.begin(), rows.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(rows, want);
  }
}

TEST(EndToEndAcs, SequenceWithoutSignatureIsNeverCopied) {
  // The data file's only collating sequence lacks its 0xAC signature: the
  // repair says so and ATTRIB.DDF keeps exactly the records it had.
  Database db(Orders(
      R"([{"id": 30, "table": 7, "name": "Name", "type": 0, "offset": 0, "size": 8}])",
      R"([{"table": 7, "field": 30, "number": 0, "part": 0, "flags": "0x0004"}])",
      R"([{"number": 0, "segments": [{"position": 1, "length": 8, "flags": "0x0020", "acs": 0}]}])",
      R"([{"field": 30, "type": "V", "data": "0102"}])", "[\"" + AcsHex(0x00, 1) + "\"]"));
  ASSERT_TRUE(db.built());
  ProcessResult r = db.Scrutor({"Orders", "/A", "/F", "/S"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Inconsistency Found: Key 0, Segment 0 for Orders.Name.\n"
            " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF.\n"
            " FIX: Need to create new ATTRIB.DDF Record!\n"
            " Error: No ACS found when trying to insert a new ACS record.\n" +
                Stats(0, 1, 0));
  EXPECT_EQ(db.Attributes(), std::vector<std::string>{"30 V 0102"});
}

TEST(EndToEndAcs, LaterSegmentsSeeTheInsertedRecord) {
  // Two keys over the same ACS column; the first run inserts the record, the
  // second key of the same run finds it.
  Database db(Orders(
      R"([{"id": 30, "table": 7, "name": "Name", "type": 0, "offset": 0, "size": 8}])",
      R"([{"table": 7, "field": 30, "number": 0, "part": 0, "flags": "0x0004"},
          {"table": 7, "field": 30, "number": 1, "part": 0, "flags": "0x0005"}])",
      R"([{"number": 0, "segments": [{"position": 1, "length": 8, "flags": "0x0020", "acs": 1}]},
          {"number": 1, "segments": [{"position": 1, "length": 8, "flags": "0x0021", "acs": 0}]}])",
      "[]", R"(["$ACS0", "$ACS1"])"));
  ASSERT_TRUE(db.built());
  ProcessResult r = db.Scrutor({"Orders", "/A", "/F", "/S"});
  EXPECT_EQ(r.out,
            "Inconsistency Found: Key 0, Segment 0 for Orders.Name.\n"
            " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF.\n"
            " FIX: Need to create new ATTRIB.DDF Record!\n" +
                Stats(1, 1, 0, 2));
  // The record holds the sequence that the first key's ACS number selects.
  EXPECT_EQ(db.Attributes(), std::vector<std::string>{"30 O " + AcsHex(0xAC, 2)});
  // A second run finds nothing left to repair.
  r = db.Scrutor({"Orders", "/A", "/F", "/S"});
  EXPECT_EQ(r.out, Stats(2, 0, 0, 2));
}

}  // namespace

namespace {

// Four tables, walked in name order: Amounts (flag, index and ACS findings,
// one record inserted and one deleted), Missing (no data file), Orders (every
// matching outcome) and X$Skip (never opened).
TEST(EndToEndRun, StatisticsOverEveryOutcome) {
  Database db(R"({
  "tables": [
    {"id": 7, "name": "Orders", "location": "ORDERS.DAT"},
    {"id": 8, "name": "Amounts", "location": "AMOUNTS.DAT"},
    {"id": 9, "name": "Missing", "location": "MISSING.DAT"},
    {"id": 10, "name": "X$Skip", "location": "SKIP.DAT"}],
  "fields": [
    {"id": 1, "table": 7, "name": "Id", "type": 14, "offset": 0, "size": 4},
    {"id": 9, "table": 7, "name": "ByName", "type": 255, "offset": 4, "size": 0},
    {"id": 2, "table": 7, "name": "Name", "type": 0, "offset": 4, "size": 10},
    {"id": 3, "table": 7, "name": "City", "type": 0, "offset": 14, "size": 6},
    {"id": 4, "table": 7, "name": "Zip", "type": 0, "offset": 20, "size": 2},
    {"id": 5, "table": 7, "name": "Note", "type": 0, "offset": 30, "size": 8},
    {"id": 10, "table": 7, "name": "ByNote", "type": 255, "offset": 40, "size": 0},
    {"id": 20, "table": 8, "name": "Amount", "type": 0, "offset": 0, "size": 8},
    {"id": 21, "table": 8, "name": "Code", "type": 1, "offset": 8, "size": 2},
    {"id": 22, "table": 8, "name": "Name", "type": 0, "offset": 10, "size": 8}],
  "indexes": [
    {"table": 7, "field": 1, "number": 0, "part": 0},
    {"table": 7, "field": 2, "number": 1, "part": 0, "flags": "0x0010"},
    {"table": 7, "field": 3, "number": 1, "part": 1, "flags": "0x0010"},
    {"table": 7, "field": 4, "number": 1, "part": 2},
    {"table": 7, "field": 4, "number": 3, "part": 0, "flags": "0x0010"},
    {"table": 8, "field": 20, "number": 0, "part": 0},
    {"table": 8, "field": 22, "number": 2, "part": 0, "flags": "0x0004"},
    {"table": 8, "field": 22, "number": 3, "part": 0, "flags": "0x0004"},
    {"table": 8, "field": 21, "number": 4, "part": 0}],
  "attributes": [{"field": 21, "type": "O", "data": "$OLD"}],
  "files": [
    {"path": "ORDERS.DAT", "record_length": 64, "keys": [
      {"segments": [{"position": 1, "length": 4, "type": 14}]},
      {"segments": [{"position": 5, "length": 18}]},
      {"segments": [{"position": 5, "length": 4}]},
      {"segments": [{"position": 21, "length": 10}]},
      {"segments": [{"position": 41, "length": 4}]}]},
    {"path": "AMOUNTS.DAT", "record_length": 32, "keys": [
      {"segments": [{"position": 1, "length": 8, "flags": "0x0002"}]},
      {"segments": [{"position": 9, "length": 2, "type": 1}]},
      {"segments": [{"position": 11, "length": 8, "flags": "0x0020", "acs": 0}]},
      {"segments": [{"position": 11, "length": 8, "flags": "0x0020", "acs": 0}]},
      {"segments": [{"position": 9, "length": 2, "type": 1}]}],
     "acs": ["$ACS0"]}]})");
  ASSERT_TRUE(db.built());
  ProcessResult r = db.Scrutor({"*", "/A", "/F", "/S"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Inconsistency Found: Key 0, Segment 0 for Amounts.Amount.\n"
            " Modifiable Key Flag Doesn't Match.\n"
            "Index Not Found: Key 1, Seg 0 on File Amounts.\n"
            "Inconsistency Found: Key 2, Segment 0 for Amounts.Name.\n"
            " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF.\n"
            " FIX: Need to create new ATTRIB.DDF Record!\n"
            "Inconsistency Found: Key 4, Segment 0 for Amounts.Code.\n"
            " ACS defined in ATTRIB.DDF, but Data Type 1 Doesn't Support an ACS.\n"
            " FIX: Deleting the invalid ATTRIB.DDF Record!\n"
            "Btrieve File MISSING.DAT Not Found.\n"
            "Unable To Match Table Orders, Key Number 2.\n"
            " No Fields Found At Offset 22 of table Orders.\n"
            " No Fields Found At Offset 40 of table Orders.\n" +
                Stats(/*verified=*/6, /*needed=*/4, /*corrupt=*/3, /*keys=*/10,
                      /*processed=*/2, /*rejected=*/1));
  EXPECT_EQ(db.Attributes(), std::vector<std::string>{"22 O " + AcsHex(0xAC, 1)});
}

}  // namespace

namespace {

// The whole standard output of "scrutor Orders /D ..." over a one-table
// database whose data file has `segments` key segments and `acsTables`
// collating sequences, with `body` between the segment count and the data
// file's Close. The INDEX.DDF slot keeps key number 2 once it has been
// searched, 0 (from its Open) otherwise.
std::string Traced(int segments, const std::string& body, int acsTables = 0,
                   bool indexSearched = true) {
  char found[80];
  std::snprintf(found, sizeof found, "Found %d Segments, calculating ACS offset of 0x%.4x\n",
                segments, 16 + 16 * segments);
  return "Opening Data Dictionaries\n"
         "Op: 0, Buflen: 97, KeyNum: 0 Status: 0\n"
         "Op: 0, Buflen: 32, KeyNum: 0 Status: 0\n"
         "Op: 0, Buflen: 10, KeyNum: 0 Status: 0\n"
         "Op: 0, Buflen: 2053, KeyNum: 0 Status: 0\n"
         "Data Dictionaries Opened: 0\n"
         "Op: 5, Buflen: 97, KeyNum: 1 Status: 0\n"
         "Opening file ORDERS.DAT\n"
         "Op: 0, Buflen: 33236, KeyNum: 0 Status: 0\n"
         "Obtaining Stat Information\n"
         "Op: 15, Buflen: 33236, KeyNum: -1 Status: 0\n" +
         std::string(found) + body + "Op: 1, Buflen: " +
         std::to_string(16 + 16 * segments + 265 * acsTables) +
         ", KeyNum: -1 Status: 0\n"
         "Done.\n"
         "Closing Data Dictionaries\n"
         "Op: 1, Buflen: 97, KeyNum: 1 Status: 0\n"
         "Op: 1, Buflen: 32, KeyNum: 4 Status: 0\n"
         "Op: 1, Buflen: 10, KeyNum: " + (indexSearched ? "2" : "0") + " Status: 0\n"
         "Op: 1, Buflen: 2053, KeyNum: 0 Status: 0\n"
         "Data Dictionaries Closed\n"
         "Op: 28, Buflen: 97, KeyNum: 0 Status: 0\n";
}

std::string KeyInformation(int position, int length, int type, int keyNumber,
                           const char* flags) {
  return "Key Information:\nPosition: " + std::to_string(position) +
         "\nLength:   " + std::to_string(length) + "\nExt.Type: " + std::to_string(type) +
         "\nKey Num:  " + std::to_string(keyNumber) + "\nKeyFlags: " + flags + "\n";
}

const char* const kGetField = "Op: 9, Buflen: 32, KeyNum: 4 Status: 0\n";
const char* const kGetIndex = "Op: 5, Buflen: 10, KeyNum: 2 Status: 0\n";

TEST(EndToEndTrace, Cases) {
  const std::vector<Case> cases = {
      {"position 1 is looked for at offset 0",
       Orders(kMatchFields, R"([{"table": 7, "field": 1, "number": 0, "part": 0}])",
              OneSegment(1, 4, 14)),
       {"Orders", "/D"},
       Traced(1, "Starting on Key 0 of 1\n" + KeyInformation(1, 4, 14, 0, "0x0000") +
                     "Looking For Field At Position 0.\n" + kGetField +
                     "Found Perfect Match.\n"
                     "Checking Index: Field Id with Length 4 as 0/0 with flags: 0x0000.\n" +
                     kGetIndex)},
      {"a named index before the column is skipped",
       Orders(kMatchFields, R"([{"table": 7, "field": 2, "number": 0, "part": 0}])",
              OneSegment(5, 10)),
       {"Orders", "/D"},
       Traced(1, "Starting on Key 0 of 1\n" + KeyInformation(5, 10, 0, 0, "0x0000") +
                     "Looking For Field At Position 4.\n" + kGetField +
                     "Skipping Named Index ByName.\n"
                     "Op: 6, Buflen: 32, KeyNum: 4 Status: 0\n"
                     "Found Perfect Match.\n"
                     "Checking Index: Field Name with Length 10 as 0/0 with flags: 0x0000.\n" +
                     kGetIndex)},
      {"a column longer than the segment",
       Orders(kMatchFields, "[]", OneSegment(31, 4)),
       {"Orders", "/D"},
       Traced(1, "Starting on Key 0 of 1\n" + KeyInformation(31, 4, 0, 0, "0x0000") +
                     "Looking For Field At Position 30.\n" + kGetField +
                     "Found Field Note with Length 8 > 4. Now What?.\n"
                     "Unable To Match Table Orders, Key Number 0.\n",
              0, /*indexSearched=*/false)},
      // Each step of the split prints its own block with the remaining range.
      {"a split whose rest falls into a gap",
       Orders(kMatchFields,
              R"([{"table": 7, "field": 4, "number": 0, "part": 0, "flags": "0x0010"}])",
              OneSegment(21, 10)),
       {"Orders", "/D"},
       Traced(1, "Starting on Key 0 of 1\n" + KeyInformation(21, 10, 0, 0, "0x0000") +
                     "Looking For Field At Position 20.\n" + kGetField +
                     "Found Field Zip with Length 2 < 10.\n"
                     "Checking Index: Field Zip with Length 2 as 0/0 with flags: 0x0010.\n" +
                     kGetIndex + KeyInformation(23, 8, 0, 0, "0x0000") +
                     "Looking For Field At Position 22.\n" + kGetField +
                     " No Fields Found At Offset 22 of table Orders.\n")},
      {"the two tail lines follow a null-flag difference alone",
       AmountDatabase("0x0208", "0x0000"), {"Orders", "/D", "/N"},
       Traced(1, "Starting on Key 0 of 1\n" + KeyInformation(1, 8, 0, 0, "0x0208") +
                     "Looking For Field At Position 0.\n" + kGetField +
                     "Found Perfect Match.\n"
                     "Checking Index: Field Amount with Length 8 as 0/0 with flags: 0x0208.\n" +
                     kGetIndex + kAmountHeader +
                     " Null Key Flag Doesn't Match.\n"
                     "Field Orders.Amount, Length 8 as 0/0 with flags: 0x0208.\n"
                     " Key Flags Do Not Match: 0x0000.\n",
              1)},
      {"a consistent segment under /A shows only the trace and the ATTRIB lookup",
       AmountDatabase("0x0000", "0x0000"), {"Orders", "/D", "/A"},
       Traced(1, "Starting on Key 0 of 1\n" + KeyInformation(1, 8, 0, 0, "0x0000") +
                     "Looking For Field At Position 0.\n" + kGetField +
                     "Found Perfect Match.\n"
                     "Checking Index: Field Amount with Length 8 as 0/0 with flags: 0x0000.\n" +
                     kGetIndex + "Op: 5, Buflen: 2053, KeyNum: 0 Status: 4\n" +
                     " Attrib Record Lookup Returned 4.\n",
              1)},
  };
  RunCases(cases);
}

}  // namespace
