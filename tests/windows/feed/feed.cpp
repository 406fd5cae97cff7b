// feed.exe HOLD|CLOSE TEXT PROGRAM [ARGS...]
// Runs PROGRAM with a Windows pipe on its standard input, writes TEXT into
// it (\e is Escape, \\ a backslash) and then closes the pipe (CLOSE) or
// keeps it open and silent until the program ends (HOLD). Exits with the
// program's exit code, or 125 when it cannot run it. Tests use it because
// a Linux pipe handed to a program under wine is not a Windows pipe.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Unescape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '\\' && p[1] == 'e') {
      out += '\x1b';
      ++p;
    } else if (*p == '\\' && p[1] == '\\') {
      out += '\\';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// Quotes one argument for the child's command line: the arguments used by
// the tests hold no double quotes, so quoting blanks is enough.
std::string Quote(const char* arg) {
  if (*arg != '\0' && std::strpbrk(arg, " \t") == nullptr) return arg;
  return std::string("\"") + arg + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[1], "HOLD") != 0 && std::strcmp(argv[1], "CLOSE") != 0)) {
    std::fprintf(stderr, "usage: feed HOLD|CLOSE TEXT PROGRAM [ARGS...]\n");
    return 125;
  }
  bool hold = std::strcmp(argv[1], "HOLD") == 0;
  std::string text = Unescape(argv[2]);
  std::string command;
  for (int i = 3; i < argc; ++i) {
    if (i > 3) command += ' ';
    command += Quote(argv[i]);
  }

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 125;
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  // The bytes are in the pipe before the program starts, as typed-ahead keys.
  DWORD put = 0;
  if (!text.empty() && !WriteFile(writeEnd, text.data(), static_cast<DWORD>(text.size()), &put, nullptr))
    return 125;
  if (!hold) CloseHandle(writeEnd);

  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = readEnd;
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string line = command;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "feed: cannot run %s (error %lu)\n", argv[3], GetLastError());
    return 125;
  }
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 125;
  GetExitCodeProcess(pi.hProcess, &code);
  if (hold) CloseHandle(writeEnd);
  return static_cast<int>(code);
}
