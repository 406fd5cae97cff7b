// The sample database's documented reports: scrutor's output on a fresh
// copy must match the blocks in examples/sample/README.md, run after run.
#include <gtest/gtest.h>

#include <sstream>

#include "db_test_support.h"

namespace {

// The fenced block that follows the line "<!-- report: LABEL -->".
std::string DocumentedReport(const std::string& label) {
  std::istringstream in(ReadFileBytes(std::string(SCRUTOR_SOURCE_DIR) + "/examples/sample/README.md"));
  std::string line, block;
  bool found = false, inside = false;
  while (std::getline(in, line)) {
    if (!found) {
      found = line == "<!-- report: " + label + " -->";
      continue;
    }
    if (line == "```") {
      if (inside) return block;
      inside = true;
      continue;
    }
    if (inside) block += line + "\n";
  }
  ADD_FAILURE() << "no report block labelled " << label;
  return "";
}

TEST(SampleDatabase, ReportsAndRepairsAsDocumented) {
  TempDir tmp;
  ProcessResult built = RunDb({"build", SamplePath(), tmp.path()});
  ASSERT_EQ(built.exitCode, 0) << built.err;

  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {"/A", {"*", "/A"}},
      {"/A /F /S", {"*", "/A", "/F", "/S"}},
      {"/A /S after /F", {"*", "/A", "/S"}},
  };
  for (const auto& [label, args] : runs) {
    std::vector<std::string> argv = {SCRUTOR_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult r = RunProcess(argv, tmp.path(), "", true);
    EXPECT_EQ(r.exitCode, 0) << label << "\n" << r.err;
    EXPECT_EQ(r.out, DocumentedReport(label)) << label;
  }
}

}  // namespace
