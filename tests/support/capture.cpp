#include "capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

OutputCapture::OutputCapture() {
  fflush(stdout);
  fflush(stderr);
  Begin(stdout_, STDOUT_FILENO);
  Begin(stderr_, STDERR_FILENO);
  capturing_ = true;
}

OutputCapture::~OutputCapture() { Finish(); }

void OutputCapture::Begin(Stream& s, int fd) {
  char name[] = "/tmp/scrutor-capture-XXXXXX";
  s.file = mkstemp(name);
  if (s.file < 0) throw std::runtime_error("mkstemp failed");
  unlink(name);
  s.fd = fd;
  s.saved = dup(fd);
  dup2(s.file, fd);
}

std::string OutputCapture::End(Stream& s) {
  dup2(s.saved, s.fd);
  close(s.saved);
  std::string text;
  char buf[4096];
  lseek(s.file, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(s.file, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(s.file);
  return text;
}

void OutputCapture::Finish() {
  if (!capturing_) return;
  fflush(stdout);
  fflush(stderr);
  out_ = End(stdout_);
  err_ = End(stderr_);
  capturing_ = false;
}

StdinReplacement::StdinReplacement(const std::string& bytes) {
  int p[2];
  if (pipe(p) != 0) throw std::runtime_error("pipe failed");
  // Small inputs only: the pipe must hold them before anyone reads.
  if (write(p[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("pipe write failed");
  close(p[1]);
  saved_ = dup(STDIN_FILENO);
  dup2(p[0], STDIN_FILENO);
  close(p[0]);
}

StdinReplacement StdinReplacement::DevNull() {
  StdinReplacement r;
  int fd = open("/dev/null", O_RDONLY);
  r.saved_ = dup(STDIN_FILENO);
  dup2(fd, STDIN_FILENO);
  close(fd);
  return r;
}

StdinReplacement::StdinReplacement(StdinReplacement&& other) noexcept : saved_(other.saved_) {
  other.saved_ = -1;
}

StdinReplacement::~StdinReplacement() {
  if (saved_ < 0) return;
  dup2(saved_, STDIN_FILENO);
  close(saved_);
}
