// A file system for the engine's tests, wrapped around the real one: it
// counts calls and bytes read, fails a chosen write or sync, can "die" at a
// chosen call (every later change fails without reaching the disk), and can
// simulate a power cut by undoing the writes that were never synced.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/fs.h"

namespace enginetest {

class FaultFs : public engine::FileSystem {
 public:
  FaultFs();
  ~FaultFs() override;  // restores the default file system

  // Changing calls (Write, Sync, Truncate) counted from 0 since the last Reset.
  int changeCalls = 0;
  // Fail exactly the changing call with this number (-1: none) with failError.
  int failAt = -1;
  int failError = engine::kFsIo;
  // From this changing call on, every change fails and never reaches the
  // disk, as if the process had died there (-1: never).
  int dieAt = -1;
  bool dead = false;
  // Called at the start of every changing call with its number.
  std::function<void(int)> onChange;
  // Fail every folder sync.
  bool failDirectorySync = false;
  // Lock always answers busy.
  bool locksBusy = false;
  // Whether Sync reaches the disk. Power cuts are simulated, so the tests
  // need only the bookkeeping, and skipping the real fsync keeps them fast.
  bool realSync = false;
  // Bytes and calls of Read.
  uint64_t bytesRead = 0;
  int readCalls = 0;

  void ResetCounters();

  // Undoes every write not followed by a sync of its file. With rng, each
  // unsynced write is instead kept, dropped, or torn at a random byte, in
  // random combination, as a disk with a volatile cache may do.
  void PowerCut(std::mt19937* rng = nullptr);

  int Open(const std::string& path, engine::OpenMode mode) override;
  int Close(int fd) override;
  long long Read(int fd, uint64_t offset, void* buffer, size_t size) override;
  int Write(int fd, uint64_t offset, const void* buffer, size_t size) override;
  int Sync(int fd) override;
  long long Size(int fd) override;
  int Truncate(int fd, uint64_t size) override;
  int Lock(int fd, uint64_t offset, engine::LockKind kind) override;
  int LinkNoReplace(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int SyncDirectoryOf(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  void Random(uint8_t* out, size_t size) override;
  void Pause(int microseconds) override;

 private:
  struct Unsynced {
    uint64_t offset;
    std::string before;   // the bytes the write replaced (within the old size)
    std::string written;  // the bytes it wrote
  };
  struct FileState {
    uint64_t syncedSize = 0;
    std::vector<Unsynced> writes;
  };
  int Change();  // 0, or the error for this changing call
  engine::FileSystem* base_;
  std::map<int, std::string> paths_;
  std::map<std::string, FileState> files_;
};

}  // namespace enginetest
