// Captures, in-process, what is written to standard output and standard error
// (file descriptors 1 and 2, stdio included) while the object is capturing.
#pragma once

#include <string>

class OutputCapture {
 public:
  OutputCapture();  // starts capturing at once
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // Stops capturing (once) and keeps what was written.
  void Finish();
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  struct Stream {
    int fd = -1;
    int saved = -1;
    int file = -1;
  };
  static void Begin(Stream& s, int fd);
  static std::string End(Stream& s);

  Stream stdout_, stderr_;
  bool capturing_ = false;
  std::string out_, err_;
};

// Replaces standard input (file descriptor 0) for the object's lifetime: with
// the given bytes through a pipe whose writer is then closed, or /dev/null.
class StdinReplacement {
 public:
  explicit StdinReplacement(const std::string& bytes);
  static StdinReplacement DevNull();
  ~StdinReplacement();
  StdinReplacement(StdinReplacement&& other) noexcept;
  StdinReplacement(const StdinReplacement&) = delete;
  StdinReplacement& operator=(const StdinReplacement&) = delete;

 private:
  StdinReplacement() = default;
  int saved_ = -1;
};
