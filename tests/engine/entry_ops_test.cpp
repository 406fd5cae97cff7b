// The entry's operations: results, statuses and the data-length rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "engine_test_util.h"
#include "fault_fs.h"
#include "run_process.h"

namespace {

using namespace enginetest;

// 8-byte records: key 0 unique unsigned id (bytes 0-1), key 1 a 4-byte
// case-insensitive name with duplicates (bytes 2-5), bytes 6-7 payload.
engine::FileDef PeopleDef() {
  engine::FileDef def;
  def.recordLength = 8;
  def.pageSize = 1024;
  def.keys.push_back(Key(0, {Seg(1, 2, 14)}));
  def.keys.push_back(Key(1, {Seg(3, 4, 0, 0x0400 | 0x0001)}));
  return def;
}

Bytes Person(int id, const std::string& name, int payload = 0) {
  Bytes r(8, 0);
  r[0] = static_cast<uint8_t>(id);
  r[1] = static_cast<uint8_t>(id >> 8);
  for (size_t i = 0; i < 4 && i < name.size(); ++i) r[2 + i] = static_cast<uint8_t>(name[i]);
  r[6] = static_cast<uint8_t>(payload);
  return r;
}

Bytes Id(int id) { return B({id & 0xFF, id >> 8}); }

class EntryOps : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.path() + "/PEOPLE.DAT";
    ASSERT_EQ(engine::CreateFile(path, PeopleDef()), 0);
  }
  void TearDown() override { engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0); }
  void Fill(Open& f) {
    ASSERT_EQ(f.Insert(Person(3, "carl", 1)), 0);
    ASSERT_EQ(f.Insert(Person(1, "ANNA", 2)), 0);
    ASSERT_EQ(f.Insert(Person(2, "anna", 3)), 0);
    ASSERT_EQ(f.Insert(Person(4, "Bert", 4)), 0);
  }
  TempDir dir;
  std::string path;
};

TEST_F(EntryOps, KeysOrderRecordsAndDuplicatesKeepInsertionOrder) {
  Open f(path);
  ASSERT_EQ(f.status, 0);
  Fill(f);
  auto byId = f.Scan(0);
  ASSERT_EQ(byId.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(byId[i][0], i + 1);
  auto byName = f.Scan(1);
  ASSERT_EQ(byName.size(), 4u);
  EXPECT_EQ(byName[0], Person(1, "ANNA", 2));  // equal under folding: insertion order
  EXPECT_EQ(byName[1], Person(2, "anna", 3));
  EXPECT_EQ(byName[2], Person(4, "Bert", 4));
  EXPECT_EQ(byName[3], Person(3, "carl", 1));
}

TEST_F(EntryOps, GetsFindTheRightRecordAndHandBackKeyAndLength) {
  Open f(path);
  Fill(f);
  Bytes rec, key;
  EXPECT_EQ(f.Get(kGetEqual, 1, Str("ANNA"), &rec, 4096, &key), 0);
  EXPECT_EQ(rec, Person(1, "ANNA", 2));  // the first of the equal ones
  EXPECT_EQ(Bytes(key.begin(), key.begin() + 4), Str("ANNA"));
  EXPECT_EQ(f.Next(1, &rec), 0);
  EXPECT_EQ(rec, Person(2, "anna", 3));
  EXPECT_EQ(f.Ge(0, Id(3), &rec), 0);
  EXPECT_EQ(rec, Person(3, "carl", 1));
  EXPECT_EQ(f.Ge(1, Str("B\0\0\0"), &rec), 0);
  EXPECT_EQ(rec, Person(4, "Bert", 4));
  EXPECT_EQ(f.Next(1, &rec), 0);
  EXPECT_EQ(rec, Person(3, "carl", 1));
  EXPECT_EQ(f.Next(1, &rec), 9);
  EXPECT_EQ(f.Next(1, &rec), 9);  // stays at the end
}

TEST_F(EntryOps, StatusesOfGets) {
  Open f(path);
  EXPECT_EQ(f.First(0), 9);  // empty file
  EXPECT_EQ(f.Next(0), 8);   // no position yet
  Fill(f);
  struct Case { const char* name; uint32_t op; int key; Bytes value; int status; };
  const Case cases[] = {
      {"equal missing", kGetEqual, 0, Id(9), 4},
      {"ge past the end", kGetGe, 0, Id(9), 9},
      {"ge on the last", kGetGe, 0, Id(4), 0},
      {"key out of range", kGetFirst, 2, {}, 6},
      {"key 0xFF out of range", kGetEqual, 0xFF, Id(1), 6},
      {"first", kGetFirst, 0, {}, 0},
      {"next on another key", kGetNext, 1, {}, 7},
  };
  for (const Case& c : cases) EXPECT_EQ(f.Get(c.op, c.key, c.value), c.status) << c.name;
}

TEST_F(EntryOps, FailedGetLeavesBufferLengthAndPosition) {
  Open f(path);
  Fill(f);
  ASSERT_EQ(f.Equal(0, Id(2)), 0);
  uint8_t data[16];
  std::memset(data, 0x5A, sizeof data);
  uint32_t len = 16;
  uint8_t key[255] = {9, 0};
  EXPECT_EQ(engine::Entry(kGetEqual, f.pb, data, &len, key, 255, 0), 4);
  EXPECT_EQ(len, 16u);
  for (uint8_t b : data) EXPECT_EQ(b, 0x5A);
  EXPECT_EQ(key[0], 9);
  // The position is still on id 2.
  Bytes rec;
  EXPECT_EQ(f.Next(0, &rec), 0);
  EXPECT_EQ(rec[0], 3);
}

TEST_F(EntryOps, ShortBufferGetsThePrefixAnd22) {
  Open f(path);
  Fill(f);
  uint8_t data[8];
  std::memset(data, 0x5A, sizeof data);
  uint32_t len = 5;
  uint8_t key[255];
  Bytes one = Id(1);
  std::memcpy(key, one.data(), 2);
  EXPECT_EQ(engine::Entry(kGetEqual, f.pb, data, &len, key, 255, 0), 22);
  EXPECT_EQ(len, 5u);
  Bytes want = Person(1, "ANNA", 2);
  EXPECT_TRUE(std::equal(data, data + 5, want.begin()));
  EXPECT_EQ(data[5], 0x5A);  // nothing past the length sent
}

TEST_F(EntryOps, NothingWrittenPastTheKeyLength) {
  Open f(path);
  Fill(f);
  uint8_t data[64];
  uint32_t len = sizeof data;
  uint8_t key[255];
  std::memset(key, 0x77, sizeof key);
  key[0] = 1;
  key[1] = 0;
  ASSERT_EQ(engine::Entry(kGetEqual, f.pb, data, &len, key, 255, 0), 0);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(key[2], 0x77);
  // Insert hands back the key value of the key named, no more.
  std::memset(key, 0x77, sizeof key);
  Bytes r = Person(7, "Zed");
  len = 8;
  ASSERT_EQ(engine::Entry(kInsert, f.pb, r.data(), &len, key, 255, 1), 0);
  EXPECT_EQ(Bytes(key, key + 4), Bytes({'Z', 'e', 'd', 0}));
  EXPECT_EQ(key[4], 0x77);
  EXPECT_EQ(len, 8u);
  // The position is on the new record in key 1.
  Bytes rec;
  EXPECT_EQ(f.Next(1, &rec), 9);
}

TEST_F(EntryOps, InsertWithKeyMinusOneKeepsThePositionAndTheKeyBuffer) {
  Open f(path);
  Fill(f);
  ASSERT_EQ(f.Equal(0, Id(2)), 0);
  Bytes key;
  ASSERT_EQ(f.Insert(Person(9, "Zed"), 0xFF, &key), 0);
  EXPECT_EQ(key, Bytes(255, 0));
  Bytes rec;
  ASSERT_EQ(f.Next(0, &rec), 0);
  EXPECT_EQ(rec[0], 3);
  EXPECT_EQ(f.Scan(0).size(), 5u);
}

TEST_F(EntryOps, UniqueKeyRefusesDuplicatesAndChangesNothing) {
  Open f(path);
  Fill(f);
  EXPECT_EQ(f.Insert(Person(2, "dora")), 5);
  EXPECT_EQ(f.Scan(0).size(), 4u);
  EXPECT_EQ(f.Scan(1).size(), 4u);
  Bytes stat;
  ASSERT_EQ(f.Stat(&stat), 0);
  EXPECT_EQ(U32(stat, 6), 4u);
}

TEST_F(EntryOps, InsertLengthAndAccessRules) {
  Open f(path);
  EXPECT_EQ(f.Insert(Bytes(7, 1)), 22);
  EXPECT_EQ(f.Insert(Bytes(9, 1)), 22);
  EXPECT_EQ(f.Insert(Person(1, "a"), 2), 6);
  EXPECT_EQ(f.First(0), 9);  // none of those stored anything
  Open ro(path, "", -2);
  ASSERT_EQ(ro.status, 0);
  EXPECT_EQ(ro.Insert(Person(1, "a")), 46);
  ASSERT_EQ(f.Insert(Person(1, "a")), 0);
  ASSERT_EQ(ro.First(0), 0);
  EXPECT_EQ(ro.Delete(), 46);
}

TEST_F(EntryOps, DeleteRemovesTheCurrentRecordAndNextContinues) {
  Open f(path);
  Fill(f);
  EXPECT_EQ(f.Delete(), 0);  // Insert left the position on Bert
  EXPECT_EQ(f.Equal(0, Id(4)), 4);
  EXPECT_EQ(f.Delete(), 8);  // the failed Get left no position
  ASSERT_EQ(f.Equal(1, Str("ANNA")), 0);
  ASSERT_EQ(f.Delete(), 0);
  EXPECT_EQ(f.Delete(), 8);
  Bytes rec;
  ASSERT_EQ(f.Next(1, &rec), 0);
  EXPECT_EQ(rec, Person(2, "anna", 3));
  ASSERT_EQ(f.Delete(), 0);
  ASSERT_EQ(f.Next(1, &rec), 0);  // carl followed anna
  EXPECT_EQ(rec, Person(3, "carl", 1));
  ASSERT_EQ(f.Delete(), 0);
  EXPECT_EQ(f.Next(1, &rec), 9);
  EXPECT_EQ(f.First(0), 9);
  Open fresh;
  EXPECT_EQ(fresh.Delete(), 3);
}

TEST_F(EntryOps, ChangesPersistAcrossCloseAndReopen) {
  {
    Open f(path);
    Fill(f);
    ASSERT_EQ(f.Equal(0, Id(3)), 0);
    ASSERT_EQ(f.Delete(), 0);
    ASSERT_EQ(f.Close(), 0);
  }
  Open g(path);
  auto all = g.Scan(0);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2], Person(4, "Bert", 4));
  std::vector<Bytes> records;
  ASSERT_EQ(engine::ReadAllRecords(path, "", &records), 0);
  EXPECT_EQ(records, all);
  EXPECT_EQ(engine::VerifyFile(path, ""), 0);
}

TEST_F(EntryOps, OtherOpensSeeChanges) {
  Open a(path), b(path);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  ASSERT_EQ(b.First(0), 9);
  Fill(a);
  EXPECT_EQ(b.Scan(0).size(), 4u);
  ASSERT_EQ(b.Equal(0, Id(2)), 0);
  ASSERT_EQ(a.Equal(0, Id(3)), 0);
  ASSERT_EQ(a.Delete(), 0);
  Bytes rec;
  ASSERT_EQ(b.Next(0, &rec), 0);  // b's view moved past the deleted record
  EXPECT_EQ(rec[0], 4);
}

TEST_F(EntryOps, StatLayout) {
  engine::FileDef def;
  def.recordLength = 5;
  def.variable = true;
  def.maxRecordLength = 2053;
  def.pageSize = 512;
  def.keys.push_back(Key(0, {Seg(1, 2, 14), Seg(3, 1, 0, 0x0020, 0)}));
  def.keys.push_back(Key(7, {Seg(4, 2, 1, 0x0001 | 0x0040)}));
  std::array<uint8_t, 265> acs{};
  acs[0] = 0xAC;
  std::memcpy(&acs[1], "UPPER   ", 8);
  for (int i = 0; i < 256; ++i) acs[9 + i] = static_cast<uint8_t>(i);
  def.acs.push_back(acs);
  std::string p = dir.path() + "/ATTRIB.DDF";
  ASSERT_EQ(engine::CreateFile(p, def), 0);
  Open f(p);
  ASSERT_EQ(f.Insert(B({1, 0, 'O', 5, 0})), 0);
  ASSERT_EQ(f.Insert(B({2, 0, 'O', 5, 0, 9, 9})), 0);
  ASSERT_EQ(f.Insert(B({3, 0, 'O', 6, 0})), 0);
  Bytes s;
  uint32_t need = 16 + 16 * 3 + 265;
  // Too short by one: 22 and nothing written.
  ASSERT_EQ(f.Stat(&s, need - 1), 22);
  EXPECT_EQ(s, Bytes(need - 1, 0));
  ASSERT_EQ(f.Stat(&s), 0);
  ASSERT_EQ(s.size(), need);
  Bytes fileSpec = B({5, 0, 0, 2, 2, 1, 3, 0, 0, 0, 1, 0, 0, 0, 0, 0});
  EXPECT_EQ(Bytes(s.begin(), s.begin() + 16), fileSpec);
  Bytes k0s0 = B({1, 0, 2, 0, 0x10, 0, 3, 0, 0, 0, 14, 0, 0, 0, 0, 0});
  Bytes k0s1 = B({3, 0, 1, 0, 0x20, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Bytes k1s0 = B({4, 0, 2, 0, 0x41, 0, 2, 0, 0, 0, 1, 0, 0, 0, 7, 0});
  EXPECT_EQ(Bytes(s.begin() + 16, s.begin() + 32), k0s0);
  EXPECT_EQ(Bytes(s.begin() + 32, s.begin() + 48), k0s1);
  EXPECT_EQ(Bytes(s.begin() + 48, s.begin() + 64), k1s0);
  EXPECT_EQ(Bytes(s.begin() + 64, s.end()), Bytes(acs.begin(), acs.end()));
  // Variable-length records: the length handed back is the record's own.
  Bytes rec;
  ASSERT_EQ(f.Equal(0, B({2, 0, 'O'}), &rec), 0);
  EXPECT_EQ(rec, B({2, 0, 'O', 5, 0, 9, 9}));
  EXPECT_EQ(f.Insert(Bytes(4, 0)), 22);
  EXPECT_EQ(f.Insert(Bytes(2054, 0)), 22);
  Bytes big(2053, 0x42);
  big[0] = 9;
  big[1] = 0;
  EXPECT_EQ(f.Insert(big), 0);
  EXPECT_EQ(f.Equal(0, B({9, 0, 0x42}), &rec), 0);
  EXPECT_EQ(rec, big);
}

TEST_F(EntryOps, CollatingSequencesAreKeptExactlyAsCreated) {
  // The 0xAC signature is the reader's business: a sequence without it is
  // stored and handed back by Stat byte for byte.
  engine::FileDef def;
  def.recordLength = 8;
  def.keys.push_back(Key(0, {Seg(1, 8, 0, 0x0020, 1)}));
  std::array<uint8_t, 265> signedAcs{}, unsignedAcs{};
  signedAcs[0] = 0xAC;
  for (int i = 0; i < 256; ++i) {
    signedAcs[9 + i] = static_cast<uint8_t>(i);
    unsignedAcs[9 + i] = static_cast<uint8_t>(255 - i);
  }
  def.acs = {signedAcs, unsignedAcs};
  std::string p = dir.path() + "/T.DAT";
  ASSERT_EQ(engine::CreateFile(p, def), 0);
  Open f(p);
  Bytes s;
  ASSERT_EQ(f.Stat(&s), 0);
  ASSERT_EQ(s.size(), 16u + 16u + 2u * 265u);
  EXPECT_EQ(Bytes(s.begin() + 32, s.begin() + 32 + 265), Bytes(signedAcs.begin(), signedAcs.end()));
  EXPECT_EQ(Bytes(s.begin() + 32 + 265, s.end()), Bytes(unsignedAcs.begin(), unsignedAcs.end()));
  // The unsigned sequence still orders its key: byte i sorts as 255 - i.
  ASSERT_EQ(f.Insert(B({1, 0, 0, 0, 0, 0, 0, 0})), 0);
  ASSERT_EQ(f.Insert(B({2, 0, 0, 0, 0, 0, 0, 0})), 0);
  Bytes rec;
  ASSERT_EQ(f.First(0, &rec), 0);
  EXPECT_EQ(rec[0], 2);
}

TEST_F(EntryOps, OpenStatuses) {
  std::string junk = dir.path() + "/JUNK.DAT";
  WriteFileBytes(junk, std::string(600, 'x'));
  std::string tiny = dir.path() + "/TINY.DAT";
  WriteFileBytes(tiny, "abc");
  mkdir((dir.path() + "/SUB").c_str(), 0755);
  std::string pipe = dir.path() + "/PIPE.DAT";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  struct Case { const char* name; std::string path; int8_t mode; int status; };
  const Case cases[] = {
      {"missing", dir.path() + "/NONE.DAT", 0, 12},
      {"missing folder", dir.path() + "/NODIR/X.DAT", 0, 12},
      {"empty name", "", 0, 11},
      {"a directory", dir.path() + "/SUB", 0, 11},
      {"a directory, read-only", dir.path() + "/SUB", -2, 11},
      {"a named pipe (never waits)", pipe, 0, 11},
      {"a device without end", "/dev/zero", 0, 11},
      {"an empty device", "/dev/null", 0, 11},
      {"foreign file", junk, 0, 30},
      {"tiny foreign file", tiny, 0, 30},
      {"unknown mode", path, 5, 88},
      {"unknown negative mode", path, -9, 88},
      {"normal", path, 0, 0},
      {"read-only", path, -2, 0},
  };
  for (const Case& c : cases) {
    Open f(c.path, "", c.mode);
    EXPECT_EQ(f.status, c.status) << c.name;
    if (f.status == 0) {
      EXPECT_EQ(f.Close(), 0);
    }
  }
}

TEST_F(EntryOps, BackslashesSeparateDirectories) {
  mkdir((dir.path() + "/DATA").c_str(), 0755);
  ASSERT_EQ(engine::CreateFile(dir.path() + "/DATA/ORDERS.DAT", PeopleDef()), 0);
  Open f(dir.path() + "\\DATA\\ORDERS.DAT");
  EXPECT_EQ(f.status, 0);
}

TEST_F(EntryOps, ExclusiveOpenExcludesOthers) {
  Open ex(path, "", -4);
  ASSERT_EQ(ex.status, 0);
  Open other(path);
  EXPECT_EQ(other.status, 85);
  ASSERT_EQ(ex.Close(), 0);
  Open shared(path);
  ASSERT_EQ(shared.status, 0);
  Open ex2(path, "", -4);
  EXPECT_EQ(ex2.status, 85);
}

TEST_F(EntryOps, PositionBlocksThatAreNotOpenGive3) {
  Open f(path);
  Fill(f);
  uint8_t data[64];
  uint32_t len = sizeof data;
  uint8_t key[255] = {};
  // Zeroed.
  uint8_t zero[128] = {};
  EXPECT_EQ(engine::Entry(kGetFirst, zero, data, &len, key, 255, 0), 3);
  EXPECT_EQ(engine::Entry(kGetFirst, nullptr, data, &len, key, 255, 0), 3);
  // Forged: a copy with one bit of the check changed, or another slot.
  for (int byte : {4, 8, 16, 23, 0}) {
    uint8_t forged[128];
    std::memcpy(forged, f.pb, 128);
    forged[byte] ^= 0x01;
    EXPECT_EQ(engine::Entry(kGetFirst, forged, data, &len, key, 255, 0), 3) << byte;
  }
  // Stale: closed, then the slot reused by a new open.
  uint8_t stale[128];
  std::memcpy(stale, f.pb, 128);
  ASSERT_EQ(f.Close(), 0);
  EXPECT_EQ(engine::Entry(kGetFirst, stale, data, &len, key, 255, 0), 3);
  EXPECT_EQ(f.Close(), 3);
  Open g(path);
  ASSERT_EQ(g.status, 0);
  EXPECT_EQ(engine::Entry(kGetFirst, stale, data, &len, key, 255, 0), 3);
  // Reset closes every file.
  EXPECT_EQ(engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(engine::Entry(kGetFirst, g.pb, data, &len, key, 255, 0), 3);
  EXPECT_EQ(len, sizeof data);
}

// Enough records to spread each key's index over many chunks.
TEST_F(EntryOps, ManyRecordsInRandomOrderScanSorted) {
  std::mt19937 rng(5);
  std::vector<int> ids(20000);
  for (size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<int>(i);
  std::shuffle(ids.begin(), ids.end(), rng);
  std::vector<Bytes> records;
  for (int id : ids) records.push_back(Person(id, std::string(1, static_cast<char>('a' + id % 26)), id % 251));
  size_t failed = 0;
  ASSERT_EQ(engine::InsertRecords(path, "", records), 0);
  // A batch repeating a unique key stores nothing and names the record.
  std::vector<Bytes> clash = {Person(30000, "x"), Person(5, "y")};
  EXPECT_EQ(engine::InsertRecords(path, "", clash, &failed), 5);
  EXPECT_EQ(failed, 1u);
  FaultFs fs;  // thousands of deletes: skip the real syncs
  Open f(path);
  // Delete every third id through Get Equal.
  for (int id = 0; id < 20000; id += 3) {
    ASSERT_EQ(f.Equal(0, Id(id)), 0);
    ASSERT_EQ(f.Delete(), 0);
  }
  auto byId = f.Scan(0);
  ASSERT_EQ(byId.size(), 20000u - 6667u);
  for (size_t i = 1; i < byId.size(); ++i) ASSERT_LT(U16(byId[i - 1], 0), U16(byId[i], 0));
  // Key 1: names case-insensitively, equal names in insertion order.
  std::vector<std::pair<int, size_t>> expected;  // (name letter, insertion index)
  for (size_t i = 0; i < ids.size(); ++i)
    if (ids[i] % 3 != 0) expected.push_back({ids[i] % 26, i});
  std::sort(expected.begin(), expected.end());
  auto byName = f.Scan(1);
  ASSERT_EQ(byName.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(U16(byName[i], 0), ids[expected[i].second]) << i;
  Bytes stat;
  ASSERT_EQ(f.Stat(&stat), 0);
  EXPECT_EQ(U32(stat, 16 + 6), 13333u);  // distinct ids
  EXPECT_EQ(U32(stat, 32 + 6), 26u);     // distinct names
  EXPECT_EQ(engine::VerifyFile(path, ""), 0);
}

TEST_F(EntryOps, FileWithoutKeysKeepsInsertionOrder) {
  engine::FileDef def;
  def.recordLength = 0;
  def.variable = true;
  def.maxRecordLength = 10;
  std::string p = dir.path() + "/NOKEYS.DAT";
  ASSERT_EQ(engine::CreateFile(p, def), 0);
  Open f(p);
  ASSERT_EQ(f.Insert(Str("zz"), 7), 0);
  ASSERT_EQ(f.Insert(Bytes{}), 0);
  ASSERT_EQ(f.Insert(Str("aa")), 0);
  EXPECT_EQ(f.First(0), 6);
  Bytes stat;
  ASSERT_EQ(f.Stat(&stat), 0);
  EXPECT_EQ(stat.size(), 16u);
  EXPECT_EQ(stat[4], 0);
  EXPECT_EQ(U32(stat, 6), 3u);
  std::vector<Bytes> records;
  ASSERT_EQ(engine::ReadAllRecords(p, "", &records), 0);
  EXPECT_EQ(records, (std::vector<Bytes>{Str("zz"), Bytes{}, Str("aa")}));
  EXPECT_EQ(engine::VerifyFile(p, ""), 0);
}

TEST_F(EntryOps, UnknownOperationGives1) {
  Open f(path);
  uint32_t len = 0;
  EXPECT_EQ(engine::Entry(3, f.pb, nullptr, &len, nullptr, 0, 0), 1);
  EXPECT_EQ(engine::Entry(99, f.pb, nullptr, &len, nullptr, 0, 0), 1);
}

TEST_F(EntryOps, CreateRefusesExistingFilesAndBadDefinitions) {
  std::string err;
  EXPECT_NE(engine::CreateFile(path, PeopleDef(), &err), 0);
  EXPECT_FALSE(err.empty());
  struct Case { const char* name; engine::FileDef def; };
  std::vector<Case> cases;
  auto base = PeopleDef();
  {
    auto d = base; d.keys[0].segments[0].position = 8; cases.push_back({"segment past the record", d});
  }
  {
    auto d = base; d.keys[0].segments[0].position = 0; cases.push_back({"position 0", d});
  }
  {
    auto d = base; d.keys[0].segments.clear(); cases.push_back({"key without segments", d});
  }
  {
    auto d = base; d.keys[1].segments[0].flags |= 0x0020; cases.push_back({"missing collating sequence", d});
  }
  {
    auto d = base; d.recordLength = 0; cases.push_back({"no record length", d});
  }
  {
    auto d = base; d.recordLength = 300; d.keys = {Key(0, {Seg(1, 200, 0), Seg(201, 60, 0)})};
    cases.push_back({"key longer than 255", d});
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string p = dir.path() + "/BAD" + std::to_string(i);
    err.clear();
    EXPECT_NE(engine::CreateFile(p, cases[i].def, &err), 0) << cases[i].name;
    EXPECT_FALSE(err.empty()) << cases[i].name;
    struct stat st;
    EXPECT_NE(stat(p.c_str(), &st), 0) << cases[i].name << ": left a file behind";
  }
}

}  // namespace
