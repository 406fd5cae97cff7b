// The sample database: every drift that examples/sample/README.md lists shows
// up in scrutor's report, in table order, and nothing else does; /F repairs
// exactly the two ATTRIB.DDF drifts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "run_process.h"

namespace {

using nlohmann::json;

const std::string kSample = std::string(SCRUTOR_SOURCE_DIR) + "/examples/sample";

struct Drift {
  int number;
  std::string table;
  std::vector<std::string> report;  // lines under /A
  std::vector<std::string> fixes;   // lines that /F adds after them
};

// The texts between pairs of backticks in a table cell.
std::vector<std::string> Quoted(const std::string& cell) {
  std::vector<std::string> out;
  size_t open = cell.find('`');
  while (open != std::string::npos) {
    const size_t close = cell.find('`', open + 1);
    if (close == std::string::npos) break;
    out.push_back(cell.substr(open + 1, close - open - 1));
    open = cell.find('`', close + 1);
  }
  return out;
}

std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream in(row);
  while (std::getline(in, cell, '|')) cells.push_back(cell);
  return cells;
}

// The rows of the README's drift table.
std::vector<Drift> DocumentedDrifts() {
  std::ifstream in(kSample + "/README.md");
  std::vector<Drift> drifts;
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## The drifts";
    if (!inSection || line.rfind("| ", 0) != 0) continue;
    const std::vector<std::string> cells = Cells(line);
    if (cells.size() < 7 || !std::isdigit(static_cast<unsigned char>(cells[1][1]))) continue;
    Drift d;
    d.number = std::stoi(cells[1]);
    d.table = cells[2].substr(1, cells[2].size() - 2);
    d.report = Quoted(cells[5]);
    d.fixes = Quoted(cells[6]);
    drifts.push_back(d);
  }
  // Tables come in FILE.DDF's (case-insensitive) name order.
  std::stable_sort(drifts.begin(), drifts.end(), [](const Drift& a, const Drift& b) {
    return std::lexicographical_compare(
        a.table.begin(), a.table.end(), b.table.begin(), b.table.end(),
        [](char x, char y) { return std::toupper(x) < std::toupper(y); });
  });
  return drifts;
}

// The report made of the drifts' lines, each drift's FIX lines after its own
// lines when withFixes is set.
std::string Report(const std::vector<Drift>& drifts, bool withFixes) {
  std::string out;
  for (const Drift& d : drifts) {
    for (const std::string& line : d.report) out += line + "\n";
    if (withFixes) {
      for (const std::string& line : d.fixes) out += line + "\n";
    }
  }
  return out;
}

std::vector<std::string> AttributeRows(const json& description) {
  std::vector<std::string> rows;
  for (const json& a : description["attributes"]) {
    rows.push_back(std::to_string(a["field"].get<int>()) + " " + a["type"].get<std::string>() +
                   " " + a["data"].get<std::string>());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

int FieldId(const json& description, int tableId, const std::string& name) {
  for (const json& f : description["fields"]) {
    if (f["table"] == tableId && f["name"] == name) return f["id"].get<int>();
  }
  ADD_FAILURE() << "no column " << name;
  return -1;
}

TEST(SampleDrifts, EveryDocumentedDriftIsReportedAndRepaired) {
  const std::vector<Drift> drifts = DocumentedDrifts();
  ASSERT_EQ(drifts.size(), 8u);
  std::ifstream jsonIn(kSample + "/database.json");
  const json description = json::parse(jsonIn);

  TempDir dir;
  const std::string db = dir.path() + "/db";
  ProcessResult built = RunProcess({SCRUTOR_DB_BIN, "build", kSample + "/database.json", db},
                                   "", "", true);
  ASSERT_EQ(built.exitCode, 0) << built.err;
  auto scrutor = [&](std::vector<std::string> args) {
    args.insert(args.begin(), SCRUTOR_BIN);
    ProcessResult r = RunProcess(args, db, "", true);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  };

  // Without /A the case/ACS drifts stay hidden: row 10 finds some case or ACS
  // handling on both sides, and ATTRIB.DDF is not read.
  std::vector<Drift> withoutAcs;
  for (const Drift& d : drifts) {
    const std::string lines = Report({d}, false);
    if (lines.find("ACS") == std::string::npos &&
        lines.find("Case Insensitivity") == std::string::npos) {
      withoutAcs.push_back(d);
    }
  }
  EXPECT_EQ(withoutAcs.size(), 5u);
  EXPECT_EQ(scrutor({"*"}), Report(withoutAcs, false) + "Done.\n");

  EXPECT_EQ(scrutor({"*", "/A"}), Report(drifts, false) + "Done.\n");

  // /F: each drift's FIX lines follow its own lines; the repaired segments
  // still count as needed.
  const std::string repaired = scrutor({"*", "/A", "/F", "/S"});
  const std::string expected = Report(drifts, true);
  EXPECT_EQ(repaired.substr(0, expected.size()), expected);
  const std::string stats = repaired.substr(std::min(expected.size(), repaired.size()));
  EXPECT_EQ(stats.rfind("\nWork completed.\nFiles Processed = 9\nFiles Rejected  = 1\n", 0), 0u)
      << stats;
  EXPECT_NE(stats.find("Indices Needed  = 6\nIndices Corrupt = 1\n"), std::string::npos)
      << stats;

  // ATTRIB.DDF afterwards: LastName's extra record gone, PORef's inserted with
  // the collating sequence of INVOICE.DAT, every other record as it was.
  ProcessResult exported = RunProcess({SCRUTOR_DB_BIN, "export", db}, "", "", true);
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  std::vector<std::string> want = AttributeRows(description);
  const std::string lastName = std::to_string(FieldId(description, 19, "LastName")) + " O ";
  want.erase(std::remove_if(want.begin(), want.end(),
                            [&](const std::string& r) { return r.rfind(lastName, 0) == 0; }),
             want.end());
  std::string invoiceAcs;
  for (const json& f : description["files"]) {
    if (f["path"] == "DATA/INVOICE.DAT") invoiceAcs = f["acs"][0].get<std::string>();
  }
  ASSERT_FALSE(invoiceAcs.empty());
  want.push_back(std::to_string(FieldId(description, 17, "PORef")) + " O " + invoiceAcs);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(AttributeRows(json::parse(exported.out)), want);

  // Drifts 5 and 6 are gone from the next run; the six others stay.
  std::vector<Drift> remaining;
  for (const Drift& d : drifts) {
    if (d.fixes.empty()) remaining.push_back(d);
  }
  EXPECT_EQ(remaining.size(), 6u);
  EXPECT_EQ(scrutor({"*", "/A"}), Report(remaining, false) + "Done.\n");
}

}  // namespace
