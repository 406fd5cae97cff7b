// Key input on Windows. A console is read with _kbhit and _getch, which
// take single keys at once and without echo; a pipe or a file on standard
// input follows the same rule as elsewhere: a waiting byte is a key, the
// end of input is none. Nothing here ever waits.
#include <windows.h>
#include <conio.h>

#include "driver/console.h"

namespace {

enum class Input { kUnknown, kConsole, kPipe, kFile, kNone };

Input inputKind = Input::kUnknown;

Input ClassifyInput() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return Input::kNone;
  DWORD mode;
  if (GetConsoleMode(in, &mode)) return Input::kConsole;
  switch (GetFileType(in)) {
    case FILE_TYPE_PIPE: return Input::kPipe;
    case FILE_TYPE_DISK: return Input::kFile;
    // Other character devices (NUL, a serial line) could block: no keys.
    default: return Input::kNone;
  }
}

Input CurrentInput() {
  if (inputKind == Input::kUnknown) inputKind = ClassifyInput();
  return inputKind;
}

// Reads one byte from standard input; -1 at the end of input or on error.
int ReadByte() {
  unsigned char c;
  DWORD got = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) || got != 1) return -1;
  return c;
}

int PollConsole() {
  if (!_kbhit()) return -1;
  int c = _getch();
  // Function and arrow keys come as 0 or 0xE0 and a second code: one key,
  // and not Escape.
  if (c == 0 || c == 0xE0) {
    _getch();
    return 0;
  }
  return c;
}

int PollPipe() {
  DWORD available = 0;
  // Fails once the writer has closed the pipe: the end of input, no key.
  if (!PeekNamedPipe(GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &available, nullptr))
    return -1;
  if (available == 0) return -1;
  return ReadByte();
}

}  // namespace

void ConsoleBegin() { CurrentInput(); }

// A console needs no mode change: _getch neither echoes nor waits for a line.
void ConsoleEnd() {}

int ConsolePollKey() {
  switch (CurrentInput()) {
    case Input::kConsole: return PollConsole();
    case Input::kPipe: return PollPipe();
    case Input::kFile: return ReadByte();
    default: return -1;
  }
}
