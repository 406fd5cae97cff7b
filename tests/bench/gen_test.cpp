// scrutor-db gen and io_floor, end to end: generated databases are
// reproducible, check clean without drift, carry every kind of drift the
// checker reports (and /A /F repairs), and io_floor reads what they name.
#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "run_process.h"

namespace fs = std::filesystem;

namespace {

using Summary = std::map<std::string, long>;

// Runs gen into dir; the summary lines "key: number" become a map.
Summary Gen(const std::string& dir, std::vector<std::string> options) {
  std::vector<std::string> argv = {SCRUTOR_DB_BIN, "gen", dir};
  argv.insert(argv.end(), options.begin(), options.end());
  ProcessResult r = RunProcess(argv, "", "", true);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  Summary s;
  std::istringstream in(r.out);
  std::string key, value;
  while (in >> key >> value) {
    key.pop_back();  // the colon
    if (value == "yes" || value == "no") s[key] = value == "yes";
    else s[key] = std::stol(value);
  }
  return s;
}

ProcessResult Scrutor(const std::string& dir, std::vector<std::string> args) {
  args.insert(args.begin(), SCRUTOR_BIN);
  return RunProcess(args, dir, "", true);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

long Stat(const std::string& out, const std::string& label) {
  size_t at = out.find(label);
  if (at == std::string::npos) return -1;
  return std::stol(out.substr(out.find('=', at) + 1));
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) names.push_back(fs::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(GenTest, SameSeedGivesSameBytesAndAnotherSeedDiffers) {
  TempDir tmp;
  const std::vector<std::string> options = {"--tables", "25", "--records", "7", "--drift", "0.3"};
  auto with = [&](std::string seed) {
    auto o = options;
    o.insert(o.end(), {"--seed", seed});
    return o;
  };
  Gen(tmp.path() + "/a", with("7"));
  Gen(tmp.path() + "/b", with("7"));
  Gen(tmp.path() + "/c", with("8"));

  std::vector<std::string> names = Files(tmp.path() + "/a");
  ASSERT_EQ(names.size(), 4u + 25u);
  ASSERT_EQ(names, Files(tmp.path() + "/b"));
  for (const std::string& n : names)
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/a/" + n), ReadFileBytes(tmp.path() + "/b/" + n)) << n;
  EXPECT_NE(ReadFileBytes(tmp.path() + "/a/FIELD.DDF"), ReadFileBytes(tmp.path() + "/c/FIELD.DDF"));
}

// Without drift the dictionaries agree with the data files in every respect
// that any option checks: every INDEX.DDF row verifies.
TEST(GenTest, WithoutDriftEverySegmentVerifies) {
  TempDir tmp;
  Summary s = Gen(tmp.path() + "/db", {"--tables", "40", "--keys", "4", "--segments", "3",
                                       "--drift", "0", "--records", "5"});
  EXPECT_EQ(s["drifted_keys"], 0);
  ProcessResult r = Scrutor(tmp.path() + "/db", {"*", "/A", "/C", "/N", "/S"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Stat(r.out, "Files Processed"), 40);
  EXPECT_EQ(Stat(r.out, "Files Rejected"), 0);
  EXPECT_EQ(Stat(r.out, "Btrieve Keys"), 160);
  EXPECT_EQ(Stat(r.out, "Indices Verified"), s["index_rows"]);
  EXPECT_EQ(Stat(r.out, "Indices Needed"), 0);
  EXPECT_EQ(Stat(r.out, "Indices Corrupt"), 0);
  EXPECT_EQ(r.err.find("Status"), std::string::npos) << r.err;
}

// Every drift kind appears, each yields its report, and /A /F repairs the
// ACS ones so that a second /A run no longer reports them.
TEST(GenTest, DriftYieldsEveryReportAndAcsRepairsHold) {
  TempDir tmp;
  const std::string db = tmp.path() + "/db";
  Summary s = Gen(db, {"--tables", "60", "--drift", "0.5", "--seed", "3"});
  const char* kinds[] = {"flag", "type", "missing_row", "wrong_row", "no_column",
                         "long_column", "missing_acs", "extra_acs", "invalid_acs"};
  for (const char* k : kinds) EXPECT_GT(s[std::string("drift_") + k], 0) << k;

  ProcessResult r = Scrutor(db, {"*", "/A", "/C", "/N", "/S"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Stat(r.out, "Files Processed"), 60);
  // One line per drifted key where the drift touches one row or segment.
  EXPECT_EQ(Count(r.out, "Index Not Found:"), size_t(s["drift_missing_row"]));
  EXPECT_EQ(Count(r.out, " Index number is for the wrong field."), size_t(s["drift_wrong_row"]));
  EXPECT_EQ(Count(r.out, "Unable To Match Table"), size_t(s["drift_long_column"]));
  EXPECT_EQ(Count(r.out, " No Fields Found At Offset"), size_t(s["drift_no_column"]));
  EXPECT_EQ(Stat(r.out, "Indices Corrupt"), s["drift_long_column"] + s["drift_no_column"]);
  EXPECT_EQ(Count(r.out, "Doesn't Support an ACS."), size_t(s["drift_invalid_acs"]));
  EXPECT_EQ(Count(r.out, " ACS defined in ATTRIB.DDF, but ACS Flag NOT set"),
            size_t(s["drift_extra_acs"] + s["drift_invalid_acs"]));
  // A split segment drifts on both of its columns.
  EXPECT_GE(Count(r.out, " ACS Flag set in Btrieve file, but no ACS defined"),
            size_t(s["drift_missing_acs"]));
  EXPECT_GE(Count(r.out, " Field ("), size_t(s["drift_type"]));
  EXPECT_GE(Count(r.out, "Doesn't Match.") + Count(r.out, "Do Not Match.") +
                Count(r.out, "Mismatch (Warning Only)."),
            size_t(s["drift_flag"]));

  ProcessResult fix = Scrutor(db, {"*", "/A", "/F"});
  ASSERT_EQ(fix.exitCode, 0) << fix.err;
  EXPECT_EQ(Count(fix.out, " FIX: Need to create new ATTRIB.DDF Record!"),
            Count(r.out, " ACS Flag set in Btrieve file, but no ACS defined"));
  EXPECT_EQ(Count(fix.out, " FIX: Deleting the invalid ATTRIB.DDF Record!"),
            size_t(s["drift_invalid_acs"]));
  EXPECT_EQ(Count(fix.out, " FIX: Deleting the extra ATTRIB.DDF Record!"),
            size_t(s["drift_extra_acs"]));
  EXPECT_EQ(Count(fix.out, " Error"), 0u) << fix.out;

  ProcessResult after = Scrutor(db, {"*", "/A", "/C", "/N", "/S"});
  ASSERT_EQ(after.exitCode, 0) << after.err;
  EXPECT_EQ(Count(after.out, "ACS defined in ATTRIB.DDF"), 0u);
  EXPECT_EQ(Count(after.out, "ACS Flag set in Btrieve file"), 0u);
  EXPECT_EQ(Count(after.out, "Index Not Found:"), size_t(s["drift_missing_row"]));
  EXPECT_EQ(Stat(after.out, "Indices Corrupt"), Stat(r.out, "Indices Corrupt"));
}

TEST(GenTest, RecordsAndSparseSizeKeepDataFilesValid) {
  TempDir tmp;
  const std::string db = tmp.path() + "/db";
  Gen(db, {"--tables", "3", "--records", "250", "--file-size", "1048576"});
  for (const char* f : {"DATA/T00001.DAT", "DATA/T00002.DAT", "DATA/T00003.DAT"}) {
    const std::string path = db + "/" + f;
    EXPECT_EQ(fs::file_size(path), 1048576u) << f;
    std::string problem;
    EXPECT_EQ(engine::VerifyFile(path, "", &problem), 0) << f << ": " << problem;
    std::vector<std::vector<uint8_t>> records;
    ASSERT_EQ(engine::ReadAllRecords(path, "", &records), 0) << f;
    EXPECT_EQ(records.size(), 250u) << f;
  }
  ProcessResult r = Scrutor(db, {"*", "/S"});
  EXPECT_EQ(Stat(r.out, "Files Processed"), 3);
}

// A generated database is an ordinary one: its description, built again,
// gives the same bytes.
TEST(GenTest, ExportAndBuildGiveTheSameFiles) {
  TempDir tmp;
  Gen(tmp.path() + "/gen", {"--tables", "15", "--records", "4", "--drift", "0.4"});
  ProcessResult ex = RunProcess({SCRUTOR_DB_BIN, "export", tmp.path() + "/gen", "--records"}, "",
                                "", true);
  ASSERT_EQ(ex.exitCode, 0) << ex.err;
  WriteFileBytes(tmp.path() + "/db.json", ex.out);
  ProcessResult b = RunProcess({SCRUTOR_DB_BIN, "build", tmp.path() + "/db.json",
                                tmp.path() + "/built"}, "", "", true);
  ASSERT_EQ(b.exitCode, 0) << b.err;
  std::vector<std::string> names = Files(tmp.path() + "/gen");
  ASSERT_EQ(names, Files(tmp.path() + "/built"));
  for (const std::string& n : names)
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/gen/" + n), ReadFileBytes(tmp.path() + "/built/" + n))
        << n;
}

TEST(GenTest, RefusesWhatItCannotWrite) {
  TempDir tmp;
  struct Case {
    std::vector<std::string> options;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {{"--tables", "0"}, 2, "--tables"},
      {{"--tables", "2", "--columns", "2", "--keys", "3"}, 2, "--columns must be at least --keys"},
      {{"--tables", "2", "--drift", "1.5"}, 2, "--drift"},
      // 7,000 tables of 10 columns need more than 16-bit column ids.
      {{"--tables", "7000"}, 2, "65535"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {SCRUTOR_DB_BIN, "gen", tmp.path() + "/db"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    ProcessResult r = RunProcess(argv, "", "", true);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(tmp.path() + "/db")) << c.message;
  }
  // A folder that holds anything is left as it is.
  fs::create_directory(tmp.path() + "/full");
  WriteFileBytes(tmp.path() + "/full/FILE.DDF", "mine");
  ProcessResult r = RunProcess({SCRUTOR_DB_BIN, "gen", tmp.path() + "/full", "--tables", "2"}, "",
                               "", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFileBytes(tmp.path() + "/full/FILE.DDF"), "mine");
  EXPECT_EQ(Files(tmp.path() + "/full").size(), 1u);
}

// Beyond 65,535 columns ids repeat, but never on a column that has or may
// get an ATTRIB.DDF record: repairs in one table do not show up in another.
TEST(GenTest, SharedColumnIdsKeepAcsRecordsApart) {
  TempDir tmp;
  const std::string db = tmp.path() + "/db";
  Summary s = Gen(db, {"--tables", "7000", "--drift", "0.05", "--shared-column-ids"});
  ASSERT_EQ(s["shared_column_ids"], 1);
  ProcessResult fix = Scrutor(db, {"*", "/A", "/F", "/S"});
  ASSERT_EQ(fix.exitCode, 0) << fix.err;
  EXPECT_EQ(Count(fix.out, " FIX: Deleting the extra ATTRIB.DDF Record!"),
            size_t(s["drift_extra_acs"]));
  EXPECT_EQ(Count(fix.out, " Error"), 0u);
  ProcessResult after = Scrutor(db, {"*", "/A", "/S"});
  ASSERT_EQ(after.exitCode, 0) << after.err;
  EXPECT_EQ(Stat(after.out, "Files Processed"), 7000);
  EXPECT_EQ(Count(after.out, "ACS defined in ATTRIB.DDF"), 0u);
  EXPECT_EQ(Count(after.out, "ACS Flag set in Btrieve file"), 0u);
}

TEST(IoFloorTest, ReadsEveryDataFileThatFileDdfNames) {
  TempDir tmp;
  const std::string db = tmp.path() + "/db";
  Gen(db, {"--tables", "12"});
  ProcessResult r = RunProcess({IO_FLOOR_BIN, db}, "", "", true);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("data_files: 12\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("missing: 0\n"), std::string::npos) << r.out;

  fs::remove(db + "/DATA/T00005.DAT");
  r = RunProcess({IO_FLOOR_BIN}, db, "", true);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("data_files: 11\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("missing: 1\n"), std::string::npos) << r.out;

  fs::remove(db + "/INDEX.DDF");
  r = RunProcess({IO_FLOOR_BIN, db}, "", "", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("INDEX.DDF"), std::string::npos) << r.err;
}

}  // namespace
