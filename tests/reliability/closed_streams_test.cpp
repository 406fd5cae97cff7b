// Started with standard input, output or error closed (as `scrutor ... >&-`
// or a careless parent does), the program must not take a dictionary or data
// file for one of its streams: the next file opened would otherwise get the
// free descriptor, and the spinner, the report or the key poll would use it.
#include <gtest/gtest.h>
#include <fcntl.h>
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

// FAULT (in the driver's start-up, not yet fixed): with a standard descriptor
// closed, the record manager's first Opens get descriptors 0 to 2, and the
// spinner (standard error) and the report (standard output) are written into
// FILE.DDF or FIELD.DDF at offset 0, destroying them; with standard input
// closed, the Escape poll reads bytes of a dictionary as keys. Fix: at the
// start of main(), open /dev/null until descriptors 0, 1 and 2 are all taken.
TEST(ClosedStandardStreams, DISABLED_NoFileIsWrittenThroughAClosedStream) {
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

}  // namespace
}  // namespace reliability
