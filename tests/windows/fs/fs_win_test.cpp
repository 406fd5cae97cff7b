// The Win32 file layer under the engine, run under wine by
// scripts/windows-check: the seam's contract as the engine relies on it
// (errors, positioned I/O, byte locks between descriptors, the no-replace
// rename), and the engine working through it end to end.
#include <windows.h>
// windows.h names CreateFile as a macro; the engine has a function of that name.
#undef CreateFile

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/fs.h"
#include "engine/status.h"
#include "engine/engine_test_util.h"

namespace {

using engine::FileSystem;
using engine::LockKind;
using engine::OpenMode;
using enginetest::Bytes;

constexpr uint64_t kFarByte = 1ull << 62;  // where the engine keeps its locks

FileSystem& Fs() { return *engine::DefaultFileSystem(); }

// Each test works in a folder of its own under the current one.
class WinFs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string("t_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  std::string Path(const char* name) const { return dir_ + "\\" + name; }
  std::string Write(const char* name, const std::string& bytes) {
    std::string p = Path(name);
    int fd = Fs().Open(p, OpenMode::kCreateNew);
    EXPECT_GE(fd, 0) << p;
    EXPECT_EQ(Fs().Write(fd, 0, bytes.data(), bytes.size()), 0);
    Fs().Close(fd);
    return p;
  }
  std::string Read(const std::string& path) {
    int fd = Fs().Open(path, OpenMode::kRead);
    if (fd < 0) return "<" + std::to_string(fd) + ">";
    std::string out(static_cast<size_t>(Fs().Size(fd)), '\0');
    Fs().Read(fd, 0, out.data(), out.size());
    Fs().Close(fd);
    return out;
  }
  std::string dir_;
};

TEST_F(WinFs, OpenErrorsMapToTheSeamsCodes) {
  std::string existing = Write("here.dat", "x");
  struct Case {
    std::string path;
    OpenMode mode;
    int expected;
  } cases[] = {
      {Path("missing.dat"), OpenMode::kRead, engine::kFsNotFound},
      {Path("nofolder\\x.dat"), OpenMode::kReadWrite, engine::kFsNotFound},
      {Path("nofolder\\x.dat"), OpenMode::kCreateNew, engine::kFsNotFound},
      {dir_, OpenMode::kRead, engine::kFsIsDir},
      {dir_, OpenMode::kReadWrite, engine::kFsIsDir},
      {"NUL", OpenMode::kReadWrite, engine::kFsBadName},  // a device, not a file
      {existing, OpenMode::kCreateNew, engine::kFsExists},
  };
  for (const Case& c : cases) {
    int fd = Fs().Open(c.path, c.mode);
    EXPECT_EQ(fd, c.expected) << c.path;
    if (fd >= 0) Fs().Close(fd);
  }
}

// A file marked read-only opens for reading only, and the engine then
// answers a change with access denied.
TEST_F(WinFs, ReadOnlyFilesOpenForReadingAndRefuseChanges) {
  engine::FileDef def;
  def.recordLength = 4;
  def.keys.push_back(enginetest::Key(0, {enginetest::Seg(1, 4, 14)}));
  std::string path = Path("RO.DAT");
  ASSERT_EQ(engine::CreateFile(path, def), 0);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  int probe = Fs().Open(path, OpenMode::kReadWrite);
  if (probe >= 0) {
    // Wine keeps the attribute as a permission bit, which root ignores.
    Fs().Close(probe);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "this system lets the user write read-only files";
  }
  EXPECT_EQ(probe, engine::kFsAccess);
  int fd = Fs().Open(path, OpenMode::kRead);
  EXPECT_GE(fd, 0);
  if (fd >= 0) Fs().Close(fd);
  enginetest::Open readOnly(path);
  ASSERT_EQ(readOnly.status, 0);
  EXPECT_EQ(readOnly.Insert(enginetest::B({3, 0, 0, 0})), engine::kAccessDenied);
  readOnly.Close();
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WinFs, PositionedReadWriteSizeAndTruncate) {
  std::string p = Write("io.dat", "0123456789");
  int fd = Fs().Open(p, OpenMode::kReadWrite);
  ASSERT_GE(fd, 0);
  // Writing past the end extends the file; the gap reads as zeros.
  ASSERT_EQ(Fs().Write(fd, 12, "AB", 2), 0);
  EXPECT_EQ(Fs().Size(fd), 14);
  char buf[32] = {};
  EXPECT_EQ(Fs().Read(fd, 8, buf, sizeof buf), 6);  // short only at the end
  EXPECT_EQ(std::string(buf, 6), std::string("89\0\0AB", 6));
  EXPECT_EQ(Fs().Read(fd, 100, buf, 4), 0);
  // Positioned calls do not disturb each other.
  ASSERT_EQ(Fs().Write(fd, 0, "zz", 2), 0);
  EXPECT_EQ(Fs().Read(fd, 2, buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "234");
  EXPECT_EQ(Fs().Sync(fd), 0);
  ASSERT_EQ(Fs().Truncate(fd, 4), 0);
  EXPECT_EQ(Fs().Size(fd), 4);
  Fs().Close(fd);
  EXPECT_EQ(Read(p), "zz23");
}

TEST_F(WinFs, ByteLocksExcludeOtherDescriptorsNeverWaitAndLeaveDataAlone) {
  std::string p = Write("lock.dat", "data");
  int a = Fs().Open(p, OpenMode::kReadWrite);
  int b = Fs().Open(p, OpenMode::kReadWrite);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(Fs().Lock(a, kFarByte, LockKind::kShared), 0);
  EXPECT_EQ(Fs().Lock(b, kFarByte, LockKind::kShared), 0);
  EXPECT_EQ(Fs().Lock(b, kFarByte + 1, LockKind::kExclusive), 0);
  EXPECT_EQ(Fs().Lock(a, kFarByte + 1, LockKind::kExclusive), engine::kFsBusy);
  EXPECT_EQ(Fs().Lock(a, kFarByte + 1, LockKind::kShared), engine::kFsBusy);
  // A lock far past the end does not keep the other descriptor from the data.
  char buf[4];
  EXPECT_EQ(Fs().Read(a, 0, buf, 4), 4);
  EXPECT_EQ(Fs().Write(a, 0, "DATA", 4), 0);
  EXPECT_EQ(Fs().Lock(b, kFarByte + 1, LockKind::kUnlock), 0);
  EXPECT_EQ(Fs().Lock(a, kFarByte + 1, LockKind::kExclusive), 0);
  // Releasing a byte that is not held is not an error.
  EXPECT_EQ(Fs().Lock(b, kFarByte + 5, LockKind::kUnlock), 0);
  // Closing a descriptor releases its locks.
  Fs().Close(a);
  EXPECT_EQ(Fs().Lock(b, kFarByte + 1, LockKind::kExclusive), 0);
  Fs().Close(b);
}

TEST_F(WinFs, LinkNoReplaceRefusesAnExistingNameAndKeepsBothFiles) {
  std::string from = Write("new.tmp", "fresh");
  std::string taken = Write("taken.dat", "old");
  EXPECT_EQ(Fs().LinkNoReplace(from, taken), engine::kFsExists);
  EXPECT_EQ(Read(taken), "old");
  EXPECT_EQ(Read(from), "fresh");
  std::string to = Path("final.dat");
  EXPECT_EQ(Fs().LinkNoReplace(from, to), 0);
  EXPECT_EQ(Read(to), "fresh");
  Fs().Unlink(from);  // what the engine does next; the name may be gone already
  EXPECT_EQ(Read(to), "fresh");
  EXPECT_EQ(Fs().SyncDirectoryOf(to), 0);
  EXPECT_EQ(Fs().Unlink(to), 0);
  EXPECT_EQ(Fs().Unlink(to), engine::kFsNotFound);
}

TEST_F(WinFs, DirectoriesAndRandomBytes) {
  EXPECT_TRUE(Fs().IsDirectory(dir_));
  EXPECT_FALSE(Fs().IsDirectory(Write("f.dat", "f")));
  EXPECT_FALSE(Fs().IsDirectory(Path("missing")));
  uint8_t a[16] = {}, b[16] = {};
  Fs().Random(a, sizeof a);
  Fs().Random(b, sizeof b);
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

// The engine on Windows: a file created with an owner name, changed through
// the entry with a backslash path, read back after a fresh open, and its
// open locks between two opens.
TEST_F(WinFs, EngineCreatesChangesAndLocksFiles) {
  engine::FileDef def;
  def.recordLength = 8;
  def.keys.push_back(enginetest::Key(0, {enginetest::Seg(1, 4, 14)}));
  def.owner = "Secret9";
  std::string path = Path("ACCOUNT.DAT");
  std::string error;
  ASSERT_EQ(engine::CreateFile(path, def, &error), 0) << error;
  EXPECT_NE(engine::CreateFile(path, def), 0);  // never replaces a file

  enginetest::Open wrongOwner(path, "nobody");
  EXPECT_EQ(wrongOwner.status, engine::kBadOwner);

  {
    enginetest::Open f(path, "Secret9");
    ASSERT_EQ(f.status, 0);
    EXPECT_EQ(f.Insert(enginetest::B({2, 0, 0, 0, 'b', 'b', 'b', 'b'})), 0);
    EXPECT_EQ(f.Insert(enginetest::B({1, 0, 0, 0, 'a', 'a', 'a', 'a'})), 0);
    EXPECT_EQ(f.Insert(enginetest::B({1, 0, 0, 0, 'x', 'x', 'x', 'x'})), engine::kDuplicateKey);
    // An exclusive open waits for no one: the file is in use.
    enginetest::Open exclusive(path, "Secret9", -4);
    EXPECT_EQ(exclusive.status, engine::kLocked);
    EXPECT_EQ(f.Close(), 0);
  }
  enginetest::Open again(path, "Secret9", -4);
  ASSERT_EQ(again.status, 0);
  std::vector<Bytes> all = again.Scan(0);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], enginetest::B({1, 0, 0, 0, 'a', 'a', 'a', 'a'}));
  EXPECT_EQ(all[1], enginetest::B({2, 0, 0, 0, 'b', 'b', 'b', 'b'}));
  ASSERT_EQ(again.Equal(0, enginetest::B({1, 0, 0, 0})), 0);
  EXPECT_EQ(again.Delete(), 0);
  EXPECT_EQ(again.Close(), 0);
  EXPECT_EQ(engine::VerifyFile(path, "Secret9"), 0);
  enginetest::Open last(path, "Secret9");
  ASSERT_EQ(last.status, 0);
  EXPECT_EQ(last.Scan(0).size(), 1u);
  last.Close();
}

}  // namespace
