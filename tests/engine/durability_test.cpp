// Atomicity and durability through the file-system seam: failed writes and
// syncs, power cuts, lock contention, and the cost of Open, Stat and Close.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "engine/table.h"
#include "engine_test_util.h"
#include "fault_fs.h"
#include "run_process.h"

namespace {

using namespace enginetest;

// 6-byte records: key 0 unique 4-byte id, key 1 a 2-byte group with
// duplicates, descending.
engine::FileDef Def() {
  engine::FileDef def;
  def.recordLength = 6;
  def.variable = true;
  def.maxRecordLength = 64;
  def.keys.push_back(Key(0, {Seg(1, 4, 14)}));
  def.keys.push_back(Key(1, {Seg(5, 2, 14, 0x0001 | 0x0040)}));
  return def;
}

Bytes Rec(uint32_t id, int extra = 0) {
  Bytes r(6 + static_cast<size_t>(extra), static_cast<uint8_t>(id));
  for (int i = 0; i < 4; ++i) r[static_cast<size_t>(i)] = static_cast<uint8_t>(id >> (8 * i));
  r[4] = static_cast<uint8_t>(id % 7);
  r[5] = 0;
  return r;
}

Bytes IdKey(uint32_t id) {
  Bytes r = Rec(id);
  return Bytes(r.begin(), r.begin() + 4);
}

std::set<uint32_t> Ids(const std::string& path) {
  std::vector<Bytes> records;
  std::set<uint32_t> ids;
  if (engine::ReadAllRecords(path, "", &records) != 0) return {0xFFFFFFFF};
  for (const Bytes& r : records) ids.insert(U32(r, 0));
  return ids;
}

class Durability : public ::testing::Test {
 protected:
  void SetUp() override { path = dir.path() + "/D.DAT"; }
  void TearDown() override { engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0); }
  TempDir dir;
  std::string path;
};

// Each write or sync of an Insert and of a Delete fails in turn: the
// operation answers 18 (disk full) or 2, the file's bytes are as before, and
// the same operation then succeeds.
TEST_F(Durability, FailedWriteOrSyncLeavesTheFileAsItWas) {
  ASSERT_EQ(engine::CreateFile(path, Def()), 0);
  {
    Open f(path);
    for (uint32_t id = 1; id <= 5; ++id) ASSERT_EQ(f.Insert(Rec(id, static_cast<int>(id))), 0);
  }
  for (bool deleting : {false, true}) {
    for (int error : {engine::kFsNoSpace, engine::kFsIo}) {
      for (int call = 0;; ++call) {
        SCOPED_TRACE((deleting ? "delete" : "insert") + std::string(", call ") + std::to_string(call) +
                     ", error " + std::to_string(error));
        std::string before = ReadFileBytes(path);
        FaultFs fs;
        Open f(path);
        ASSERT_EQ(f.status, 0);
        auto scanBefore = f.Scan(0);
        if (deleting) {
          ASSERT_EQ(f.Equal(0, IdKey(3)), 0);
        }
        fs.ResetCounters();
        fs.failAt = call;
        fs.failError = error;
        int st = deleting ? f.Delete() : f.Insert(Rec(100, 3));
        int calls = fs.changeCalls;
        fs.failAt = -1;
        if (call >= calls) {
          // Past the operation's last changing call: it succeeded; undo it.
          ASSERT_EQ(st, 0);
          ASSERT_GT(call, 1);
          break;
        }
        EXPECT_EQ(st, error == engine::kFsNoSpace ? 18 : 2);
        EXPECT_EQ(ReadFileBytes(path), before) << "the file changed";
        EXPECT_EQ(f.Scan(0), scanBefore) << "the open's view changed";
        EXPECT_EQ(engine::VerifyFile(path, ""), 0);
        f.Close();
      }
      // Put the file back in its state for the next round.
      Open f(path);
      if (deleting) {
        ASSERT_EQ(f.Insert(Rec(3, 3)), 0);
      } else {
        ASSERT_EQ(f.Equal(0, IdKey(100)), 0);
        ASSERT_EQ(f.Delete(), 0);
      }
    }
  }
  EXPECT_EQ(Ids(path), (std::set<uint32_t>{1, 2, 3, 4, 5}));
}

// A run of changes (inserts, deletes and batches) is cut at a random
// changing call: the process dies there and every byte not synced is
// dropped, kept or torn at random. The
// file then opens, passes its checks, and holds every change answered with
// 0, plus at most the one in flight.
TEST_F(Durability, PowerCutKeepsEveryAnsweredChange) {
  const uint32_t seed = 20261211;
  std::mt19937 rng(seed);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    std::string p = dir.path() + "/P" + std::to_string(round) + ".DAT";
    std::set<uint32_t> model;
    std::set<uint32_t> withInflight;
    bool inflight = false;
    {
      FaultFs fs;
      ASSERT_EQ(engine::CreateFile(p, Def()), 0);
      fs.dieAt = fs.changeCalls + static_cast<int>(rng() % 60);
      Open f(p);
      ASSERT_EQ(f.status, 0);
      for (uint32_t op = 0; op < 30 && !fs.dead; ++op) {
        int kind = static_cast<int>(rng() % 6);
        bool del = !model.empty() && kind < 2;
        uint32_t id = del ? *std::next(model.begin(), static_cast<long>(rng() % model.size())) : op + 1;
        std::set<uint32_t> after = model;
        int st;
        if (kind == 5) {
          // A batch: three records, all or none.
          std::vector<Bytes> batch;
          for (uint32_t j = 0; j < 3; ++j) {
            batch.push_back(Rec(1000 * (op + 1) + j, static_cast<int>(j)));
            after.insert(1000 * (op + 1) + j);
          }
          st = engine::InsertRecords(p, "", batch);
        } else if (del) {
          after.erase(id);
          if (f.Equal(0, IdKey(id)) != 0) break;
          st = f.Delete();
        } else {
          after.insert(id);
          st = f.Insert(Rec(id, static_cast<int>(rng() % 40)));
        }
        if (st == 0) {
          model = after;
        } else {
          inflight = true;
          withInflight = after;
          break;
        }
      }
      engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
      fs.PowerCut(&rng);
    }
    std::string problem;
    ASSERT_EQ(engine::VerifyFile(p, "", &problem), 0) << problem;
    std::set<uint32_t> ids = Ids(p);
    if (inflight && ids == withInflight) continue;
    EXPECT_EQ(ids, model);
  }
}

TEST_F(Durability, PowerCutDroppingEveryUnsyncedByte) {
  ASSERT_EQ(engine::CreateFile(path, Def()), 0);
  {
    FaultFs fs;
    Open f(path);
    ASSERT_EQ(f.Insert(Rec(1)), 0);
    ASSERT_EQ(f.Insert(Rec(2)), 0);
    fs.dieAt = fs.changeCalls + 1;  // the log entry is written, never synced
    EXPECT_NE(f.Insert(Rec(3)), 0);
    engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
    fs.PowerCut();
  }
  EXPECT_EQ(engine::VerifyFile(path, ""), 0);
  EXPECT_EQ(Ids(path), (std::set<uint32_t>{1, 2}));
  // The torn tail is overwritten by the next change.
  Open f(path);
  ASSERT_EQ(f.Insert(Rec(4)), 0);
  EXPECT_EQ(Ids(path), (std::set<uint32_t>{1, 2, 4}));
}

// A failed write or sync while creating a file leaves nothing behind.
TEST_F(Durability, FailedCreateLeavesNoFile) {
  auto entries = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    return names;
  };
  for (int call = 0; call < 2; ++call) {
    FaultFs fs;
    fs.failAt = call;  // the write, then the sync, of the new file
    EXPECT_NE(engine::CreateFile(path, Def()), 0) << call;
    EXPECT_EQ(entries(), std::vector<std::string>{}) << call;
  }
  {
    FaultFs fs;
    fs.failDirectorySync = true;
    EXPECT_NE(engine::CreateFile(path, Def()), 0);
    EXPECT_EQ(entries(), std::vector<std::string>{});
  }
  EXPECT_EQ(engine::CreateFile(path, Def()), 0);
  EXPECT_EQ(entries(), std::vector<std::string>{"D.DAT"});
}

// A reader never sees a change in progress: while a writer holds the
// file, the reader's Gets answer 85; when the writer's final sync fails and
// the change is taken back, the reader sees the file as before. The reader
// is a table of its own, since the entry is busy with the writer's call.
int TableScan(engine::Table& t, std::vector<Bytes>* out) {
  out->clear();
  engine::Found f;
  int st = t.GetFirst(0, &f);
  while (st == 0) {
    out->push_back(f.record);
    st = t.GetNext(0, &f);
  }
  return st;
}

TEST_F(Durability, ReadersNeverSeeAChangeInProgress) {
  ASSERT_EQ(engine::CreateFile(path, Def()), 0);
  FaultFs fs;
  Open writer(path);
  std::unique_ptr<engine::Table> reader;
  ASSERT_EQ(engine::Table::Open(path, engine::Access::kReadOnly, nullptr, &reader), 0);
  ASSERT_EQ(writer.Insert(Rec(1)), 0);
  std::vector<Bytes> seen;
  ASSERT_EQ(TableScan(*reader, &seen), 9);
  ASSERT_EQ(seen.size(), 1u);
  // At each changing call of the change, the reader sees the old file or is
  // told to wait; once the new commit block is written, it must wait.
  std::vector<int> during;
  fs.ResetCounters();
  fs.failAt = 3;  // the sync of the new commit block
  fs.onChange = [&](int n) {
    std::vector<Bytes> view;
    int st = TableScan(*reader, &view);
    EXPECT_TRUE(st == 85 || (st == 9 && view == std::vector<Bytes>{Rec(1)})) << "call " << n << ": " << st;
    during.push_back(st);
  };
  EXPECT_EQ(writer.Insert(Rec(2)), 2);
  fs.onChange = nullptr;
  ASSERT_GE(during.size(), 4u);
  EXPECT_EQ(during[3], 85) << "the reader got past a written but unsynced commit";
  ASSERT_EQ(TableScan(*reader, &seen), 9);
  ASSERT_EQ(seen, std::vector<Bytes>{Rec(1)});
  // The next change lands where the taken-back one was; both views agree.
  ASSERT_EQ(writer.Insert(Rec(3, 5)), 0);
  ASSERT_EQ(TableScan(*reader, &seen), 9);
  EXPECT_EQ(seen, writer.Scan(0));
  EXPECT_EQ(Ids(path), (std::set<uint32_t>{1, 3}));
}

// While another process holds the file (every lock busy), changes and
// Opens give 85 after a bounded wait and change nothing; reads of a file
// that has not changed since need no lock; the position survives.
TEST_F(Durability, ChangesWaitBrieflyForTheLockThenAnswer85) {
  ASSERT_EQ(engine::CreateFile(path, Def()), 0);
  FaultFs fs;
  Open f(path);
  ASSERT_EQ(f.Insert(Rec(1)), 0);
  ASSERT_EQ(f.Insert(Rec(2)), 0);
  ASSERT_EQ(f.Equal(0, IdKey(1)), 0);
  fs.locksBusy = true;
  EXPECT_EQ(f.Insert(Rec(3)), 85);
  EXPECT_EQ(f.Delete(), 85);
  Bytes stat;
  ASSERT_EQ(f.Stat(&stat), 0);
  EXPECT_EQ(U32(stat, 6), 2u);
  Open other(path);
  EXPECT_EQ(other.status, 85);
  fs.locksBusy = false;
  EXPECT_EQ(Ids(path), (std::set<uint32_t>{1, 2}));
  ASSERT_EQ(f.Delete(), 0);
  EXPECT_EQ(Ids(path), (std::set<uint32_t>{2}));
}

// Open, Stat and Close read the header and the commit blocks only: the same
// single read for 10 records as for 50000.
TEST_F(Durability, OpenStatCloseReadOnlyTheHeader) {
  auto cost = [&](const std::string& p, uint32_t records) {
    EXPECT_EQ(engine::CreateFile(p, Def()), 0);
    std::vector<Bytes> all;
    for (uint32_t id = 0; id < records; ++id) all.push_back(Rec(id));
    EXPECT_EQ(engine::InsertRecords(p, "", all), 0);
    FaultFs fs;
    Open f(p);
    EXPECT_EQ(f.status, 0);
    Bytes stat;
    EXPECT_EQ(f.Stat(&stat), 0);
    EXPECT_EQ(U32(stat, 6), records);
    EXPECT_EQ(f.Close(), 0);
    return std::make_pair(fs.bytesRead, fs.readCalls);
  };
  auto small = cost(dir.path() + "/S.DAT", 10);
  auto large = cost(dir.path() + "/L.DAT", 50000);
  // One read of at most a page (less when the file is shorter), however
  // many records follow.
  EXPECT_EQ(small.second, 1);
  EXPECT_EQ(large.second, 1);
  EXPECT_LE(small.first, 4096u);
  EXPECT_LE(large.first, 4096u);
}

}  // namespace
