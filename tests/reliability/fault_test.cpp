// Storage faults during the repair: the checker runs in-process over the
// embedded record manager, whose file system fails one chosen change to
// ATTRIB.DDF (a write or a sync: disk full, with half the bytes written, or
// an I/O error), or every change from a chosen one on. The failed Insert or
// Delete gives the repair's error line and leaves its record as it was;
// every other repair is made; the run goes on to "Done." and exit code 0.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "capture.h"
#include "driver/driver.h"
#include "engine/fs.h"
#include "recmgr/recmgr.h"
#include "repair_db.h"
#include "spine_reset.h"

namespace reliability {
namespace {

// The real file system, with faults on the changing calls made to
// ATTRIB.DDF: those calls are numbered from 0.
class AttribFaultFs : public engine::FileSystem {
 public:
  int failAt = -1;    // fail exactly this changing call
  int failFrom = -1;  // fail this changing call and every later one
  int error = engine::kFsIo;
  int changes = 0;

  AttribFaultFs() : base_(engine::DefaultFileSystem()) { engine::SetFileSystem(this); }
  ~AttribFaultFs() override { engine::SetFileSystem(nullptr); }

  int Open(const std::string& path, engine::OpenMode mode) override {
    int fd = base_->Open(path, mode);
    if (fd >= 0) attrib_[fd] = path.size() >= 10 && path.substr(path.size() - 10) == "ATTRIB.DDF";
    return fd;
  }
  int Close(int fd) override {
    attrib_.erase(fd);
    return base_->Close(fd);
  }
  long long Read(int fd, uint64_t offset, void* buffer, size_t size) override {
    return base_->Read(fd, offset, buffer, size);
  }
  int Write(int fd, uint64_t offset, const void* buffer, size_t size) override {
    if (Fails(fd)) {
      // A full disk may take part of a write before it refuses the rest.
      if (error == engine::kFsNoSpace && size > 1) base_->Write(fd, offset, buffer, size / 2);
      return error;
    }
    return base_->Write(fd, offset, buffer, size);
  }
  int Sync(int fd) override { return Fails(fd) ? error : base_->Sync(fd); }
  long long Size(int fd) override { return base_->Size(fd); }
  int Truncate(int fd, uint64_t size) override {
    return Fails(fd) ? error : base_->Truncate(fd, size);
  }
  int Lock(int fd, uint64_t offset, engine::LockKind kind) override {
    return base_->Lock(fd, offset, kind);
  }
  int LinkNoReplace(const std::string& from, const std::string& to) override {
    return base_->LinkNoReplace(from, to);
  }
  int Unlink(const std::string& path) override { return base_->Unlink(path); }
  int SyncDirectoryOf(const std::string& path) override { return base_->SyncDirectoryOf(path); }
  bool IsDirectory(const std::string& path) override { return base_->IsDirectory(path); }
  void Random(uint8_t* out, size_t size) override { base_->Random(out, size); }
  void Pause(int microseconds) override { base_->Pause(microseconds); }

 private:
  bool Fails(int fd) {
    auto it = attrib_.find(fd);
    if (it == attrib_.end() || !it->second) return false;
    const int n = changes++;
    return n == failAt || (failFrom >= 0 && n >= failFrom);
  }
  engine::FileSystem* base_;
  std::map<int, bool> attrib_;
};

struct RunResult {
  int exitCode;
  std::string out, err;
};

// One whole scrutor "*" /A /F in dir, in this process.
RunResult RunRepairIn(const std::string& dir) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  ResetSpineState();
  SetRecordManagerEntry(BoundRecordManagerEntry);
  char program[] = "scrutor", table[] = "*", a[] = "/A", f[] = "/F";
  char* argv[] = {program, table, a, f, nullptr};
  RunResult r;
  {
    StdinReplacement input = StdinReplacement::DevNull();
    OutputCapture capture;
    r.exitCode = ScrutorMain(4, argv);
    fflush(stdout);
    fflush(stderr);
    capture.Finish();
    r.out = capture.out();
    r.err = capture.err();
  }
  std::filesystem::current_path(previous);
  return r;
}

class StorageFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { db_ = new RepairDatabase(12); }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }
  static RepairDatabase* db_;
  TempDir work_;
};
RepairDatabase* StorageFaults::db_ = nullptr;

// How many changing calls a whole repair makes to ATTRIB.DDF.
int CountChanges(const RepairDatabase& db, const std::string& dir) {
  db.CopyTo(dir);
  AttribFaultFs fs;
  RunResult r = RunRepairIn(dir);
  EXPECT_EQ(r.exitCode, 0);
  return fs.changes;
}

TEST_F(StorageFaults, OneFailedChangeLeavesItsRecordAndTheRunGoesOn) {
  ASSERT_TRUE(db_->ok()) << db_->error();
  const int total = CountChanges(*db_, work_.path() + "/count");
  ASSERT_GT(total, 0);
  std::map<std::string, Repair> kinds;
  for (const auto& t : db_->tables()) kinds[t.name] = t.repair;

  const struct {
    int error;
    int status;
  } faults[] = {{engine::kFsNoSpace, 18}, {engine::kFsIo, 2}};
  for (const auto& fault : faults) {
    for (int n = 0; n < total; ++n) {
      SCOPED_TRACE("status " + std::to_string(fault.status) + ", change " + std::to_string(n));
      const std::string dir = work_.path() + "/s" + std::to_string(fault.status) + "-" +
                              std::to_string(n);
      db_->CopyTo(dir);
      RunResult r;
      {
        AttribFaultFs fs;
        fs.failAt = n;
        fs.error = fault.error;
        r = RunRepairIn(dir);
      }
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_TRUE(r.out.size() >= 6 && r.out.substr(r.out.size() - 6) == "Done.\n") << r.out;
      EXPECT_NE(r.err.find("Btrieve Error " + std::to_string(fault.status) +
                           ": Operation="),
                std::string::npos)
          << r.err;

      // The failed record is as it was; every other repair was made.
      const std::set<std::string> failed = TablesWithErrorLines(r.out);
      ASSERT_EQ(failed.size(), 1u) << r.out;
      AttribState state;
      ASSERT_EQ(ReadAttrib(dir, &state), "");
      EXPECT_EQ(state, ExpectedAfterFailures(*db_, failed, true));
      std::filesystem::remove_all(dir);
    }
  }
}

TEST_F(StorageFaults, DeadDiskFailsEveryLaterRepairAndTheRunGoesOn) {
  ASSERT_TRUE(db_->ok()) << db_->error();
  const int total = CountChanges(*db_, work_.path() + "/count");
  for (int from : {0, total / 2}) {
    SCOPED_TRACE("failing from change " + std::to_string(from));
    const std::string dir = work_.path() + "/d" + std::to_string(from);
    db_->CopyTo(dir);
    RunResult r;
    {
      AttribFaultFs fs;
      fs.failFrom = from;
      fs.error = engine::kFsIo;
      r = RunRepairIn(dir);
    }
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.size() >= 6 && r.out.substr(r.out.size() - 6) == "Done.\n") << r.out;
    const std::set<std::string> failed = TablesWithErrorLines(r.out);
    EXPECT_FALSE(failed.empty());
    AttribState state;
    ASSERT_EQ(ReadAttrib(dir, &state), "");
    EXPECT_EQ(state, ExpectedAfterFailures(*db_, failed, false));
    if (from == 0) {
      EXPECT_EQ(state, db_->original());
    }
  }
}

}  // namespace
}  // namespace reliability
