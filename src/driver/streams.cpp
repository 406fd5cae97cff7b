// Standard-stream setup: every standard descriptor taken, SIGPIPE ignored,
// static output buffers (no heap), full buffering unless standard output is a
// terminal, line buffering for standard error.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "driver/output_internal.h"

namespace {
char stdoutBuffer[1 << 16];
char stderrBuffer[1 << 12];

bool SameFile(int a, int b) {
  struct stat sa, sb;
  if (fstat(a, &sa) != 0 || fstat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A standard descriptor closed at start would be handed to the first file the
// record manager opens, and the report or the spinner would then be written
// into a dictionary. /dev/null takes every free one of 0, 1 and 2 first.
void TakeClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int opened = open("/dev/null", O_RDWR);
    if (opened < 0) return;
    if (opened != fd) {  // a lower one was taken meanwhile; place it exactly
      dup2(opened, fd);
      close(opened);
    }
  }
}
}  // namespace

void PrepareStandardStreams() {
  TakeClosedStandardDescriptors();
  // A reader of the report that goes away must not end a repair half-way:
  // the failed write is ignored like any other write error.
  signal(SIGPIPE, SIG_IGN);
  bool terminal = isatty(STDOUT_FILENO) != 0;
  setvbuf(stdout, stdoutBuffer, terminal ? _IOLBF : _IOFBF, sizeof stdoutBuffer);
  StdoutSharesStderr = !terminal && SameFile(STDOUT_FILENO, STDERR_FILENO);
  StdoutIsTerminal = terminal;
  // Standard error gets whole lines: the spinner's characters then cost one
  // write per line or per interval (see AdvanceSpinner), not one each. Lines
  // keep their order: an error line flushes the report first when both
  // reach one file, and a report line on a terminal flushes the spinner.
  setvbuf(stderr, stderrBuffer, _IOLBF, sizeof stderrBuffer);
}
