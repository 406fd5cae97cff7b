// Standard-stream setup on Windows: a static output buffer (no heap), an
// unbuffered standard error, and the C runtime's text mode, as Windows
// console programs write. The runtime has no line buffering, so a console
// gets each write at once instead.
#include <windows.h>

#include <cstdio>

#include "driver/output_internal.h"

namespace {
char stdoutBuffer[1 << 16];

bool IsConsole(HANDLE h) {
  DWORD mode;
  return GetConsoleMode(h, &mode) != 0;
}

// Whether two handles reach the same file. Disk files are compared by
// volume and file index. Pipes cannot be told apart on every Windows
// version, so two pipes count as one: that costs only an early flush of
// the report before an error line, never the order of the lines.
bool SameFile(HANDLE a, HANDLE b) {
  if (a == b) return true;
  DWORD ta = GetFileType(a), tb = GetFileType(b);
  if (ta != tb) return false;
  if (ta == FILE_TYPE_PIPE) return true;
  if (ta != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!GetFileInformationByHandle(a, &ia) || !GetFileInformationByHandle(b, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}
}  // namespace

void PrepareStandardStreams() {
  // The C runtime gives standard error a buffer of its own once it is
  // redirected; unbuffered, the spinner and error lines go out when written.
  setvbuf(stderr, nullptr, _IONBF, 0);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  bool console = IsConsole(out);
  if (console) {
    setvbuf(stdout, nullptr, _IONBF, 0);
  } else {
    setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
  }
  StdoutSharesStderr = !console && out != nullptr && out != INVALID_HANDLE_VALUE &&
                       err != nullptr && err != INVALID_HANDLE_VALUE && SameFile(out, err);
}
