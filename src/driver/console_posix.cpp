// Key input on POSIX systems. A terminal is put into non-canonical, no-echo
// mode so that single keys arrive at once and are not shown; any other
// standard input (a pipe, a file, /dev/null) is polled as it is.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "driver/console.h"

namespace {

constexpr unsigned char kEscapeByte = 27;

termios savedTerminal;
volatile sig_atomic_t terminalChanged = 0;
bool exitHookInstalled = false;
// Set once standard input has reached its end: nothing can arrive after
// that, so the poll stops asking (two system calls a table saved).
bool inputEnded = false;

void RestoreAtExit() { ConsoleEnd(); }

}  // namespace

void ConsoleBegin() {
  if (terminalChanged || isatty(STDIN_FILENO) == 0) return;
  if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
  termios raw = savedTerminal;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
  terminalChanged = 1;
  // Covers every way out through exit(), the record manager's fatal status
  // included.
  if (!exitHookInstalled) {
    exitHookInstalled = true;
    atexit(RestoreAtExit);
  }
}

void ConsoleEnd() {
  if (!terminalChanged) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  terminalChanged = 0;
}

namespace {

bool ByteWaiting() {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLIN | POLLHUP)) != 0;
}

}  // namespace

int ConsolePollKey() {
  if (inputEnded || !ByteWaiting()) return -1;
  unsigned char c;
  // End of input, an error or a closed descriptor is no key.
  ssize_t n = read(STDIN_FILENO, &c, 1);
  if (n == 0) inputEnded = true;
  if (n != 1) return -1;
  if (c == kEscapeByte && terminalChanged) {
    // A terminal sends keys such as the arrows as an escape byte followed at
    // once by more bytes. Such a sequence is one key, and not Escape.
    bool sequence = false;
    unsigned char rest[16];
    while (ByteWaiting() && read(STDIN_FILENO, rest, sizeof rest) > 0) sequence = true;
    if (sequence) return 0;
  }
  return c;
}
