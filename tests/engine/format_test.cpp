// An independent reader of the file format, written from
// docs/file-format.md, agrees with the engine about what a file holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/checksum.h"
#include "engine_test_util.h"
#include "run_process.h"

namespace {

using namespace enginetest;

// Bit-by-bit CRC-32C, deliberately not the engine's table-driven one.
uint32_t SlowCrc32c(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1) ? 0x82F63B78u : 0);
  }
  return ~crc;
}

uint64_t U64(const std::string& b, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}
uint32_t U32s(const std::string& b, size_t at) { return static_cast<uint32_t>(U64(b + std::string(8, '\0'), at)); }
uint16_t U16s(const std::string& b, size_t at) { return static_cast<uint16_t>(U32s(b, at)); }
uint64_t RoundUp(uint64_t v) { return (v + 511) / 512 * 512; }

struct Decoded {
  uint16_t recordLength, maxLength;
  uint32_t keys, segments, acs, recordCount;
  std::vector<uint32_t> distinct;
  std::vector<Bytes> records;  // live, in insertion order
};

Decoded Read(const std::string& f) {
  Decoded d{};
  EXPECT_EQ(f.substr(0, 8), std::string("SCRUTKF\x1A", 8));
  EXPECT_EQ(U16s(f, 8), 1);
  uint32_t h = U32s(f, 12);
  d.recordLength = U16s(f, 16);
  d.maxLength = U16s(f, 18);
  d.keys = U16s(f, 24);
  d.segments = U16s(f, 26);
  d.acs = U16s(f, 28);
  EXPECT_EQ(h, 96 + 16 * d.segments + 265 * d.acs + 4);
  EXPECT_EQ(SlowCrc32c(reinterpret_cast<const uint8_t*>(f.data()), h - 4), U32s(f, h - 4));
  uint64_t c = RoundUp(h), b = RoundUp(32 + 4 * d.keys + 4), logStart = c + 2 * b;
  uint64_t bestSeq = 0, end = 0;
  bool any = false;
  for (uint64_t at : {c, c + b}) {
    size_t n = 32 + 4 * d.keys;
    if (U32s(f, at) != 0x544D4F43 || U32s(f, at + 4) != 0) continue;
    if (SlowCrc32c(reinterpret_cast<const uint8_t*>(f.data()) + at, n) != U32s(f, at + n)) continue;
    if (any && U64(f, at + 8) <= bestSeq) continue;
    any = true;
    bestSeq = U64(f, at + 8);
    end = U64(f, at + 16);
    d.recordCount = static_cast<uint32_t>(U64(f, at + 24));
    d.distinct.clear();
    for (uint32_t k = 0; k < d.keys; ++k) d.distinct.push_back(U32s(f, at + 32 + 4 * k));
  }
  EXPECT_TRUE(any);
  std::map<uint64_t, Bytes> live;
  for (uint64_t at = logStart; at < end;) {
    uint8_t type = static_cast<uint8_t>(f[at]);
    uint32_t n = U32s(f, at + 4);
    EXPECT_EQ(SlowCrc32c(reinterpret_cast<const uint8_t*>(f.data()) + at, 8 + n), U32s(f, at + 8 + n));
    if (type == 1) live[at] = Bytes(f.begin() + static_cast<long>(at + 8), f.begin() + static_cast<long>(at + 8 + n));
    else EXPECT_EQ(live.erase(U64(f, at + 8)), 1u);
    at += 12 + n;
  }
  for (auto& [offset, record] : live) d.records.push_back(record);
  return d;
}

TEST(Format, ChecksumIsCrc32c) {
  const char* text = "123456789";
  EXPECT_EQ(engine::Crc32c(reinterpret_cast<const uint8_t*>(text), 9), 0xE3069283u);
  EXPECT_EQ(SlowCrc32c(reinterpret_cast<const uint8_t*>(text), 9), 0xE3069283u);
  // The processor's instruction (where used) and the tables agree on every
  // length and alignment, also when continuing a running CRC.
  std::vector<uint8_t> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
  for (size_t at = 0; at < 8; ++at) {
    for (size_t n = 0; at + n <= bytes.size(); n += 1 + n / 16) {
      const uint8_t* p = bytes.data() + at;
      ASSERT_EQ(engine::Crc32c(p, n), engine::Crc32cPortable(p, n)) << at << " " << n;
      ASSERT_EQ(engine::Crc32c(p, n), SlowCrc32c(p, n)) << at << " " << n;
      ASSERT_EQ(engine::Crc32c(p, n, 0x12345678u), engine::Crc32cPortable(p, n, 0x12345678u)) << n;
    }
  }
}

TEST(Format, AnIndependentReaderSeesWhatTheEngineHolds) {
  TempDir dir;
  std::string path = dir.path() + "/F.DAT";
  engine::FileDef def;
  def.recordLength = 5;
  def.variable = true;
  def.maxRecordLength = 100;
  std::array<uint8_t, 265> acs{};
  acs[0] = 0xAC;
  def.acs.push_back(acs);
  def.keys = {Key(0, {Seg(1, 2, 14)}), Key(1, {Seg(3, 1, 0, 0x0001), Seg(4, 2, 1, 0x0001)})};
  def.owner = "pw";
  ASSERT_EQ(engine::CreateFile(path, def), 0);
  Open f(path, "pw");
  ASSERT_EQ(f.status, 0);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(f.Insert(Bytes(5 + static_cast<size_t>(i), static_cast<uint8_t>(i))), 0);
  for (int i : {3, 17, 39}) {
    ASSERT_EQ(f.Equal(0, B({i, i})), 0);
    ASSERT_EQ(f.Delete(), 0);
  }
  Decoded d = Read(ReadFileBytes(path));
  EXPECT_EQ(d.recordLength, 5);
  EXPECT_EQ(d.maxLength, 100);
  EXPECT_EQ(d.keys, 2u);
  EXPECT_EQ(d.segments, 3u);
  EXPECT_EQ(d.acs, 1u);
  EXPECT_EQ(d.recordCount, 37u);
  EXPECT_EQ(d.distinct, (std::vector<uint32_t>{37, 37}));
  std::vector<Bytes> engineRecords;
  ASSERT_EQ(engine::ReadAllRecords(path, "pw", &engineRecords), 0);
  EXPECT_EQ(d.records, engineRecords);  // key 0 order is insertion order here
  engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
}

}  // namespace
