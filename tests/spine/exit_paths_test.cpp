// Every way out of a run restores a terminal on standard input and flushes
// buffered output: the normal return, the record manager's fatal status,
// and the interrupt and termination signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>

#include "driver/console.h"
#include "driver/signals.h"
#include "fake_database.h"
#include "run_process.h"
#include "spine_reset.h"

namespace {

constexpr tcflag_t kModes = ICANON | ECHO;

// A pseudo-terminal whose slave side stands in for the console.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
  }
  ~PseudoTerminal() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return slave_ >= 0; }
  int slave() const { return slave_; }
  tcflag_t Modes() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t.c_lflag & kModes;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

// Runs body in a child whose standard input is the terminal and whose
// standard output is a fully buffered file; returns the wait status.
int RunChild(int terminal, const std::string& outPath, const std::function<void()>& body) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(terminal, STDIN_FILENO);
    // A fresh stream, as at program start, so the buffer can be chosen.
    if (freopen(outPath.c_str(), "w", stdout) == nullptr) _exit(99);
    static char buffer[8192];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    body();
    _exit(100);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

char* argvAll[] = {const_cast<char*>("scrutor"), const_cast<char*>("*"), nullptr};

tcflag_t modesDuringRun = kModes;

void NoteModes(uint32_t operation, int) {
  if (operation != OP_GET_FIRST) return;
  termios t{};
  tcgetattr(STDIN_FILENO, &t);
  modesDuringRun = t.c_lflag & kModes;
}

class ExitPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    ASSERT_EQ(terminal.Modes(), kModes);
  }
  PseudoTerminal terminal;
  TempDir dir;
  std::string outPath = dir.path() + "/out.txt";
};

TEST_F(ExitPathsTest, TerminalIsRawDuringRunAndRestoredOnReturn) {
  int status = RunChild(terminal.slave(), outPath, [] {
    ResetSpineState();
    FakeDatabase db;
    db.onCall = NoteModes;
    int code = ScrutorMain(2, argvAll);
    fflush(stdout);
    // _exit: no exit hook may do the restoring on this path.
    _exit(code == 0 && modesDuringRun == 0 ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(terminal.Modes(), kModes);
  EXPECT_EQ(ReadFileBytes(outPath), "Done.\n");
}

TEST_F(ExitPathsTest, NotLoadedExitRestoresTerminal) {
  int status = RunChild(terminal.slave(), outPath, [] {
    ResetSpineState();
    FakeDatabase db;
    db.onCall = NoteModes;
    db.openStatus["FILE.DDF"] = 20;
    PrintToStdout("buffered before the end");
    ScrutorMain(2, argvAll);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(terminal.Modes(), kModes);
  EXPECT_EQ(ReadFileBytes(outPath), "buffered before the end");
}

// Raised while the first table's data file is being opened.
void RaiseTerm(uint32_t operation, int slot) {
  if (operation == OP_OPEN && slot == SLOT_DATA) raise(SIGTERM);
}

void RaiseIntTwice(uint32_t operation, int) {
  if (operation != OP_GET_FIRST) return;
  raise(SIGINT);
  raise(SIGINT);
}

char* argvTraced[] = {const_cast<char*>("scrutor"), const_cast<char*>("*"),
                      const_cast<char*>("/T"), const_cast<char*>("/D"), nullptr};

TEST_F(ExitPathsTest, SignalStopsWalkBetweenTablesThenEndsBySignal) {
  int status = RunChild(terminal.slave(), outPath, [] {
    ResetSpineState();
    InstallSignalHandlers();
    FakeDatabase db;
    db.tables = {"Orders", "Lines"};
    db.onCall = RaiseTerm;
    ScrutorMain(4, argvTraced);
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(terminal.Modes(), kModes);
  // The table under way is finished, the next one is not started, the
  // dictionaries are closed and the record manager reset, and everything
  // written reached the file.
  std::string out = ReadFileBytes(outPath);
  EXPECT_NE(out.find("Working On Table Orders...\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Lines"), std::string::npos) << out;
  EXPECT_EQ(out.find("Done."), std::string::npos) << out;
  EXPECT_EQ(out.find("Op: 6,"), std::string::npos) << out;  // no Get Next
  EXPECT_NE(out.find("Op: 1, Buflen: 2053, KeyNum: 0 Status: 0\n"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("Op: 28, Buflen: 97, KeyNum: 0 Status: 0\n")) << out;
}

TEST_F(ExitPathsTest, SecondSignalEndsAtOnce) {
  int status = RunChild(terminal.slave(), outPath, [] {
    ResetSpineState();
    InstallSignalHandlers();
    FakeDatabase db;
    db.onCall = RaiseIntTwice;
    ScrutorMain(2, argvAll);
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(terminal.Modes(), kModes);
  EXPECT_EQ(ReadFileBytes(outPath), "");
}

}  // namespace
