// Standard streams that are closed at start or go away during the run: the
// program must not take a dictionary or data file for one of its streams,
// and must not leave a repair half-done because nobody reads its report.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "repair_db.h"
#include "run_process.h"

namespace reliability {
namespace {

// Runs scrutor in dir with the given descriptors closed and the others on
// /dev/null; returns the wait status.
int RunWithClosed(const std::string& dir, const std::vector<int>& closed,
                  const std::vector<std::string>& args) {
  std::vector<char*> argv = {const_cast<char*>(SCRUTOR_BIN)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    if (null > 2) close(null);
    for (int fd : closed) close(fd);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// With a standard descriptor closed, the record manager's first Opens would
// get descriptors 0 to 2, and the spinner (standard error) and the report
// (standard output) would be written into FILE.DDF or FIELD.DDF at offset 0;
// with standard input closed, the Escape poll would read a dictionary's bytes
// as keys. The driver takes every closed one with /dev/null at start.
TEST(ClosedStandardStreams, NoFileIsWrittenThroughAClosedStream) {
  RepairDatabase db(8);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  const auto others = OtherFiles(db.templateDir());
  const std::vector<std::vector<int>> cases = {{0}, {1}, {2}, {1, 2}, {0, 1, 2}};
  int round = 0;
  for (const auto& closed : cases) {
    std::string what;
    for (int fd : closed) what += std::to_string(fd) + " ";
    SCOPED_TRACE("closed: " + what);
    const std::string dir = work.path() + "/c" + std::to_string(round++);
    db.CopyTo(dir);
    const int status = RunWithClosed(dir, closed, {"*", "/A", "/F", "/D"});
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(OtherFiles(dir), others);
    AttribState state;
    ASSERT_EQ(ReadAttrib(dir, &state), "");
    EXPECT_EQ(state, db.repaired());
  }
}

// Standard output and error on a full disk: every write of the report fails
// and is ignored; the repair is finished all the same.
TEST(ClosedStandardStreams, FullDiskForTheReportDoesNotStopTheRepair) {
  RepairDatabase db(40);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  const std::string dir = work.path() + "/db";
  db.CopyTo(dir);
  pid_t pid = fork();
  if (pid == 0) {
    int full = open("/dev/full", O_WRONLY);
    int null = open("/dev/null", O_RDONLY);
    if (full < 0 || null < 0) _exit(126);
    dup2(null, 0);
    dup2(full, 1);
    dup2(full, 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execl(SCRUTOR_BIN, SCRUTOR_BIN, "*", "/A", "/F", "/D", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  AttribState state;
  ASSERT_EQ(ReadAttrib(dir, &state), "");
  EXPECT_EQ(state, db.repaired());
}

// When the reader of standard output goes away (`scrutor "*" /A /F | head`),
// the next flush of the report would raise SIGPIPE and end the process with
// the repair half-way. SIGPIPE is ignored, so the failed write is ignored like
// any other write error and the run finishes.
TEST(ClosedStandardStreams, ReaderGoneMidRunDoesNotStopTheRepair) {
  RepairDatabase db(80);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  const std::string dir = work.path() + "/db";
  db.CopyTo(dir);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(fds[1], 1);
    dup2(null, 2);
    close(fds[0]);
    close(fds[1]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    // As a shell starts it: the test process ignores SIGPIPE, and an ignored
    // signal stays ignored across exec.
    signal(SIGPIPE, SIG_DFL);
    // /D makes the report long enough to be flushed during the run.
    execl(SCRUTOR_BIN, SCRUTOR_BIN, "*", "/A", "/F", "/D", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The reader is gone before the first line.
  close(fds[0]);
  close(fds[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : "");
  AttribState state;
  ASSERT_EQ(ReadAttrib(dir, &state), "");
  EXPECT_EQ(state, db.repaired());
}

}  // namespace
}  // namespace reliability
