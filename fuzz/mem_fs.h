// An in-memory file system for the engine's fuzz target: every file lives in
// a string, locks always succeed, randomness is fixed. Files are known by
// the last component of their path, so the engine's path handling does not
// matter to the harness.
#pragma once

#include <cstring>
#include <map>
#include <string>

#include "engine/fs.h"

namespace fuzz {

class MemFs : public engine::FileSystem {
 public:
  std::map<std::string, std::string> files;

  static std::string Base(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }

  int Open(const std::string& path, engine::OpenMode mode) override {
    std::string name = Base(path);
    if (name.empty()) return engine::kFsBadName;
    auto it = files.find(name);
    if (mode == engine::OpenMode::kCreateNew) {
      if (it != files.end()) return engine::kFsExists;
      files[name];
    } else if (it == files.end()) {
      return engine::kFsNotFound;
    }
    int fd = nextFd_++;
    open_[fd] = name;
    return fd;
  }
  int Close(int fd) override { return open_.erase(fd) ? 0 : engine::kFsIo; }
  long long Read(int fd, uint64_t offset, void* buffer, size_t size) override {
    std::string* f = File(fd);
    if (f == nullptr) return engine::kFsIo;
    if (offset >= f->size()) return 0;
    size_t n = f->size() - offset < size ? static_cast<size_t>(f->size() - offset) : size;
    std::memcpy(buffer, f->data() + offset, n);
    return static_cast<long long>(n);
  }
  int Write(int fd, uint64_t offset, const void* buffer, size_t size) override {
    std::string* f = File(fd);
    if (f == nullptr) return engine::kFsIo;
    // Keeps a hostile length from asking for gigabytes of memory.
    if (offset + size > (64u << 20)) return engine::kFsNoSpace;
    if (f->size() < offset + size) f->resize(offset + size);
    std::memcpy(f->data() + offset, buffer, size);
    return 0;
  }
  int Sync(int fd) override { return File(fd) ? 0 : engine::kFsIo; }
  long long Size(int fd) override {
    std::string* f = File(fd);
    return f ? static_cast<long long>(f->size()) : engine::kFsIo;
  }
  int Truncate(int fd, uint64_t size) override {
    std::string* f = File(fd);
    if (f == nullptr || size > (64u << 20)) return engine::kFsIo;
    f->resize(size);
    return 0;
  }
  int Lock(int fd, uint64_t, engine::LockKind) override { return File(fd) ? 0 : engine::kFsIo; }
  int LinkNoReplace(const std::string& from, const std::string& to) override {
    auto it = files.find(Base(from));
    if (it == files.end()) return engine::kFsNotFound;
    if (files.count(Base(to))) return engine::kFsExists;
    files[Base(to)] = it->second;
    return 0;
  }
  int Unlink(const std::string& path) override {
    return files.erase(Base(path)) ? 0 : engine::kFsNotFound;
  }
  int SyncDirectoryOf(const std::string&) override { return 0; }
  bool IsDirectory(const std::string& path) override { return Base(path) == "DIR"; }
  void Random(uint8_t* out, size_t size) override {
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 37 + 11);
  }
  void Pause(int) override {}

 private:
  std::string* File(int fd) {
    auto it = open_.find(fd);
    if (it == open_.end()) return nullptr;
    auto f = files.find(it->second);
    return f == files.end() ? nullptr : &f->second;
  }
  int nextFd_ = 3;
  std::map<int, std::string> open_;
};

}  // namespace fuzz
