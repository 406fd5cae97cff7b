// The built program, run as a child process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_process.h"
#include "test_database.h"

namespace {

const char kUsage[] =
    "\nUsage:  SCRUTOR TableName [/<options>] [/P=Password]\n\n"
    "    This command examines the TableName table for indices which are\n"
    "    not properly defined in INDEX.DDF and prints a report about them.\n"
    "    Use \"*\" for TableName to process all Tables.\n"
    "    Use the /A option to enable strict ACS/Case checking.\n"
    "    Use the /C option to enable strict field type checking.\n"
    "    Use the /F option with /A to fix up ACS issues within ATTRIB.DDF.\n"
    "    Use the /I option to print index information as they are processed.\n"
    "    Use the /K option to print Btrieve key info as they are processed.\n"
    "    Use the /N option to enable NULL flag checking.\n"
    "    Use the /S option to print statistics at the end.\n"
    "    Use the /T option to print table names as they are processed.\n"
    "    Use the /P= option to provide the database Master Password.\n\n";

TEST(EndToEnd, UsageForWrongArgumentCount) {
  for (size_t n : {0u, 7u}) {
    std::vector<std::string> argv{SCRUTOR_BIN};
    for (size_t i = 0; i < n; i++) argv.push_back("/S");
    ProcessResult r = RunProcess(argv, "", "", true);
    EXPECT_EQ(r.exitCode, 1) << n;
    EXPECT_EQ(r.out, "") << n;
    EXPECT_EQ(r.err, kUsage) << n;
  }
}

// A pipe that holds Escape stops the run at the first poll, before any
// table is checked; /dev/null never stops it.
TEST(EndToEnd, EscapeThroughPipe) {
  TempDir dir;
  TestDatabase db(dir.path());
  db.tables = {{1, "Orders", "Orders.DAT"}, {2, "Lines", "Lines.DAT"}};
  db.WriteDictionaries();

  ProcessResult stopped = RunProcess({SCRUTOR_BIN, "*", "/T"}, dir.path(), "\x1b");
  EXPECT_EQ(stopped.exitCode, 1);
  EXPECT_EQ(stopped.out, "");
  EXPECT_EQ(stopped.err, "\nScrutor Terminated by the User.\n");

  ProcessResult full = RunProcess({SCRUTOR_BIN, "*", "/T"}, dir.path(), "", true);
  EXPECT_EQ(full.exitCode, 0);
  EXPECT_EQ(full.out.find("Working On Table Lines...\n"), 0u) << full.out;
  EXPECT_NE(full.out.find("Working On Table Orders...\n"), std::string::npos);
  EXPECT_TRUE(full.out.ends_with("Done.\n")) << full.out;

  ProcessResult other = RunProcess({SCRUTOR_BIN, "*", "/T"}, dir.path(), "q");
  EXPECT_EQ(other.exitCode, 0);
  EXPECT_EQ(other.out, full.out);
}

// Standard output is buffered in full when redirected, yet when both streams
// go to one file the error lines stay where they happened.
TEST(EndToEnd, ErrorLinesKeepTheirPlaceInASharedFile) {
  TempDir dir;  // no dictionaries: the first Open fails
  ProcessResult r = RunProcessMerged({SCRUTOR_BIN, "*", "/D"}, dir.path(), "", true);
  EXPECT_EQ(r.exitCode, 1);
  size_t open = r.out.find("Op: 0, Buflen: 97, KeyNum: 0 Status: 12\n");
  size_t error = r.out.find("Unable to Open Dictionary Files - Status 12\n");
  size_t reset = r.out.find("Op: 28, Buflen: 97, KeyNum: 0 Status: 0\n");
  ASSERT_NE(open, std::string::npos) << r.out;
  ASSERT_NE(error, std::string::npos) << r.out;
  ASSERT_NE(reset, std::string::npos) << r.out;
  EXPECT_LT(open, error);
  EXPECT_LT(error, reset);
}

// Standard error redirected on its own: the spinner's characters and the
// error lines all arrive, in the order written, though they are buffered.
TEST(EndToEnd, RedirectedStandardErrorGetsEverythingInOrder) {
  TempDir dir;
  TestDatabase db(dir.path());
  db.tables = {{1, "Alpha", "A.DAT"}, {2, "Beta", "B.DAT"}, {3, "Gamma", "C.DAT"}};
  db.WriteDictionaries();
  {
    std::FILE* f = std::fopen((dir.path() + "/B.DAT").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a data file of any kind, but long enough to be read as one", f);
    std::fclose(f);
  }
  ProcessResult r = RunProcess({SCRUTOR_BIN, "*"}, dir.path(), "", true);
  EXPECT_EQ(r.exitCode, 0);
  // One spinner step per table, Beta's error line after its step.
  EXPECT_EQ(r.err, "-\b\\\bB.DAT: Not a Btrieve File\n|\b") << r.err;
  EXPECT_TRUE(r.out.ends_with("Done.\n")) << r.out;
}

}  // namespace
