#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

ProcessResult Run(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::string& stdinData, bool stdinFromDevNull, bool mergeStderr) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
    throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (stdinFromDevNull) {
      int fd = open("/dev/null", O_RDONLY);
      dup2(fd, 0);
      close(fd);
    } else {
      dup2(inPipe[0], 0);
    }
    dup2(outPipe[1], 1);
    dup2(mergeStderr ? outPipe[1] : errPipe[1], 2);
    close(inPipe[0]); close(inPipe[1]);
    close(outPipe[0]); close(outPipe[1]);
    close(errPipe[0]); close(errPipe[1]);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  if (stdinFromDevNull || stdinData.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  }
  ProcessResult result;
  pollfd fds[3];
  bool outOpen = true, errOpen = true;
  char buf[65536];
  while (outOpen || errOpen || inPipe[1] >= 0) {
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (outOpen) { fds[n] = {outPipe[0], POLLIN, 0}; outIdx = n++; }
    if (errOpen) { fds[n] = {errPipe[0], POLLIN, 0}; errIdx = n++; }
    if (inPipe[1] >= 0) { fds[n] = {inPipe[1], POLLOUT, 0}; inIdx = n++; }
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (outIdx >= 0 && fds[outIdx].revents) {
      ssize_t r = read(outPipe[0], buf, sizeof buf);
      if (r > 0) result.out.append(buf, r); else outOpen = false;
    }
    if (errIdx >= 0 && fds[errIdx].revents) {
      ssize_t r = read(errPipe[0], buf, sizeof buf);
      if (r > 0) result.err.append(buf, r); else errOpen = false;
    }
    if (inIdx >= 0 && fds[inIdx].revents) {
      ssize_t w = write(inPipe[1], stdinData.data() + written, stdinData.size() - written);
      if (w > 0) written += w;
      if (w <= 0 || written == stdinData.size()) { close(inPipe[1]); inPipe[1] = -1; }
    }
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::string& stdinData, bool stdinFromDevNull) {
  return Run(argv, cwd, stdinData, stdinFromDevNull, false);
}

ProcessResult RunProcessMerged(const std::vector<std::string>& argv, const std::string& cwd,
                               const std::string& stdinData, bool stdinFromDevNull) {
  return Run(argv, cwd, stdinData, stdinFromDevNull, true);
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "scrutor-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
