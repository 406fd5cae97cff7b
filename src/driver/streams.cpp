// Standard-stream setup: a static output buffer (no heap), full buffering
// unless standard output is a terminal.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "driver/output_internal.h"

namespace {
char stdoutBuffer[1 << 16];

bool SameFile(int a, int b) {
  struct stat sa, sb;
  if (fstat(a, &sa) != 0 || fstat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
}  // namespace

void PrepareStandardStreams() {
  bool terminal = isatty(STDOUT_FILENO) != 0;
  setvbuf(stdout, stdoutBuffer, terminal ? _IOLBF : _IOFBF, sizeof stdoutBuffer);
  StdoutSharesStderr = !terminal && SameFile(STDOUT_FILENO, STDERR_FILENO);
}
