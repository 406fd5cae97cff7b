// The key poll on whatever standard input is: it never waits, and only a
// byte actually read is a key.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "capture.h"
#include "driver/console.h"

namespace {

TEST(ConsolePollKey, PipeDeliversBytesThenNoKey) {
  StdinReplacement input(std::string("\x1b" "a", 2));
  EXPECT_EQ(ConsolePollKey(), 27);
  EXPECT_EQ(ConsolePollKey(), 'a');
  EXPECT_EQ(ConsolePollKey(), -1);  // end of input
  EXPECT_EQ(ConsolePollKey(), -1);
}

TEST(ConsolePollKey, DevNullIsNeverAKey) {
  StdinReplacement input = StdinReplacement::DevNull();
  for (int i = 0; i < 3; i++) EXPECT_EQ(ConsolePollKey(), -1);
}

TEST(ConsolePollKey, ClosedDescriptorIsNoKey) {
  StdinReplacement input = StdinReplacement::DevNull();
  close(STDIN_FILENO);
  EXPECT_EQ(ConsolePollKey(), -1);
}

TEST(ConsolePollKey, EmptyOpenPipeDoesNotWait) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  int saved = dup(STDIN_FILENO);
  dup2(p[0], STDIN_FILENO);
  auto start = std::chrono::steady_clock::now();
  int key = ConsolePollKey();
  auto elapsed = std::chrono::steady_clock::now() - start;
  dup2(saved, STDIN_FILENO);
  close(saved);
  close(p[0]);
  close(p[1]);
  EXPECT_EQ(key, -1);
  EXPECT_LT(elapsed, std::chrono::seconds(1));
}

// On a terminal, Escape alone stops the run; the escape sequence of a key
// such as an arrow arrives as one burst and is one ordinary key.
TEST(ConsolePollKey, TerminalEscapeSequenceIsNotEscape) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pty";
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  int saved = dup(STDIN_FILENO);
  dup2(slave, STDIN_FILENO);
  ConsoleBegin();

  auto typed = [&](const std::string& bytes) {
    EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    pollfd p{STDIN_FILENO, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 2000), 1);  // the terminal delivers asynchronously
    // Let the whole burst arrive before the poll looks at it.
    usleep(20000);
    return ConsolePollKey();
  };
  int arrow = typed("\x1b[A");
  int afterArrow = ConsolePollKey();
  int escape = typed("\x1b");
  int plain = typed("q");

  ConsoleEnd();
  dup2(saved, STDIN_FILENO);
  close(saved);
  close(slave);
  close(master);
  EXPECT_NE(arrow, 27);
  EXPECT_NE(arrow, -1);
  EXPECT_EQ(afterArrow, -1);  // the rest of the sequence was consumed with it
  EXPECT_EQ(escape, 27);
  EXPECT_EQ(plain, 'q');
}

}  // namespace
