// Storage faults during the repair: the checker runs in-process over the
// embedded record manager, whose file system fails one chosen change to
// ATTRIB.DDF (a write or a sync: disk full, with half the bytes written, or
// an I/O error), or every change from a chosen one on. The failed Insert or
// Delete gives the repair's error line and leaves its record as it was;
// every other repair is made; the run goes on to "Done." and exit code 0.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <algorithm>
#include <map>
#include <random>
#include <vector>
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
// ATTRIB.DDF: those calls are numbered from 0. With trackUnsynced it also
// remembers what each change to ATTRIB.DDF replaced until the file is synced,
// so that PowerCut can take back what a power cut would lose.
class AttribFaultFs : public engine::FileSystem {
 public:
  int failAt = -1;    // fail exactly this changing call
  int failFrom = -1;  // fail this changing call and every later one
  int error = engine::kFsIo;
  int changes = 0;
  bool trackUnsynced = false;

  // Undoes the unsynced changes, newest first: all of them, or with rng each
  // one kept, dropped or torn at a random byte.
  void PowerCut(std::mt19937* rng) {
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
      const Pending& p = *it;
      const int choice = rng ? static_cast<int>((*rng)() % 3) : 1;
      if (choice == 0) continue;  // kept
      // Dropped: every byte restored; torn: the first k new bytes stay.
      size_t k = 0;
      if (choice == 2 && !p.truncate && p.written > 0) k = (*rng)() % p.written;
      int fd = base_->Open(p.path, engine::OpenMode::kReadWrite);
      ASSERT_GE(fd, 0);
      if (p.truncate) {
        base_->Truncate(fd, p.oldSize);
        base_->Write(fd, p.offset, p.before.data(), p.before.size());
      } else {
        if (p.before.size() > k) {
          base_->Write(fd, p.offset + k, p.before.data() + k, p.before.size() - k);
        }
        const uint64_t keep = std::max<uint64_t>(p.oldSize, p.offset + k);
        if (static_cast<uint64_t>(base_->Size(fd)) > keep) base_->Truncate(fd, keep);
      }
      base_->Sync(fd);
      base_->Close(fd);
    }
    pending_.clear();
  }

  AttribFaultFs() : base_(engine::DefaultFileSystem()) { engine::SetFileSystem(this); }
  ~AttribFaultFs() override { engine::SetFileSystem(nullptr); }

  int Open(const std::string& path, engine::OpenMode mode) override {
    int fd = base_->Open(path, mode);
    if (fd >= 0) {
      attrib_[fd] = path.size() >= 10 && path.substr(path.size() - 10) == "ATTRIB.DDF";
      paths_[fd] = std::filesystem::absolute(path).string();  // PowerCut runs elsewhere
    }
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
    Remember(fd, offset, size, false);
    return base_->Write(fd, offset, buffer, size);
  }
  int Sync(int fd) override {
    if (Fails(fd)) return error;
    int r = base_->Sync(fd);
    if (r == 0) {
      const std::string& path = paths_[fd];
      std::erase_if(pending_, [&](const Pending& p) { return p.path == path; });
    }
    return r;
  }
  long long Size(int fd) override { return base_->Size(fd); }
  int Truncate(int fd, uint64_t size) override {
    if (Fails(fd)) return error;
    const long long old = base_->Size(fd);
    if (old > static_cast<long long>(size)) Remember(fd, size, static_cast<size_t>(old - size), true);
    return base_->Truncate(fd, size);
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
  struct Pending {
    std::string path;
    uint64_t offset;
    size_t written;      // bytes the write put there
    std::string before;  // the bytes it replaced, within the old size
    uint64_t oldSize;
    bool truncate;       // a truncate to offset, not a write
  };
  void Remember(int fd, uint64_t offset, size_t size, bool truncate) {
    if (!trackUnsynced || !attrib_[fd]) return;
    Pending p{paths_[fd], offset, truncate ? 0 : size, "", 0, truncate};
    p.oldSize = static_cast<uint64_t>(base_->Size(fd));
    if (offset < p.oldSize) {
      p.before.resize(static_cast<size_t>(std::min<uint64_t>(size, p.oldSize - offset)));
      base_->Read(fd, offset, p.before.data(), p.before.size());
    }
    pending_.push_back(p);
  }
  engine::FileSystem* base_;
  std::map<int, bool> attrib_;
  std::map<int, std::string> paths_;
  std::vector<Pending> pending_;
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

TEST_F(StorageFaults, PowerCutAtEveryChangeKeepsEveryAcknowledgedRepair) {
  // The process dies at a changing call (that call and every later change
  // never reach the disk), then the power goes: the writes not yet synced
  // are lost, all of them or a random mix of kept, lost and torn ones.
  ASSERT_TRUE(db_->ok()) << db_->error();
  const int total = CountChanges(*db_, work_.path() + "/count");
  for (int n = 0; n <= total; ++n) {
    for (int variant = 0; variant < 3; ++variant) {
      SCOPED_TRACE("dies at change " + std::to_string(n) + ", variant " + std::to_string(variant));
      const std::string dir = work_.path() + "/p" + std::to_string(n) + "-" +
                              std::to_string(variant);
      db_->CopyTo(dir);
      RunResult r;
      {
        AttribFaultFs fs;
        fs.failFrom = n;
        fs.trackUnsynced = true;
        r = RunRepairIn(dir);
        std::mt19937 rng(static_cast<unsigned>(n * 7 + variant));
        fs.PowerCut(variant == 0 ? nullptr : &rng);
      }
      EXPECT_EQ(r.exitCode, 0);
      AttribState state;
      ASSERT_EQ(ReadAttrib(dir, &state), "");
      // Nothing is ever half a repair; every repair reported without an
      // error line survives. One that failed stays as it was when every
      // unsynced write is lost; with a mix, a failed sync may still have
      // carried it.
      EXPECT_EQ(CheckOriginalOrRepaired(state, db_->original(), db_->repaired()), "");
      const std::set<std::string> failed = TablesWithErrorLines(r.out);
      const AttribState expected = ExpectedAfterFailures(*db_, failed, false);
      for (const auto& t : db_->tables()) {
        if (failed.count(t.name) && variant != 0) continue;
        const std::string key = AttribKey(t.columnId);
        auto want = expected.find(key);
        auto got = state.find(key);
        EXPECT_EQ(got == state.end(), want == expected.end()) << t.name;
        if (got != state.end() && want != expected.end()) {
          EXPECT_EQ(got->second, want->second) << t.name;
        }
      }
      std::filesystem::remove_all(dir);
    }
  }
}

}  // namespace
}  // namespace reliability
