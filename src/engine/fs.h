// The engine's one way to the file system. Every OS call the engine makes
// goes through the current FileSystem, so tests can fail any call or drop
// unsynced bytes; a port to another OS replaces only this seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

// Results are 0 (or a byte count) on success, else one of these negatives.
enum FsError : int {
  kFsNotFound = -1,
  kFsAccess = -2,     // permission denied, read-only file system
  kFsIsDir = -3,
  kFsBadName = -4,    // too long, not a valid name
  kFsBusy = -5,       // a lock is held by someone else
  kFsNoSpace = -6,
  kFsIo = -7,         // any other failure
  kFsExists = -8,
};

enum class LockKind { kShared, kExclusive, kUnlock };

enum class OpenMode { kRead, kReadWrite, kCreateNew };

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Returns a descriptor (>= 0) or an FsError. kCreateNew fails with
  // kFsExists when the path exists.
  virtual int Open(const std::string& path, OpenMode mode) = 0;
  // Like Open, but without making sure that path names a regular file (a
  // system call less); the caller asks IsRegularFile when what it reads
  // there makes no sense. By default it is Open.
  virtual int OpenAnyKind(const std::string& path, OpenMode mode) { return Open(path, mode); }
  // Whether fd is a regular file (true when the system cannot tell).
  virtual bool IsRegularFile(int fd) {
    (void)fd;
    return true;
  }
  virtual int Close(int fd) = 0;
  // Reads up to size bytes at offset; returns the count read (short only at
  // the end of the file) or an FsError.
  virtual long long Read(int fd, uint64_t offset, void* buffer, size_t size) = 0;
  // Like Read, but may stop short of size before the end of the file (one
  // system call where Read would need a second to see the end). By default
  // it is Read.
  virtual long long ReadSome(int fd, uint64_t offset, void* buffer, size_t size) {
    return Read(fd, offset, buffer, size);
  }
  // Writes all size bytes at offset, or returns an FsError.
  virtual int Write(int fd, uint64_t offset, const void* buffer, size_t size) = 0;
  virtual int Sync(int fd) = 0;
  virtual long long Size(int fd) = 0;
  virtual int Truncate(int fd, uint64_t size) = 0;
  // Places or releases a lock on one byte; never waits (kFsBusy when held).
  // Locks belong to the descriptor, so two opens in one process exclude
  // each other like two processes do.
  virtual int Lock(int fd, uint64_t offset, LockKind kind) = 0;
  // Links an existing file to a new name that must not exist (kFsExists).
  virtual int LinkNoReplace(const std::string& from, const std::string& to) = 0;
  virtual int Unlink(const std::string& path) = 0;
  // Makes the directory entries of the directory holding path durable.
  virtual int SyncDirectoryOf(const std::string& path) = 0;
  // Whether path names a directory (false when it does not exist).
  virtual bool IsDirectory(const std::string& path) = 0;
  // Random bytes for salts and secrets.
  virtual void Random(uint8_t* out, size_t size) = 0;
  // Sleeps a short while between lock retries.
  virtual void Pause(int microseconds) = 0;
};

// The operating system's file system.
FileSystem* DefaultFileSystem();

// The file system the engine uses; tests swap in their own (null restores
// the default). The caller keeps ownership.
FileSystem* CurrentFileSystem();
void SetFileSystem(FileSystem* fs);

}  // namespace engine
