// Runs a program as a child process and captures what it writes.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  int exitCode = -1;    // exit status, or -1 when killed by a signal
  int signal = 0;       // the signal that ended it, if any
  std::string out;      // standard output
  std::string err;      // standard error
};

// argv[0] is the program's path. cwd may be empty (inherit). stdinData is fed
// through a pipe and then closed; with stdinFromDevNull it is /dev/null instead.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd = "",
                         const std::string& stdinData = "", bool stdinFromDevNull = false);

// The same with standard error sent into standard output's pipe: result.out
// holds both streams in the order the program wrote them; result.err is empty.
ProcessResult RunProcessMerged(const std::vector<std::string>& argv, const std::string& cwd = "",
                               const std::string& stdinData = "", bool stdinFromDevNull = false);

// A fresh, empty temporary directory, removed with its content by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
