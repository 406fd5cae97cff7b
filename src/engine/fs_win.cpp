// The Win32 file system behind the seam. Descriptors are C runtime file
// numbers wrapped around Win32 handles, so the seam keeps its int
// descriptors. Reads and writes are positioned; locks are LockFileEx byte
// locks (the engine locks bytes far past the end of the file, so these
// mandatory locks never get in the way of reading or writing data).
#include <windows.h>
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <random>

#include "engine/fs.h"

namespace engine {
namespace {

int FromWin32(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return kFsNotFound;
    case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: case ERROR_SHARING_VIOLATION:
      return kFsAccess;
    case ERROR_DIRECTORY: return kFsIsDir;
    case ERROR_INVALID_NAME: case ERROR_BAD_PATHNAME: case ERROR_FILENAME_EXCED_RANGE:
      return kFsBadName;
    case ERROR_LOCK_VIOLATION: case ERROR_IO_PENDING: return kFsBusy;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return kFsNoSpace;
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return kFsExists;
    default: return kFsIo;
  }
}

int LastError() { return FromWin32(GetLastError()); }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

// Transfers are split so that each fits a DWORD comfortably.
constexpr size_t kMaxTransfer = size_t{1} << 30;

bool IsDirectoryPath(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class WindowsFileSystem : public FileSystem {
 public:
  int Open(const std::string& path, OpenMode mode) override {
    DWORD access = mode == OpenMode::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = mode == OpenMode::kCreateNew ? CREATE_NEW : OPEN_EXISTING;
    // Other processes may open, change and rename the same files, as they
    // may on POSIX systems; the engine's byte locks keep order among them.
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD e = GetLastError();
      if (e == ERROR_ACCESS_DENIED && IsDirectoryPath(path)) return kFsIsDir;
      return FromWin32(e);
    }
    // Device names (NUL, CON, COM1) open too: only disk files are files.
    if (GetFileType(h) != FILE_TYPE_DISK) {
      CloseHandle(h);
      return kFsBadName;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h),
                             mode == OpenMode::kRead ? _O_RDONLY : 0);
    if (fd < 0) {
      CloseHandle(h);
      return kFsIo;
    }
    return fd;
  }

  int Close(int fd) override { return _close(fd) == 0 ? 0 : kFsIo; }

  long long Read(int fd, uint64_t offset, void* buffer, size_t size) override {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) return kFsIo;
    size_t done = 0;
    while (done < size) {
      size_t want = size - done < kMaxTransfer ? size - done : kMaxTransfer;
      OVERLAPPED ov = At(offset + done);
      DWORD got = 0;
      if (!ReadFile(h, static_cast<char*>(buffer) + done, static_cast<DWORD>(want), &got, &ov)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return LastError();
      }
      if (got == 0) break;
      done += got;
    }
    return static_cast<long long>(done);
  }

  int Write(int fd, uint64_t offset, const void* buffer, size_t size) override {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) return kFsIo;
    size_t done = 0;
    while (done < size) {
      size_t want = size - done < kMaxTransfer ? size - done : kMaxTransfer;
      OVERLAPPED ov = At(offset + done);
      DWORD put = 0;
      if (!WriteFile(h, static_cast<const char*>(buffer) + done, static_cast<DWORD>(want), &put,
                     &ov))
        return LastError();
      if (put == 0) return kFsIo;
      done += put;
    }
    return 0;
  }

  int Sync(int fd) override {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) return kFsIo;
    return FlushFileBuffers(h) ? 0 : LastError();
  }

  long long Size(int fd) override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(HandleOf(fd), &size)) return LastError();
    return size.QuadPart;
  }

  int Truncate(int fd, uint64_t size) override {
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &info, sizeof info)
               ? 0
               : LastError();
  }

  int Lock(int fd, uint64_t offset, LockKind kind) override {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) return kFsIo;
    OVERLAPPED ov = At(offset);
    if (kind == LockKind::kUnlock) {
      if (UnlockFileEx(h, 0, 1, 0, &ov)) return 0;
      // Releasing a byte that is not locked is not an error, as on POSIX.
      // Windows says ERROR_NOT_LOCKED, wine ERROR_LOCK_VIOLATION.
      DWORD e = GetLastError();
      return e == ERROR_NOT_LOCKED || e == ERROR_LOCK_VIOLATION ? 0 : FromWin32(e);
    }
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (kind == LockKind::kExclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    if (LockFileEx(h, flags, 0, 1, 0, &ov)) return 0;
    DWORD e = GetLastError();
    if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) return kFsBusy;
    return FromWin32(e);
  }

  // A rename that refuses an existing target: atomic like a link, and
  // durable once it returns thanks to write-through. The source name is
  // gone afterwards, so the caller's unlink of it finds nothing to do.
  int LinkNoReplace(const std::string& from, const std::string& to) override {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? 0 : LastError();
  }

  int Unlink(const std::string& path) override {
    return DeleteFileA(path.c_str()) ? 0 : LastError();
  }

  // Windows has no way to flush a folder; MOVEFILE_WRITE_THROUGH above
  // already made the one name change the engine makes durable.
  int SyncDirectoryOf(const std::string&) override { return 0; }

  bool IsDirectory(const std::string& path) override { return IsDirectoryPath(path); }

  void Random(uint8_t* out, size_t size) override {
    if (size <= 0xFFFFFFFFu &&
        BCryptGenRandom(nullptr, out, static_cast<ULONG>(size),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0)
      return;
    std::random_device rd;
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(rd());
  }

  void Pause(int microseconds) override {
    Sleep(static_cast<DWORD>((microseconds + 999) / 1000));
  }
};

FileSystem* g_current = nullptr;

}  // namespace

FileSystem* DefaultFileSystem() {
  static WindowsFileSystem fs;
  return &fs;
}

FileSystem* CurrentFileSystem() { return g_current ? g_current : DefaultFileSystem(); }

void SetFileSystem(FileSystem* fs) { g_current = fs; }

}  // namespace engine
