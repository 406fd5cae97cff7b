// SIGINT and SIGTERM during a repair, with the program on a terminal: the
// process ends by that signal (status 128 + signal in a shell), the terminal
// gets back the modes it had, and every file is sound: ATTRIB.DDF holds each
// record either as it was or completely repaired, the other files are
// untouched.
#include <gtest/gtest.h>
#include <pty.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "repair_db.h"
#include "run_process.h"

namespace reliability {
namespace {

constexpr int kTables = 80;
const int kRounds = Rounds(8);

struct Outcome {
  int waitStatus = 0;
  termios before{}, after{};
  bool sawRawMode = false;
};

// Runs scrutor "*" /A /F in dir on a new pseudo-terminal, sends sig (twice
// when twice is set) delayMicros after the program has switched the terminal
// to key-at-a-time input, and waits for it to end.
Outcome RunOnTerminal(const std::string& dir, int sig, long delayMicros, bool twice) {
  Outcome o;
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed";
    return o;
  }
  tcgetattr(slave, &o.before);
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    close(master);
    close(slave);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execl(SCRUTOR_BIN, SCRUTOR_BIN, "*", "/A", "/F", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Drains the terminal so that the program never blocks on its output.
  std::atomic<bool> done{false};
  std::thread drain([&] {
    char buf[4096];
    while (!done) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 5) == 1 && read(master, buf, sizeof buf) <= 0) break;
    }
  });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < limit) {
    termios now{};
    tcgetattr(slave, &now);
    if ((now.c_lflag & ICANON) == 0) {
      o.sawRawMode = true;
      break;
    }
    if (waitpid(pid, &o.waitStatus, WNOHANG) == pid) {
      pid = -1;
      break;
    }
    usleep(100);
  }
  if (pid > 0) {
    usleep(static_cast<useconds_t>(delayMicros));
    kill(pid, sig);
    if (twice) kill(pid, sig);
    waitpid(pid, &o.waitStatus, 0);
  }
  done = true;
  drain.join();
  tcgetattr(slave, &o.after);
  close(master);
  close(slave);
  return o;
}

TEST(Signals, InterruptOrTerminateRestoresTerminalAndLeavesFilesSound) {
  RepairDatabase db(kTables);
  ASSERT_TRUE(db.ok()) << db.error();
  TempDir work;
  const auto others = OtherFiles(db.templateDir());

  // The length of a whole repair sets the range of the signal moments.
  const std::string reference = work.path() + "/reference";
  ProcessResult whole;
  const long micros = TimeWholeRepair(db, reference, &whole);
  ASSERT_EQ(whole.exitCode, 0);

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<long> moment(0, micros / 2);
  int interrupted = 0;
  for (int sig : {SIGINT, SIGTERM}) {
    for (int round = 0; round < kRounds; ++round) {
      SCOPED_TRACE("signal " + std::to_string(sig) + ", round " + std::to_string(round));
      const std::string dir = work.path() + "/s" + std::to_string(sig) + "-" + std::to_string(round);
      db.CopyTo(dir);
      const Outcome o = RunOnTerminal(dir, sig, moment(rng), round % 4 == 3);

      if (WIFSIGNALED(o.waitStatus)) {
        EXPECT_EQ(WTERMSIG(o.waitStatus), sig);
        ++interrupted;
      } else {
        // The signal came after the run had ended.
        EXPECT_TRUE(WIFEXITED(o.waitStatus) && WEXITSTATUS(o.waitStatus) == 0) << o.waitStatus;
      }
      EXPECT_TRUE(o.sawRawMode);
      EXPECT_EQ(o.after.c_lflag & (ICANON | ECHO), o.before.c_lflag & (ICANON | ECHO));
      EXPECT_EQ(o.after.c_cc[VMIN], o.before.c_cc[VMIN]);

      AttribState state;
      ASSERT_EQ(ReadAttrib(dir, &state), "");
      EXPECT_EQ(CheckOriginalOrRepaired(state, db.original(), db.repaired()), "");
      EXPECT_EQ(OtherFiles(dir), others);
      std::filesystem::remove_all(dir);
    }
  }
  std::printf("runs ended by the signal: %d of %d\n", interrupted, 2 * kRounds);
  EXPECT_GT(interrupted, 0);
}

}  // namespace
}  // namespace reliability
