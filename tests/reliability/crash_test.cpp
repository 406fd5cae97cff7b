// Crash consistency of a whole repair: scrutor "*" /A /F killed with SIGKILL
// at random moments leaves ATTRIB.DDF sound, every column holding either its
// original record or its complete repair, and every other file untouched; a
// second run then finishes the job.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "repair_db.h"
#include "run_process.h"

namespace reliability {
namespace {

constexpr int kTables = 80;
const int kRounds = Rounds(30);

// A line of /A output that /F could have acted on.
bool IsRepairableDifference(const std::string& line) {
  return line == " ACS Flag set in Btrieve file, but no ACS defined in ATTRIB.DDF." ||
         line == " ACS defined in ATTRIB.DDF, but ACS Flag NOT set in Btrieve file." ||
         line.rfind(" ACS defined in ATTRIB.DDF, but Data Type", 0) == 0;
}

TEST(CrashConsistency, KilledRepairLeavesEachRecordOriginalOrRepaired) {
  RepairDatabase db(kTables);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  const auto others = OtherFiles(db.templateDir());

  // One whole repair: its duration sets the range of the kill moments, and
  // its result must be the repaired state the description implies.
  const std::string reference = work.path() + "/reference";
  ProcessResult whole;
  const long micros = TimeWholeRepair(db, reference, &whole);
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  AttribState state;
  ASSERT_EQ(ReadAttrib(reference, &state), "");
  ASSERT_EQ(state, db.repaired());

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<long> moment(0, micros);
  int partial = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string dir = work.path() + "/r" + std::to_string(round);
    db.CopyTo(dir);
    const long delay = moment(rng);
    pid_t pid = SpawnQuiet({SCRUTOR_BIN, "*", "/A", "/F"}, dir);
    ASSERT_GT(pid, 0);
    usleep(static_cast<useconds_t>(delay));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);

    ASSERT_EQ(ReadAttrib(dir, &state), "") << "after a kill at " << delay << " us";
    ASSERT_EQ(CheckOriginalOrRepaired(state, db.original(), db.repaired()), "")
        << "after a kill at " << delay << " us";
    EXPECT_EQ(OtherFiles(dir), others);
    if (state != db.original() && state != db.repaired()) ++partial;

    // A second whole run finishes the repair, and /A then finds nothing for
    // /F to do.
    ProcessResult again = RunProcess({SCRUTOR_BIN, "*", "/A", "/F"}, dir, "", true);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    ASSERT_EQ(ReadAttrib(dir, &state), "");
    EXPECT_EQ(state, db.repaired());
    ProcessResult check = RunProcess({SCRUTOR_BIN, "*", "/A"}, dir, "", true);
    EXPECT_EQ(check.exitCode, 0);
    for (const std::string& line : Lines(check.out)) {
      EXPECT_FALSE(IsRepairableDifference(line)) << line;
    }
    std::filesystem::remove_all(dir);
  }
  std::printf("kills inside the repair: %d of %d rounds\n", partial, kRounds);
  // Some kills must have landed inside the repair, or the test proved nothing.
  EXPECT_GT(partial, 0) << "no kill interrupted the repair (a whole run takes " << micros
                        << " us)";
}

}  // namespace
}  // namespace reliability
