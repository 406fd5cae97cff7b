// The key poll on whatever standard input is: it never waits, and only a
// byte actually read is a key.
#include <gtest/gtest.h>
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

}  // namespace
