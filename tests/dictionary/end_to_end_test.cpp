// End-to-end runs of the built program over databases written through the
// embedded record manager: dictionary opens with and without an owner name,
// missing and foreign files, and the table pass's counts, walk and trace.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "test_database.h"
#include "run_process.h"

namespace {

engine::SegmentDef Seg(uint16_t position, uint16_t length, uint8_t type = 14) {
  engine::SegmentDef s;
  s.position = position;
  s.length = length;
  s.type = type;
  return s;
}

ProcessResult RunScrutor(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), SCRUTOR_BIN);
  return RunProcess(args, dir.path(), "", /*stdinFromDevNull=*/true);
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
    start = end + 1;
  }
  return out;
}

// The slice of text from the first occurrence of from up to and including to.
std::string Slice(const std::string& text, const std::string& from, const std::string& to) {
  size_t a = text.find(from);
  if (a == std::string::npos) return "<no " + from + ">";
  size_t b = text.find(to, a);
  if (b == std::string::npos) return "<no " + to + ">";
  return text.substr(a, b + to.size() - a);
}

// Orders: keys of 1, 3 and 2 segments, every segment one consistent column.
// Empty: a data file without keys. Missing: no data file. Garbage: not a file
// of the record manager's format.
void AddSampleTables(TestDatabase& db, const std::optional<std::string>& dataOwner = std::nullopt) {
  db.tables = {{1, "Orders", "ORDERS.DAT"},
               {2, "Empty", "EMPTY.DAT"},
               {3, "Missing", "MISSING.DAT"},
               {4, "Garbage", "GARBAGE.DAT"}};
  db.fields = {{10, 1, "OrderId", 14, 0, 4},  {11, 1, "Region", 14, 4, 2},
               {12, 1, "Branch", 14, 6, 2},   {13, 1, "Desk", 14, 8, 2},
               {14, 1, "Customer", 0, 10, 8}, {15, 1, "Grade", 0, 18, 1}};
  db.indexes = {{1, 10, 0, 0, 0},    {1, 11, 1, 0, 0x10}, {1, 12, 1, 1, 0x10},
                {1, 13, 1, 2, 0},    {1, 14, 2, 0, 0x10}, {1, 15, 2, 1, 0}};
  db.WriteDictionaries();
  db.WriteDataFile("ORDERS.DAT",
                   {{Seg(1, 4)}, {Seg(5, 2), Seg(7, 2), Seg(9, 2)}, {Seg(11, 8, 0), Seg(19, 1, 0)}},
                   dataOwner);
  db.WriteDataFile("EMPTY.DAT", {}, dataOwner);
  WriteFileBytes(db.PathOf("GARBAGE.DAT"), std::string(4096, 'G'));
}

TEST(TablePassRun, AllTablesAreCountedUnderStatistics) {
  TempDir dir;
  TestDatabase db(dir.path());
  AddSampleTables(db);
  ProcessResult r = RunScrutor(dir, {"*", "/S"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // The foreign file is named by the call layer, then reported like a missing one.
  EXPECT_NE(r.err.find("GARBAGE.DAT: Not a Btrieve File\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Btrieve File GARBAGE.DAT Not Found.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Btrieve File MISSING.DAT Not Found.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files Processed = 2\n"
                       "Files Rejected  = 2\n"
                       "Btrieve Keys    = 3\n"
                       "Indices Verified= 6\n"
                       "Indices Needed  = 0\n"
                       "Indices Corrupt = 0\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err.find("Missing"), std::string::npos) << r.err;  // status 12 is silent
}

TEST(TablePassRun, KeyLinesCountKeysFromZero) {
  TempDir dir;
  TestDatabase db(dir.path());
  AddSampleTables(db);
  ProcessResult r = RunScrutor(dir, {"Orders", "/K"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Starting on Key 0 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 2 of 3\n"
            "Starting on Key 2 of 3\n"
            "Done.\n");
}

TEST(TablePassRun, TraceOfOneTablePass) {
  TempDir dir;
  TestDatabase db(dir.path());
  AddSampleTables(db);

  ProcessResult r = RunScrutor(dir, {"Empty", "/D"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Slice(r.out, "Opening file", "Done.\n"),
            "Opening file EMPTY.DAT\n"
            "Op: 0, Buflen: 33236, KeyNum: 0 Status: 0\n"
            "Obtaining Stat Information\n"
            "Op: 15, Buflen: 33236, KeyNum: -1 Status: 0\n"
            "Found 0 Segments, calculating ACS offset of 0x0010\n"
            "Op: 1, Buflen: 16, KeyNum: -1 Status: 0\n"
            "Done.\n");

  r = RunScrutor(dir, {"Orders", "/D"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Slice(r.out, "Opening file", "Starting on Key 0 of 3\n"),
            "Opening file ORDERS.DAT\n"
            "Op: 0, Buflen: 33236, KeyNum: 0 Status: 0\n"
            "Obtaining Stat Information\n"
            "Op: 15, Buflen: 33236, KeyNum: -1 Status: 0\n"
            "Found 6 Segments, calculating ACS offset of 0x0070\n"
            "Starting on Key 0 of 3\n");
  // The Close of the data file sends what the Stat handed back: 16 + 6 * 16.
  EXPECT_NE(r.out.find("Op: 1, Buflen: 112, KeyNum: -1 Status: 0\nDone.\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(LinesStartingWith(r.out, "Starting on Key").size(), 6u);
}

TEST(TablePassRun, OwnerNameOpensDictionariesAndDataFiles) {
  struct Case {
    const char* name;
    std::optional<std::string> dictOwner;
    std::optional<std::string> dataOwner;
    std::vector<std::string> args;
    int exitCode;
    const char* outPart;  // expected on standard output
    const char* errPart;  // expected on standard error
  };
  const Case cases[] = {
      {"right", "Secret1", "Secret1", {"Orders", "/P=Secret1"}, 0, "Done.\n", ""},
      {"wrong", "Secret1", "Secret1", {"Orders", "/P=Secret2"}, 1, "",
       "Btrieve Error 51: Operation=0, File=FILE.DDF\n"
       "Unable to Open Dictionary Files - Status 51\n"},
      {"missing", "Secret1", "Secret1", {"Orders"}, 1, "",
       "Unable to Open Dictionary Files - Status 51\n"},
      {"none needed", std::nullopt, std::nullopt, {"Orders", "/P=anything"}, 0, "Done.\n", ""},
      {"data file differs", "Secret1", "Other", {"Orders", "/P=Secret1"}, 0,
       "Btrieve File ORDERS.DAT Not Found.\nDone.\n",
       "Btrieve Error 51: Operation=0, File=ORDERS.DAT\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    TestDatabase db(dir.path(), c.dictOwner);
    AddSampleTables(db, c.dataOwner);
    ProcessResult r = RunScrutor(dir, c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_NE(r.out.find(c.outPart), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
    // The data file opens unless the case expects its not-found line.
    if (std::string(c.outPart).find("Not Found") == std::string::npos) {
      EXPECT_EQ(r.out.find("Not Found"), std::string::npos) << r.out;
    }
  }
}

TEST(TablePassRun, MissingDictionaryStopsTheOpens) {
  for (const char* missing : {"FILE.DDF", "INDEX.DDF", "ATTRIB.DDF"}) {
    SCOPED_TRACE(missing);
    TempDir dir;
    TestDatabase db(dir.path());
    AddSampleTables(db);
    ASSERT_EQ(std::remove(db.PathOf(missing).c_str()), 0);
    ProcessResult r = RunScrutor(dir, {"*", "/D"});
    EXPECT_EQ(r.exitCode, 1);
    // Status 12 is silent: the driver's line is the only one.
    EXPECT_EQ(r.err, "Unable to Open Dictionary Files - Status 12\n");
    EXPECT_NE(r.out.find("Data Dictionaries Opened: 12\n"), std::string::npos) << r.out;
    std::vector<std::string> opens = LinesStartingWith(r.out, "Op: 0,");
    std::string last = std::string(missing) == "FILE.DDF" ? "Op: 0, Buflen: 97, KeyNum: 0 Status: 12"
                       : std::string(missing) == "INDEX.DDF"
                           ? "Op: 0, Buflen: 10, KeyNum: 0 Status: 12"
                           : "Op: 0, Buflen: 2053, KeyNum: 0 Status: 12";
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens.back(), last);  // nothing after the failing Open is tried
    EXPECT_EQ(r.out.find("Closing Data Dictionaries"), std::string::npos) << r.out;
  }
}

TEST(TablePassRun, LocationsBecomePathsAsStored) {
  const std::string long64 = std::string(60, 'L') + ".DAT";
  struct Case { std::string location; std::string file; bool exists; std::string expected; };
  const Case cases[] = {
      {"ORDERS.DAT", "ORDERS.DAT", true, "Found 1 Segments"},                   // blank-padded
      {long64, long64, true, "Found 1 Segments"},                               // all 64 bytes
      {"SUB\\DATA.DAT", "SUB/DATA.DAT", true, "Found 1 Segments"},             // backslash
      {long64.substr(1) + "X", "", false, "Btrieve File " + long64.substr(1) + "X Not Found.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    TempDir dir;
    TestDatabase db(dir.path());
    db.tables = {{1, "T", c.location}};
    db.fields = {{10, 1, "Id", 14, 0, 4}};
    db.indexes = {{1, 10, 0, 0, 0}};
    db.WriteDictionaries();
    if (c.exists) {
      mkdir(db.PathOf("SUB").c_str(), 0755);
      db.WriteDataFile(c.file, {{Seg(1, 4)}});
    }
    ProcessResult r = RunScrutor(dir, {"T", "/D"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string path = c.location;
    EXPECT_NE(r.out.find("Opening file " + path + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << r.out;
  }
}

}  // namespace
