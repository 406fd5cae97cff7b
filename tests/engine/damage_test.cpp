// Damaged, truncated and hostile files: every status is one of the allowed
// ones, every record handed out is one that was stored, nothing crashes (the
// sanitizer build checks every read).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "engine/checksum.h"
#include "engine/format.h"
#include "engine/le.h"
#include "engine_test_util.h"
#include "run_process.h"

namespace {

using namespace enginetest;

engine::FileDef Def() {
  engine::FileDef def;
  def.recordLength = 6;
  def.variable = true;
  def.maxRecordLength = 300;
  std::array<uint8_t, 265> acs{};
  acs[0] = 0xAC;
  std::memcpy(&acs[1], "REVERSE ", 8);
  for (int i = 0; i < 256; ++i) acs[9 + i] = static_cast<uint8_t>(255 - i);
  def.acs.push_back(acs);
  def.keys.push_back(Key(0, {Seg(1, 2, 14)}));
  def.keys.push_back(Key(1, {Seg(3, 3, 0, 0x0020 | 0x0001), Seg(6, 1, 1, 0x0040 | 0x0001)}));
  return def;
}

Bytes Rec(int id) {
  Bytes r(6 + static_cast<size_t>(id % 9) * 20, static_cast<uint8_t>(id * 7));
  r[0] = static_cast<uint8_t>(id);
  r[1] = 0;
  return r;
}

std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

class Damage : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.path() + "/GOOD.DAT";
    ASSERT_EQ(engine::CreateFile(path, Def()), 0);
    Open f(path);
    for (int id = 1; id <= 12; ++id) {
      ASSERT_EQ(f.Insert(Rec(id)), 0);
      stored.insert(S(Rec(id)));
    }
    for (int id : {4, 9}) {
      ASSERT_EQ(f.Equal(0, B({id, 0})), 0);
      ASSERT_EQ(f.Delete(), 0);
    }
    f.Close();
    good = ReadFileBytes(path);
    ASSERT_TRUE(engine::ReadAllRecords(path, "", &records) == 0);
  }
  void TearDown() override { engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0); }

  // Opens a damaged copy and runs every Get over it.
  void Exercise(const std::string& bytes, const std::string& what, bool tryInsert = true) {
    SCOPED_TRACE(what);
    // A new name each time: rewriting one file in place is slow on ext4.
    std::string p = dir.path() + "/BAD" + std::to_string(serial++) + ".DAT";
    WriteFileBytes(p, bytes);
    struct Remove {
      std::string path;
      ~Remove() { std::remove(path.c_str()); }
    } remove{p};
    Open f(p);
    ASSERT_TRUE(f.status == 0 || f.status == 2 || f.status == 30) << f.status;
    if (f.status != 0) return;
    Bytes stat;
    int st = f.Stat(&stat);
    EXPECT_TRUE(st == 0 || st == 2) << st;
    for (int k = 0; k < 2; ++k) {
      Bytes rec;
      st = f.First(k, &rec);
      for (int n = 0; st == 0 && n < 100; ++n) {
        EXPECT_TRUE(stored.count(S(rec))) << "a record that was never stored";
        st = f.Next(k, &rec);
      }
      EXPECT_TRUE(st == 9 || st == 2) << st;
      Bytes five = Rec(5);
      st = f.Equal(k, k == 0 ? B({5, 0}) : Bytes(five.begin() + 2, five.begin() + 6), &rec);
      EXPECT_TRUE(st == 0 || st == 4 || st == 2) << st;
      st = f.Ge(k, B({0, 0, 0, 0}), &rec);
      EXPECT_TRUE(st == 0 || st == 9 || st == 2) << st;
      if (st == 0) {
        EXPECT_TRUE(stored.count(S(rec)));
      }
    }
    if (tryInsert) {
      st = f.Insert(Rec(200));
      EXPECT_TRUE(st == 0 || st == 2) << st;
    }
    f.Close();
    std::string problem;
    engine::VerifyFile(p, "", &problem);
  }

  TempDir dir;
  int serial = 0;
  std::string path;
  std::string good;
  std::set<std::string> stored;  // as strings: GCC 12 misjudges vector <=>
  std::vector<Bytes> records;
};

TEST_F(Damage, TruncatedAtEveryHeaderLengthAndAtRandom) {
  std::mt19937 rng(99);
  engine::FileMeta m;
  ASSERT_EQ(engine::DecodeHeader(reinterpret_cast<const uint8_t*>(good.data()), good.size(), &m), 0);
  stored.insert(S(Rec(200)));
  for (size_t len = 0; len <= m.logStart + 16; ++len) Exercise(good.substr(0, len), "length " + std::to_string(len));
  for (int i = 0; i < 200; ++i) {
    size_t len = m.logStart + rng() % (good.size() - m.logStart);
    Exercise(good.substr(0, len), "length " + std::to_string(len));
  }
}

TEST_F(Damage, FlippedBytes) {
  const uint32_t seed = 4242;
  std::mt19937 rng(seed);
  stored.insert(S(Rec(200)));
  for (int i = 0; i < 1500; ++i) {
    std::string bad = good;
    int flips = 1 + static_cast<int>(rng() % 4);
    std::string where;
    for (int j = 0; j < flips; ++j) {
      size_t at = rng() % 2 ? rng() % 1600 % bad.size() : rng() % bad.size();
      bad[at] = static_cast<char>(bad[at] ^ (1 + rng() % 255));
      where.append(" ").append(std::to_string(at));
    }
    // An Insert costs two syncs: try one on every tenth damaged file.
    Exercise(bad, "seed " + std::to_string(seed) + " flips at" + where, i % 10 == 0);
  }
}

// Files whose checksums are right but whose content is hostile.
class Hostile : public Damage {
 protected:
  engine::FileMeta Meta() {
    engine::FileMeta m;
    EXPECT_EQ(engine::DecodeHeader(reinterpret_cast<const uint8_t*>(good.data()), good.size(), &m), 0);
    return m;
  }
  // Rewrites the header's checksum after an edit.
  static void Reseal(std::string* bytes, uint32_t headerLength) {
    auto* b = reinterpret_cast<uint8_t*>(bytes->data());
    engine::Put32(b + headerLength - 4, engine::Crc32c(b, headerLength - 4));
  }
  int OpenAndScan(const std::string& bytes, int key = 0) {
    std::string p = dir.path() + "/HOSTILE.DAT";
    WriteFileBytes(p, bytes);
    Open f(p);
    if (f.status != 0) return f.status;
    Bytes rec;
    int st = f.First(key, &rec);
    while (st == 0) st = f.Next(key, &rec);
    return st == 9 ? 0 : st;
  }
};

TEST_F(Hostile, HeaderFieldsOutsideTheLimitsGive2) {
  engine::FileMeta m = Meta();
  struct Case { const char* name; size_t at; std::vector<uint8_t> value; };
  size_t seg = engine::kHeaderFixedSize;
  const Case cases[] = {
      {"record length below a segment's end", 16, {2, 0}},
      {"maximum below the fixed length", 18, {3, 0}},
      {"more keys than segments", 24, {3, 0}},
      {"segment count against header length", 26, {9, 0}},
      {"key count over the limit", 24, {0xFF, 0x7F}},
      {"segment past the record", seg + 0, {200, 0}},
      {"segment of length zero", seg + 2, {0, 0}},
      {"collating sequence out of range", seg + 16 + 8, {5}},
      {"keys out of order", seg + 9, {1}},
      {"segmented flag missing", seg + 16 + 4, {0x21, 0}},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    std::copy(c.value.begin(), c.value.end(), bad.begin() + static_cast<long>(c.at));
    Reseal(&bad, m.headerLength);
    EXPECT_EQ(OpenAndScan(bad), 2) << c.name;
  }
  std::string longHeader = good;
  engine::Put32(reinterpret_cast<uint8_t*>(longHeader.data()) + 12, 0x7FFFFFFF);
  EXPECT_EQ(OpenAndScan(longHeader), 2) << "header length";
  std::string version = good;
  version[8] = 9;
  EXPECT_EQ(OpenAndScan(version), 30) << "unknown version";
  std::string signature = good;
  signature[0] = 'X';
  EXPECT_EQ(OpenAndScan(signature), 30) << "signature";
}

TEST_F(Hostile, CommitsAndLogEntriesThatLieGive2) {
  engine::FileMeta m = Meta();
  auto commitAt = [&](const std::string& bytes, int slot) {
    return engine::DecodeCommit(m, reinterpret_cast<const uint8_t*>(bytes.data()) + m.commitOffset +
                                       uint64_t{m.commitBlockSize} * static_cast<unsigned>(slot));
  };
  auto newest = commitAt(good, 0);
  auto other = commitAt(good, 1);
  int slot = (!other || (newest && newest->sequence > other->sequence)) ? 0 : 1;
  engine::Commit c = *commitAt(good, slot);
  auto withCommit = [&](engine::Commit changed, std::string bytes) {
    changed.sequence = c.sequence + 1;
    auto block = engine::EncodeCommit(m, changed);
    std::copy(block.begin(), block.end(), bytes.begin() + static_cast<long>(m.commitOffset + uint64_t{m.commitBlockSize} * static_cast<unsigned>(1 - slot)));
    return bytes;
  };
  {
    engine::Commit x = c;
    x.logEnd = good.size() + 1000;
    EXPECT_EQ(OpenAndScan(withCommit(x, good)), 2) << "log end past the file";
  }
  {
    // Blocks beyond the engine's limits are not commits at all.
    engine::Commit x = c;
    x.logEnd = engine::kMaxFileSize + 1;
    EXPECT_FALSE(engine::DecodeCommit(m, engine::EncodeCommit(m, x).data())) << "file size limit";
    x = c;
    x.recordCount = engine::kMaxRecords + 1;
    EXPECT_FALSE(engine::DecodeCommit(m, engine::EncodeCommit(m, x).data())) << "record limit";
    EXPECT_TRUE(engine::DecodeCommit(m, engine::EncodeCommit(m, c).data()));
  }
  {
    engine::Commit x = c;
    x.recordCount += 1;
    EXPECT_EQ(OpenAndScan(withCommit(x, good)), 2) << "record count";
  }
  {
    engine::Commit x = c;
    x.distinct[1] -= 1;
    // A key's count is checked when the key is first indexed, and by a
    // verification of the whole file.
    std::string bad = withCommit(x, good);
    EXPECT_EQ(OpenAndScan(bad, 1), 2) << "distinct count";
    std::string problem;
    EXPECT_EQ(engine::VerifyFile(dir.path() + "/HOSTILE.DAT", "", &problem), 2) << "distinct count";
  }
  {
    engine::Commit x = c;
    x.logEnd = c.logEnd - 1;
    EXPECT_EQ(OpenAndScan(withCommit(x, good)), 2) << "log end inside an entry";
  }
  // Entries appended with valid checksums but lying content.
  struct Case { const char* name; std::vector<uint8_t> entry; int delta; };
  uint8_t twice[8];
  engine::Put64(twice, m.logStart + 7);  // not the start of an entry
  std::vector<Case> cases = {
      {"delete of a non-entry", engine::EncodeDelete(m.logStart + 7), -1},
      {"delete of a future entry", engine::EncodeDelete(c.logEnd + 100), -1},
      {"delete of a deleted record", engine::EncodeDelete(m.logStart), -1},
      {"insert shorter than the fixed part", engine::EncodeInsert(twice, 3), 1},
      {"insert repeating a unique key", engine::EncodeInsert(Rec(1).data(), 6), 1},
  };
  // The record at logStart (id 1) is deleted first so the third case holds.
  std::string base = good;
  {
    Open f(path);
    ASSERT_EQ(f.Equal(0, B({1, 0})), 0);
    ASSERT_EQ(f.Delete(), 0);
    ASSERT_EQ(f.Insert(Rec(1)), 0);
    f.Close();
    base = ReadFileBytes(path);
    m = Meta();
    good = base;
    newest = commitAt(base, 0);
    other = commitAt(base, 1);
    slot = (!other || (newest && newest->sequence > other->sequence)) ? 0 : 1;
    c = *commitAt(base, slot);
  }
  for (const Case& t : cases) {
    std::string bad = base.substr(0, c.logEnd);
    bad.append(t.entry.begin(), t.entry.end());
    engine::Commit x = c;
    x.logEnd = bad.size();
    x.recordCount = static_cast<uint64_t>(static_cast<int64_t>(c.recordCount) + t.delta);
    // Keep the commit itself plausible, so that only the entry lies.
    for (uint32_t& d : x.distinct) d = std::min<uint32_t>(d, static_cast<uint32_t>(x.recordCount));
    EXPECT_EQ(OpenAndScan(withCommit(x, bad)), 2) << t.name;
  }
}

}  // namespace
