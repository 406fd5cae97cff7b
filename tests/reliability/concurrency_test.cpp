// Two scrutor "*" /A /F runs at once on one database: ATTRIB.DDF ends as one
// run alone leaves it, with no key held twice and no record lost, and the
// only trace of the contention is the repair's error lines.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <thread>

#include "repair_db.h"
#include "run_process.h"

namespace reliability {
namespace {

constexpr int kTables = 120;
const int kRounds = Rounds(8);

// Every line a repair run may print on standard output for this database,
// contention included.
bool IsExpectedOutLine(const std::string& line) {
  static const std::regex expected(
      "Inconsistency Found: Key 1, Segment 0 for T[0-9]+\\.Name\\."
      "| ACS Flag set in Btrieve file, but no ACS defined in ATTRIB\\.DDF\\."
      "| ACS defined in ATTRIB\\.DDF, but ACS Flag NOT set in Btrieve file\\."
      "| ACS defined in ATTRIB\\.DDF, but Data Type 1 Doesn't Support an ACS\\."
      "| FIX: Need to create new ATTRIB\\.DDF Record!"
      "| FIX: Deleting the extra ATTRIB\\.DDF Record!"
      "| FIX: Deleting the invalid ATTRIB\\.DDF Record!"
      "| Error trying to insert a new ACS record\\."
      "| Error trying to delete this ACS record\\."
      "|Done\\.");
  return std::regex_match(line, expected);
}

// Standard error may carry the spinner and the call layer's lines about
// ATTRIB.DDF; nothing about any other file.
bool IsExpectedErrLine(std::string line) {
  std::string kept;
  for (size_t i = 0; i < line.size(); ++i) {
    if (i + 1 < line.size() && line[i + 1] == '\b') {
      ++i;  // a spinner step: a character and a backspace
      continue;
    }
    kept.push_back(line[i]);
  }
  static const std::regex expected("|Btrieve Error -?[0-9]+: Operation=[0-9]+, File=ATTRIB\\.DDF");
  return std::regex_match(kept, expected);
}

TEST(ConcurrentRepairs, TwoRunsLeaveWhatOneRunLeaves) {
  RepairDatabase db(kTables);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  int contended = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string dir = work.path() + "/r" + std::to_string(round);
    db.CopyTo(dir);
    ProcessResult a, b;
    std::thread first([&] { a = RunProcess({SCRUTOR_BIN, "*", "/A", "/F"}, dir, "", true); });
    std::thread second([&] { b = RunProcess({SCRUTOR_BIN, "*", "/A", "/F"}, dir, "", true); });
    first.join();
    second.join();

    for (const ProcessResult* r : {&a, &b}) {
      EXPECT_EQ(r->exitCode, 0) << r->err;
      for (const std::string& line : Lines(r->out)) EXPECT_TRUE(IsExpectedOutLine(line)) << line;
      for (const std::string& line : Lines(r->err)) EXPECT_TRUE(IsExpectedErrLine(line)) << line;
      if (r->out.find(" Error trying") != std::string::npos) ++contended;
    }
    AttribState state;
    ASSERT_EQ(ReadAttrib(dir, &state), "");
    EXPECT_EQ(state, db.repaired());
    std::filesystem::remove_all(dir);
  }
  std::printf("runs with a repair error line: %d of %d\n", contended, 2 * kRounds);
}

// One of two competing runs killed at a random moment: its locks go with it,
// and the other run still leaves ATTRIB.DDF as one run alone does.
TEST(ConcurrentRepairs, OneOfTwoKilledTheOtherFinishes) {
  RepairDatabase db(kTables);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> moment(0, 60000);
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string dir = work.path() + "/r" + std::to_string(round);
    db.CopyTo(dir);
    const int delay = moment(rng);
    ProcessResult survivor;
    std::thread other([&] {
      survivor = RunProcess({SCRUTOR_BIN, "*", "/A", "/F"}, dir, "", true);
    });
    pid_t victim = SpawnQuiet({SCRUTOR_BIN, "*", "/A", "/F"}, dir);
    usleep(static_cast<useconds_t>(delay));
    kill(victim, SIGKILL);
    int status = 0;
    waitpid(victim, &status, 0);
    other.join();

    EXPECT_EQ(survivor.exitCode, 0) << survivor.err;
    for (const std::string& line : Lines(survivor.out)) {
      EXPECT_TRUE(IsExpectedOutLine(line)) << line;
    }
    AttribState state;
    ASSERT_EQ(ReadAttrib(dir, &state), "");
    EXPECT_EQ(state, db.repaired());
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
}  // namespace reliability
