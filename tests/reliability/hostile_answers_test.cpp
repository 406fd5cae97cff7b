// Record-manager answers that no file of the embedded engine can produce
// (its limits are tighter) but another record manager could: a key count of
// 255, a key that never ends, a 65535-byte segment, ACS numbers past the
// collating sequences, 100,000 FIELD.DDF rows at one offset. A whole run over
// a scripted one-table database must end normally, inside its buffers (the
// sanitizer build checks that), with the lines a user can act on.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "capture.h"
#include "driver/driver.h"
#include "fake_entry.h"
#include "recmgr/recmgr.h"
#include "spine_reset.h"

namespace {

void Put16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}
unsigned Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// One table, "Big" (id 1), in a scripted dictionary.
struct ScriptedDatabase {
  std::vector<std::array<uint8_t, 32>> fields;  // in key 4 order
  std::vector<std::array<uint8_t, 10>> indexes;
  std::map<std::string, std::vector<uint8_t>> attrib;  // by key 0 (3 bytes)
  std::vector<uint8_t> stat;                           // the data file's Stat result
  size_t fieldCursor = 0;
  bool fileRead = false;
  std::string attribCurrent;
  int inserts = 0;

  void AddField(unsigned id, unsigned offset, unsigned size, uint8_t type, const char* name) {
    std::array<uint8_t, 32> r{};
    Put16(&r[0], id);
    Put16(&r[2], 1);
    std::memset(&r[4], ' ', 20);
    std::memcpy(&r[4], name, std::strlen(name));
    r[24] = type;
    Put16(&r[25], offset);
    Put16(&r[27], size);
    fields.push_back(r);
  }
  void AddIndex(unsigned column, unsigned key, unsigned segment, unsigned flags) {
    std::array<uint8_t, 10> r{};
    Put16(&r[0], 1);
    Put16(&r[2], column);
    Put16(&r[4], key);
    Put16(&r[6], segment);
    Put16(&r[8], flags);
    indexes.push_back(r);
  }
  // A Stat result: a FileSpec with K keys, then the given KeySpec entries.
  void SetStat(int keys, const std::vector<std::array<uint8_t, 16>>& specs,
               const std::vector<std::vector<uint8_t>>& acs = {}) {
    stat.assign(16, 0);
    stat[4] = static_cast<uint8_t>(keys);
    for (const auto& s : specs) stat.insert(stat.end(), s.begin(), s.end());
    for (const auto& a : acs) stat.insert(stat.end(), a.begin(), a.end());
  }

  static int SlotOf(const void* block) {
    for (int s = 0; s < SLOT_COUNT; ++s) {
      if (block == FileSlots[s].positionBlock) return s;
    }
    return -1;
  }

  static int Deliver(FakeCall& c, const uint8_t* record, size_t size) {
    size_t n = size < *c.dataLength ? size : *c.dataLength;
    std::memcpy(c.data, record, n);
    if (size > *c.dataLength) return 22;
    *c.dataLength = static_cast<uint32_t>(size);
    return 0;
  }

  int Answer(FakeCall& c) {
    const int slot = SlotOf(c.positionBlock);
    switch (c.operation) {
      case 0: case 1: case 28: return 0;
      default: break;
    }
    if (slot == SLOT_FILE) {
      if (c.operation == 6 || fileRead) return 9;
      fileRead = true;
      uint8_t r[97] = {};
      Put16(r, 1);
      std::memset(r + 2, ' ', 20);
      std::memcpy(r + 2, "Big", 3);
      std::memcpy(r + 22, "BIG.DAT", 7);
      return Deliver(c, r, sizeof r);
    }
    if (slot == SLOT_DATA && c.operation == 15) {
      if (stat.size() > *c.dataLength) return 22;
      std::memcpy(c.data, stat.data(), stat.size());
      *c.dataLength = static_cast<uint32_t>(stat.size());
      return 0;
    }
    if (slot == SLOT_FIELD) {
      if (c.operation == 9) {
        const unsigned table = Get16(c.key), offset = Get16(c.key + 2);
        fieldCursor = 0;
        while (fieldCursor < fields.size() &&
               (Get16(&fields[fieldCursor][2]) < table ||
                (Get16(&fields[fieldCursor][2]) == table &&
                 Get16(&fields[fieldCursor][25]) < offset))) {
          ++fieldCursor;
        }
      } else if (c.operation == 6) {
        ++fieldCursor;
      }
      if (fieldCursor >= fields.size()) return 9;
      return Deliver(c, fields[fieldCursor].data(), 32);
    }
    if (slot == SLOT_INDEX && c.operation == 5) {
      for (const auto& r : indexes) {
        if (std::memcmp(&r[0], c.key, 2) == 0 && std::memcmp(&r[4], c.key + 2, 4) == 0) {
          return Deliver(c, r.data(), r.size());
        }
      }
      return 4;
    }
    if (slot == SLOT_ATTRIB) {
      if (c.operation == 5) {
        auto it = attrib.find(std::string(reinterpret_cast<char*>(c.key), 3));
        if (it == attrib.end()) return 4;
        attribCurrent = it->first;
        return Deliver(c, it->second.data(), it->second.size());
      }
      if (c.operation == 4) return attrib.erase(attribCurrent) ? 0 : 8;
      if (c.operation == 2) {
        std::string key(reinterpret_cast<char*>(c.data), 3);
        if (attrib.count(key)) return 5;
        attrib[key].assign(c.data, c.data + *c.dataLength);
        ++inserts;
        return 0;
      }
    }
    return 1;
  }
};

std::array<uint8_t, 16> Spec(unsigned position, unsigned length, unsigned flags, unsigned key,
                             unsigned acs = 0, uint8_t type = 0) {
  std::array<uint8_t, 16> s{};
  Put16(&s[0], position);
  Put16(&s[2], length);
  Put16(&s[4], flags);
  s[10] = type;
  s[14] = static_cast<uint8_t>(key);
  s[15] = static_cast<uint8_t>(acs);
  return s;
}

struct RunOutput {
  int exitCode;
  std::string out, err;
};

RunOutput RunScrutor(ScriptedDatabase& db, std::vector<std::string> args) {
  ResetSpineState();
  FakeRecordManager fake;
  fake.SetHandler([&](FakeCall& c) { return db.Answer(c); });
  std::vector<std::string> storage = {"scrutor"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  RunOutput r;
  StdinReplacement input = StdinReplacement::DevNull();
  OutputCapture capture;
  r.exitCode = ScrutorMain(static_cast<int>(storage.size()), argv.data());
  fflush(stdout);
  fflush(stderr);
  capture.Finish();
  r.out = capture.out();
  r.err = capture.err();
  return r;
}

bool EndsWithDone(const std::string& out) {
  return out.size() >= 6 && out.compare(out.size() - 6, 6, "Done.\n") == 0;
}

TEST(HostileAnswers, KeyCountOf255WhoseKeysNeverEndStaysInsideTheStatBuffer) {
  ScriptedDatabase db;
  db.AddField(10, 0, 2, 0, "Code");
  // Every entry says "another segment follows", up to the end of the buffer.
  std::vector<std::array<uint8_t, 16>> specs((33236 - 16) / 16, Spec(1, 2, 0x0010, 0));
  db.SetStat(255, specs);
  RunOutput r = RunScrutor(db, {"*", "/A", "/K"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(EndsWithDone(r.out)) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
}

TEST(HostileAnswers, KeyCountOf255IsWalkedKeyByKey) {
  ScriptedDatabase db;
  db.AddField(10, 0, 2, 0, "Code");
  std::vector<std::array<uint8_t, 16>> specs;
  for (unsigned k = 0; k < 255; ++k) specs.push_back(Spec(1, 2, 0, k));
  db.SetStat(255, specs);
  for (unsigned k = 0; k < 255; ++k) db.AddIndex(10, k, 0, 0);
  RunOutput r = RunScrutor(db, {"*", "/K", "/S"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Starting on Key 254 of 255\n"), std::string::npos);
  EXPECT_NE(r.out.find("Btrieve Keys    = 255\n"), std::string::npos);
  EXPECT_NE(r.out.find("Indices Verified= 255\n"), std::string::npos) << r.out.substr(r.out.size() - 200);
}

TEST(HostileAnswers, SegmentOf65535BytesEnds) {
  // Over 1,000 one-byte columns (each verified as one more segment) and past
  // them; and at the last position, so that position + length overflows 16
  // bits.
  const struct {
    unsigned position, length;
    const char* noField;
  } cases[] = {{1, 65535, " No Fields Found At Offset 1000 of table Big.\n"},
               {2, 65534, " No Fields Found At Offset 1000 of table Big.\n"},
               {65535, 65535, " No Fields Found At Offset 65534 of table Big.\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("position " + std::to_string(c.position));
    ScriptedDatabase db;
    for (unsigned i = 0; i < 1000; ++i) db.AddField(100 + i, i, 1, 0, "B");
    db.SetStat(1, {Spec(c.position, c.length, 0, 0)});
    RunOutput r = RunScrutor(db, {"*", "/S"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find(c.noField), std::string::npos) << r.out.substr(r.out.size() - 300);
    EXPECT_NE(r.out.find("Indices Corrupt = 1\n"), std::string::npos);
  }
}

TEST(HostileAnswers, AcsNumberPastTheCollatingSequencesInsertsNothing) {
  std::vector<uint8_t> acs(265, 0x41);
  acs[0] = 0xAC;
  std::vector<uint8_t> unsigned_acs = acs;
  unsigned_acs[0] = 0x00;  // no signature
  const struct {
    const char* what;
    unsigned acsNumber;
    std::vector<std::vector<uint8_t>> tables;
    bool fillBuffer;
  } cases[] = {
      {"one past the only one", 1, {acs}, false},
      {"far past", 200, {acs}, false},
      {"255 with the buffer full", 255, {acs}, true},
      {"no signature", 0, {unsigned_acs}, false},
      {"none at all", 0, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDatabase db;
    db.AddField(10, 0, 20, 0, "Name");
    db.AddIndex(10, 0, 0, 0x0004);
    db.SetStat(1, {Spec(1, 20, 0x0020, 0, c.acsNumber)}, c.tables);
    if (c.fillBuffer) db.stat.resize(33236, 0xAC);
    RunOutput r = RunScrutor(db, {"*", "/A", "/F"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find(" FIX: Need to create new ATTRIB.DDF Record!\n"
                         " Error: No ACS found when trying to insert a new ACS record.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(db.inserts, 0);
    EXPECT_TRUE(db.attrib.empty());
    EXPECT_TRUE(EndsWithDone(r.out));
  }
}

TEST(HostileAnswers, HundredThousandColumnsAtOneOffset) {
  // Named indexes (type 255) are passed over one by one; the real column
  // comes last.
  ScriptedDatabase db;
  for (unsigned i = 0; i < 100000; ++i) db.AddField(100 + i, 0, 4, 255, "ByCode");
  db.AddField(7, 0, 4, 0, "Code");
  db.AddIndex(7, 0, 0, 0);
  db.SetStat(1, {Spec(1, 4, 0, 0)});
  RunOutput r = RunScrutor(db, {"*", "/S"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Indices Verified= 1\n"), std::string::npos) << r.out;

  // All 100,000 are named indexes: no column fits.
  ScriptedDatabase none;
  for (unsigned i = 0; i < 100000; ++i) none.AddField(100 + i, 0, 4, 255, "ByCode");
  none.SetStat(1, {Spec(1, 4, 0, 0)});
  r = RunScrutor(none, {"*", "/S"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find(" No Fields Found At Offset 0 of table Big.\n"), std::string::npos)
      << r.out;
}

}  // namespace
