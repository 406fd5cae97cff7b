// The POSIX file system behind the seam.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <random>

#include "engine/fs.h"

namespace engine {
namespace {

int FromErrno(int e) {
  switch (e) {
    case ENOENT: case ENOTDIR: return kFsNotFound;
    case EACCES: case EPERM: case EROFS: return kFsAccess;
    case EISDIR: return kFsIsDir;
    case ESPIPE: return kFsBadName;  // a pipe or a terminal
    case ENAMETOOLONG: case EINVAL: return kFsBadName;
    case EAGAIN: return kFsBusy;
    case ENOSPC: case EDQUOT: case EFBIG: return kFsNoSpace;
    case EEXIST: return kFsExists;
    default: return kFsIo;
  }
}

class PosixFileSystem : public FileSystem {
 public:
  int OpenAnyKind(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    if (mode == OpenMode::kRead) flags |= O_RDONLY;
    if (mode == OpenMode::kReadWrite) flags |= O_RDWR;
    if (mode == OpenMode::kCreateNew) flags |= O_RDWR | O_CREAT | O_EXCL;
    int fd;
    do fd = ::open(path.c_str(), flags, 0644); while (fd < 0 && errno == EINTR);
    return fd < 0 ? FromErrno(errno) : fd;
  }
  bool IsRegularFile(int fd) override {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  }
  int Open(const std::string& path, OpenMode mode) override {
    int fd = OpenAnyKind(path, mode);
    if (fd < 0) return fd;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      bool dir = S_ISDIR(st.st_mode);
      ::close(fd);
      return dir ? kFsIsDir : kFsBadName;
    }
    return fd;
  }
  int Close(int fd) override { return ::close(fd) == 0 ? 0 : FromErrno(errno); }
  long long Read(int fd, uint64_t offset, void* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done,
                          static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FromErrno(errno);
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return static_cast<long long>(done);
  }
  long long ReadSome(int fd, uint64_t offset, void* buffer, size_t size) override {
    ssize_t n;
    do n = ::pread(fd, buffer, size, static_cast<off_t>(offset)); while (n < 0 && errno == EINTR);
    return n < 0 ? FromErrno(errno) : n;
  }
  int Write(int fd, uint64_t offset, const void* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::pwrite(fd, static_cast<const char*>(buffer) + done, size - done,
                           static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FromErrno(errno);
      if (n == 0) return kFsIo;
      done += static_cast<size_t>(n);
    }
    return 0;
  }
  int Sync(int fd) override {
#if defined(__APPLE__)
    if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
    return ::fsync(fd) == 0 ? 0 : FromErrno(errno);
  }
  long long Size(int fd) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return FromErrno(errno);
    return static_cast<long long>(st.st_size);
  }
  int Truncate(int fd, uint64_t size) override {
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : FromErrno(errno);
  }
  int Lock(int fd, uint64_t offset, LockKind kind) override {
    struct flock fl {};
    fl.l_type = kind == LockKind::kShared ? F_RDLCK : kind == LockKind::kExclusive ? F_WRLCK : F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = 1;
#ifdef F_OFD_SETLK
    // Open-file-description locks: owned by this descriptor, not the process,
    // and not dropped when another descriptor of the same file is closed.
    int cmd = F_OFD_SETLK;
#else
    int cmd = F_SETLK;
#endif
    if (::fcntl(fd, cmd, &fl) == 0) return 0;
    if (errno == EAGAIN || errno == EACCES) return kFsBusy;
    return FromErrno(errno);
  }
  int LinkNoReplace(const std::string& from, const std::string& to) override {
    return ::link(from.c_str(), to.c_str()) == 0 ? 0 : FromErrno(errno);
  }
  int Unlink(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 ? 0 : FromErrno(errno);
  }
  int SyncDirectoryOf(const std::string& path) override {
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FromErrno(errno);
    int rc = ::fsync(fd) == 0 ? 0 : FromErrno(errno);
    ::close(fd);
    return rc;
  }
  bool IsDirectory(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  void Random(uint8_t* out, size_t size) override {
    std::random_device rd;
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(rd());
  }
  void Pause(int microseconds) override {
    struct timespec ts {0, static_cast<long>(microseconds) * 1000};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
  }
};

FileSystem* g_current = nullptr;

}  // namespace

FileSystem* DefaultFileSystem() {
  static PosixFileSystem fs;
  return &fs;
}

FileSystem* CurrentFileSystem() { return g_current ? g_current : DefaultFileSystem(); }

void SetFileSystem(FileSystem* fs) { g_current = fs; }

}  // namespace engine
