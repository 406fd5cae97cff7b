// Key input and Ctrl-C on a Windows console: the test gives itself a fresh
// console, types into its input buffer with WriteConsoleInput and raises
// Ctrl-C with GenerateConsoleCtrlEvent.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/console.h"
#include "driver/signals.h"

namespace {

// A console of this process's own, its input on standard input.
bool AttachFreshConsole() {
  FreeConsole();
  if (!AllocConsole()) return false;
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  SetStdHandle(STD_INPUT_HANDLE, in);
  return true;
}

// Types one key: a key-down and a key-up event.
void Type(WORD virtualKey, char character) {
  INPUT_RECORD records[2] = {};
  for (int i = 0; i < 2; ++i) {
    records[i].EventType = KEY_EVENT;
    KEY_EVENT_RECORD& k = records[i].Event.KeyEvent;
    k.bKeyDown = i == 0;
    k.wRepeatCount = 1;
    k.wVirtualKeyCode = virtualKey;
    k.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyA(virtualKey, 0));
    k.uChar.AsciiChar = character;
    k.dwControlKeyState = character == 0 ? ENHANCED_KEY : 0;
  }
  DWORD written = 0;
  WriteConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), records, 2, &written);
}

bool WaitForPendingSignal() {
  for (int i = 0; i < 300; ++i) {
    if (SignalPending()) return true;
    Sleep(10);
  }
  return false;
}

constexpr int kControlCExit = static_cast<int>(0xC000013A);

// Typed keys are read one per poll; a poll never waits. Skipped where the
// console takes no typed input (wine without a terminal).
TEST(ConsoleWin, KeysAreReadOneAtATimeWithoutWaiting) {
  ASSERT_TRUE(AttachFreshConsole());
  DWORD mode;
  INPUT_RECORD probe[1] = {};
  DWORD written = 0;
  probe[0].EventType = FOCUS_EVENT;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (!GetConsoleMode(in, &mode) || !WriteConsoleInputA(in, probe, 1, &written))
    GTEST_SKIP() << "this console takes no typed input";
  FlushConsoleInputBuffer(in);

  ConsoleBegin();
  EXPECT_EQ(ConsolePollKey(), -1);  // nothing typed: no key, and no wait
  struct Case {
    const char* what;
    WORD key;
    char character;
    int expected;
  } cases[] = {
      {"Escape", VK_ESCAPE, 27, 27},
      {"a letter", 'A', 'a', 'a'},
      {"an arrow key is one key, not Escape", VK_LEFT, 0, 0},
      {"a function key is one key, not Escape", VK_F1, 0, 0},
  };
  for (const Case& c : cases) {
    Type(c.key, c.character);
    EXPECT_EQ(ConsolePollKey(), c.expected) << c.what;
    EXPECT_EQ(ConsolePollKey(), -1) << "after " << c.what;
  }
  // Keys typed ahead wait for the polls that follow, in order.
  Type('X', 'x');
  Type(VK_ESCAPE, 27);
  EXPECT_EQ(ConsolePollKey(), 'x');
  EXPECT_EQ(ConsolePollKey(), 27);
  ConsoleEnd();
}

// The first Ctrl-C is only noted; the run then ends at its safe point with
// its report flushed and the exit code of an interrupted console program.
TEST(ConsoleWin, FirstCtrlCIsNotedAndEndsTheRunAtTheSafePoint) {
  const char* file = "ctrl_c_report.txt";
  std::remove(file);
  EXPECT_EXIT(
      {
        if (!AttachFreshConsole()) std::_Exit(3);
        InstallSignalHandlers();
        if (SignalPending()) std::_Exit(4);
        if (std::freopen(file, "w", stdout) == nullptr) std::_Exit(5);
        static char buffer[4096];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        std::fputs("report line\n", stdout);
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        if (!WaitForPendingSignal()) std::_Exit(6);
        ServicePendingSignal();
        std::_Exit(7);
      },
      ::testing::ExitedWithCode(kControlCExit), "");
  FILE* f = std::fopen(file, "r");
  ASSERT_NE(f, nullptr);
  char line[64] = {};
  EXPECT_NE(std::fgets(line, sizeof line, f), nullptr);
  std::fclose(f);
  EXPECT_EQ(std::string(line), "report line\n");
}

TEST(ConsoleWin, NoPendingSignalMeansServicingReturns) {
  EXPECT_EXIT(
      {
        if (!AttachFreshConsole()) std::_Exit(3);
        InstallSignalHandlers();
        ServicePendingSignal();
        std::_Exit(SignalPending() ? 4 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// A second Ctrl-C before the safe point ends the process at once.
TEST(ConsoleWin, SecondCtrlCEndsTheProcessAtOnce) {
  EXPECT_EXIT(
      {
        if (!AttachFreshConsole()) std::_Exit(3);
        InstallSignalHandlers();
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        if (!WaitForPendingSignal()) std::_Exit(6);
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        Sleep(3000);
        std::_Exit(7);
      },
      ::testing::ExitedWithCode(kControlCExit), "");
}

}  // namespace
