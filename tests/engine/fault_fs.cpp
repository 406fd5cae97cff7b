#include "fault_fs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <unistd.h>

namespace enginetest {
namespace {

// Power-cut repairs are best effort on a test's own temporary files.
void Ignore(long long) {}

}  // namespace

FaultFs::FaultFs() : base_(engine::DefaultFileSystem()) { engine::SetFileSystem(this); }

FaultFs::~FaultFs() { engine::SetFileSystem(nullptr); }

void FaultFs::ResetCounters() {
  changeCalls = 0;
  bytesRead = 0;
  readCalls = 0;
}

int FaultFs::Change() {
  int n = changeCalls++;
  if (onChange) onChange(n);
  if (dieAt >= 0 && n >= dieAt) dead = true;
  if (dead) return engine::kFsIo;
  if (n == failAt) return failError;
  return 0;
}

int FaultFs::Open(const std::string& path, engine::OpenMode mode) {
  int fd = base_->Open(path, mode);
  if (fd >= 0) {
    paths_[fd] = path;
    auto it = files_.find(path);
    if (it == files_.end() || it->second.writes.empty()) {
      long long size = base_->Size(fd);
      files_[path].syncedSize = size > 0 ? static_cast<uint64_t>(size) : 0;
    }
  }
  return fd;
}

int FaultFs::Close(int fd) {
  paths_.erase(fd);
  return base_->Close(fd);
}

long long FaultFs::Read(int fd, uint64_t offset, void* buffer, size_t size) {
  ++readCalls;
  long long n = base_->Read(fd, offset, buffer, size);
  if (n > 0) bytesRead += static_cast<uint64_t>(n);
  return n;
}

int FaultFs::Write(int fd, uint64_t offset, const void* buffer, size_t size) {
  int e = Change();
  if (e != 0) return e;
  // Remember what the write replaces so a power cut can put it back.
  Unsynced u;
  u.offset = offset;
  long long cur = base_->Size(fd);
  if (cur > static_cast<long long>(offset)) {
    size_t keep = static_cast<size_t>(std::min<long long>(cur - static_cast<long long>(offset),
                                                          static_cast<long long>(size)));
    u.before.resize(keep);
    base_->Read(fd, offset, u.before.data(), keep);
  }
  u.written.assign(static_cast<const char*>(buffer), size);
  files_[paths_[fd]].writes.push_back(std::move(u));
  return base_->Write(fd, offset, buffer, size);
}

int FaultFs::Sync(int fd) {
  int e = Change();
  if (e != 0) return e;
  int r = realSync ? base_->Sync(fd) : 0;
  if (r == 0) {
    FileState& f = files_[paths_[fd]];
    f.writes.clear();
    long long size = base_->Size(fd);
    f.syncedSize = size > 0 ? static_cast<uint64_t>(size) : 0;
  }
  return r;
}

long long FaultFs::Size(int fd) { return base_->Size(fd); }

int FaultFs::Truncate(int fd, uint64_t size) {
  int e = Change();
  if (e != 0) return e;
  return base_->Truncate(fd, size);
}

int FaultFs::Lock(int fd, uint64_t offset, engine::LockKind kind) {
  if (locksBusy && kind != engine::LockKind::kUnlock) return engine::kFsBusy;
  return base_->Lock(fd, offset, kind);
}

int FaultFs::LinkNoReplace(const std::string& from, const std::string& to) {
  if (dead) return engine::kFsIo;
  return base_->LinkNoReplace(from, to);
}
int FaultFs::Unlink(const std::string& path) { return base_->Unlink(path); }
int FaultFs::SyncDirectoryOf(const std::string& path) {
  if (dead || failDirectorySync) return engine::kFsIo;
  return realSync ? base_->SyncDirectoryOf(path) : 0;
}
bool FaultFs::IsDirectory(const std::string& path) { return base_->IsDirectory(path); }
void FaultFs::Random(uint8_t* out, size_t size) { base_->Random(out, size); }
void FaultFs::Pause(int) {}  // lock retries run at once in tests

void FaultFs::PowerCut(std::mt19937* rng) {
  for (auto& [path, f] : files_) {
    if (f.writes.empty()) continue;
    int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) continue;
    // Undo in reverse order, so each write's "before" is what lay there.
    for (auto it = f.writes.rbegin(); it != f.writes.rend(); ++it) {
      int fate = rng ? static_cast<int>((*rng)() % 3) : 1;  // 0 keep, 1 drop, 2 tear
      if (fate == 0) continue;
      size_t kept = 0;
      if (fate == 2 && !it->written.empty()) kept = (*rng)() % it->written.size();
      if (kept < it->before.size()) {
        Ignore(::pwrite(fd, it->before.data() + kept, it->before.size() - kept,
                        static_cast<off_t>(it->offset + kept)));
      }
      // Bytes written past the old end: torn away, or zeros where kept ones end.
      if (it->written.size() > it->before.size()) {
        size_t from = std::max(kept, it->before.size());
        std::string zeros(it->written.size() - from, '\0');
        Ignore(::pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(it->offset + from)));
      }
    }
    // Without a random fate every unsynced byte goes, file growth too.
    if (!rng) Ignore(::ftruncate(fd, static_cast<off_t>(f.syncedSize)));
    ::fsync(fd);
    ::close(fd);
    f.writes.clear();
  }
}

}  // namespace enginetest
