// Storage faults under the real program: an LD_PRELOAD shim fails the
// pwrite, fsync or ftruncate calls that reach ATTRIB.DDF with ENOSPC (half
// the bytes written first) or EIO. The failed Insert or Delete gives the
// repair's error line and status 18 or 2, leaves its record as it was, and
// the run goes on to "Done." and exit code 0.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "repair_db.h"
#include "run_process.h"

namespace reliability {
namespace {

// Runs scrutor "*" /A /F in dir with the shim and the given settings.
ProcessResult RunWithShim(const std::string& dir, const std::map<std::string, std::string>& vars) {
  std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
  const std::string saved = asan;
  // Under the sanitizer build the shim comes before the sanitizer runtime.
  asan += (asan.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
  setenv("LD_PRELOAD", FAULT_SHIM, 1);
  for (const auto& [k, v] : vars) setenv(k.c_str(), v.c_str(), 1);
  ProcessResult r = RunProcess({SCRUTOR_BIN, "*", "/A", "/F"}, dir, "", true);
  for (const auto& [k, v] : vars) unsetenv(k.c_str());
  unsetenv("LD_PRELOAD");
  if (saved.empty()) {
    unsetenv("ASAN_OPTIONS");
  } else {
    setenv("ASAN_OPTIONS", saved.c_str(), 1);
  }
  return r;
}

bool EndsWithDone(const std::string& out) {
  return out.size() >= 6 && out.compare(out.size() - 6, 6, "Done.\n") == 0;
}

TEST(ShimFaults, EachChangeOfTheRepairFailingInTurn) {
  RepairDatabase db(8);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;

  // How many changing calls reach ATTRIB.DDF in a whole repair.
  const std::string countDir = work.path() + "/count";
  db.CopyTo(countDir);
  const std::string countFile = work.path() + "/count.txt";
  ProcessResult r = RunWithShim(countDir, {{"SCRUTOR_SHIM_COUNT", countFile}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const int total = std::stoi(ReadFileBytes(countFile));
  ASSERT_GT(total, 0);
  AttribState state;
  ASSERT_EQ(ReadAttrib(countDir, &state), "");
  ASSERT_EQ(state, db.repaired());

  const struct {
    int error;
    int status;
  } faults[] = {{ENOSPC, 18}, {EIO, 2}};
  for (const auto& fault : faults) {
    for (int n = 0; n < total; ++n) {
      SCOPED_TRACE("errno " + std::to_string(fault.error) + ", change " + std::to_string(n));
      const std::string dir = work.path() + "/e" + std::to_string(fault.error) + "-" +
                              std::to_string(n);
      db.CopyTo(dir);
      r = RunWithShim(dir, {{"SCRUTOR_SHIM_FAIL_AT", std::to_string(n)},
                            {"SCRUTOR_SHIM_ERRNO", std::to_string(fault.error)}});
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_TRUE(EndsWithDone(r.out)) << r.out;
      EXPECT_NE(r.err.find("Btrieve Error " + std::to_string(fault.status) + ": Operation="),
                std::string::npos)
          << r.err;
      const std::set<std::string> failed = TablesWithErrorLines(r.out);
      ASSERT_EQ(failed.size(), 1u) << r.out;
      ASSERT_EQ(ReadAttrib(dir, &state), "");
      EXPECT_EQ(state, ExpectedAfterFailures(db, failed, true));
      std::filesystem::remove_all(dir);
    }
  }
}

TEST(ShimFaults, EveryChangeFailingLeavesAttribAsItWas) {
  RepairDatabase db(8);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  const std::string dir = work.path() + "/db";
  db.CopyTo(dir);
  ProcessResult r = RunWithShim(dir, {{"SCRUTOR_SHIM_FAIL_FROM", "0"},
                                      {"SCRUTOR_SHIM_ERRNO", std::to_string(ENOSPC)}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(EndsWithDone(r.out)) << r.out;
  // Every table that needed a change reports its failure.
  std::set<std::string> needing;
  for (const auto& t : db.tables()) {
    if (t.repair != Repair::kNone) needing.insert(t.name);
  }
  EXPECT_EQ(TablesWithErrorLines(r.out), needing);
  AttribState state;
  ASSERT_EQ(ReadAttrib(dir, &state), "");
  EXPECT_EQ(state, db.original());
}

}  // namespace
}  // namespace reliability
