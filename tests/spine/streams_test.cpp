// Standard output redirected to a file is buffered in full (no write per
// line); when standard error reaches the same file, each error line brings
// the pending report lines first.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "driver/output.h"
#include "driver/output_internal.h"
#include "run_process.h"

namespace {

off_t SizeOf(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? st.st_size : -1;
}

// Runs body in a child with standard output (and, when shared, standard
// error) on the file; the child's exit code is body's result.
int InChild(const std::string& path, bool shared, int (*body)()) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    // A fresh stream, as at program start, so the buffer can be chosen.
    if (freopen(path.c_str(), "w", stdout) == nullptr) _exit(99);
    if (shared) dup2(STDOUT_FILENO, STDERR_FILENO);
    PrepareStandardStreams();
    int code = body();
    fflush(stdout);
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardStreams, RedirectedOutputIsNotWrittenPerLine) {
  TempDir dir;
  std::string path = dir.path() + "/out.txt";
  int code = InChild(path, false, [] {
    for (int i = 0; i < 200; i++) PrintToStdout("Working On Table T%05d...\n", i);
    return SizeOf(STDOUT_FILENO) == 0 ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  std::string out = ReadFileBytes(path);
  EXPECT_EQ(out.size(), 200u * 27u);
}

TEST(StandardStreams, ErrorLinesKeepOrderInSharedFile) {
  TempDir dir;
  std::string path = dir.path() + "/out.txt";
  int code = InChild(path, true, [] {
    PrintToStdout("report 1\n");
    AdvanceSpinner();  // the spinner does not flush the report
    if (SizeOf(STDOUT_FILENO) != 2) return 1;
    PrintToStream(stderr, "Btrieve Error %d: Operation=%d, File=%s\n", 2, 5, "INDEX.DDF");
    PrintToStdout("report 2\n");
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFileBytes(path),
            "-\breport 1\nBtrieve Error 2: Operation=5, File=INDEX.DDF\nreport 2\n");
}

}  // namespace
