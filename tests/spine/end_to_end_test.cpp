// The built program, run as a child process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_process.h"

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

}  // namespace
