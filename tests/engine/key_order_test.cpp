// Typed, segmented key comparison: a table of pairs per type and flag.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/format.h"
#include "engine/key_order.h"
#include "engine_test_util.h"

namespace {

using enginetest::Bytes;
using enginetest::B;

struct Case {
  const char* name;
  uint8_t type;
  uint16_t flags;
  Bytes a, b;
  int expected;  // sign of Compare(a, b)
};

engine::FileMeta OneSegment(uint8_t type, uint16_t length, uint16_t flags) {
  engine::FileMeta m;
  m.recordLength = m.maxRecordLength = 64;
  m.pageSize = 4096;
  engine::Segment s;
  s.position = 1;
  s.length = length;
  s.type = type;
  s.flags = flags;
  m.segments.push_back(s);
  engine::Key k;
  k.segmentCount = 1;
  m.keys.push_back(k);
  // A collating sequence that orders bytes in reverse, except that it keeps
  // 'a' and 'A' together.
  std::array<uint8_t, 265> acs{};
  acs[0] = 0xAC;
  for (int i = 0; i < 256; ++i) acs[9 + i] = static_cast<uint8_t>(255 - i);
  acs[9 + 'a'] = acs[9 + 'A'];
  m.acs.push_back(acs);
  EXPECT_STREQ(engine::FinishMeta(&m), "");
  return m;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// The order of two key values' normalized forms (plain byte comparison).
int NormalizedOrder(const engine::FileMeta& m, const uint8_t* a, const uint8_t* b) {
  size_t w = engine::NormalizedWidth(m, 0);
  Bytes na(w), nb(w);
  engine::NormalizeKey(m, 0, a, na.data());
  engine::NormalizeKey(m, 0, b, nb.data());
  return Sign(std::memcmp(na.data(), nb.data(), w));
}

TEST(KeyOrder, ComparesEachTypeAndFlag) {
  const Case cases[] = {
      {"string bytes are unsigned", 0, 0, B({0x7F, 0}), B({0x80, 0}), -1},
      {"string equal", 0, 0, B({'a', 'b'}), B({'a', 'b'}), 0},
      {"string case matters", 0, 0, B({'a', 'b'}), B({'A', 'b'}), 1},
      {"string folded", 0, 0x0400, B({'a', 'b'}), B({'A', 'B'}), 0},
      {"folding only letters", 0, 0x0400, B({'[', 0}), B({'{', 0}), -1},
      {"integer negative first", 1, 0, B({0xFF, 0xFF}), B({0x01, 0x00}), -1},
      {"integer high byte decides", 1, 0, B({0xFF, 0x00}), B({0x00, 0x01}), -1},
      {"integer most negative", 1, 0, B({0x00, 0x80}), B({0xFF, 0xFF}), -1},
      {"unsigned high byte decides", 14, 0, B({0xFF, 0x00}), B({0x00, 0x01}), -1},
      {"unsigned large", 14, 0, B({0x00, 0x80}), B({0xFF, 0x7F}), 1},
      {"unsigned not folded", 14, 0x0400, B({'a', 0}), B({'A', 0}), 1},
      {"lstring shorter prefix first", 10, 0, B({2, 'a', 'b', 'z'}), B({3, 'a', 'b', 'a'}), -1},
      {"lstring ignores bytes past its length", 10, 0, B({2, 'a', 'b', 'z'}), B({2, 'a', 'b', 'q'}), 0},
      {"lstring length clamped to the segment", 10, 0, B({200, 'a', 'b', 'c'}), B({3, 'a', 'b', 'c'}), 0},
      {"lstring folded", 10, 0x0400, B({2, 'a', 'b', 0}), B({2, 'A', 'B', 0}), 0},
      {"zstring stops at zero", 11, 0, B({'a', 'b', 0, 'x'}), B({'a', 'b', 0, 'y'}), 0},
      {"zstring prefix first", 11, 0, B({'a', 'b', 0, 0}), B({'a', 'b', 'c', 0}), -1},
      {"zstring without terminator", 11, 0, B({'a', 'b', 'c', 'd'}), B({'a', 'b', 'c', 0}), 1},
      {"descending string", 0, 0x0040, B({'a', 0}), B({'b', 0}), 1},
      {"descending integer", 1, 0x0040, B({0xFF, 0xFF}), B({0x01, 0x00}), 1},
      {"acs reverses", 0, 0x0020, B({'b', 0}), B({'c', 0}), 1},
      {"acs equal classes", 0, 0x0020, B({'a', 0}), B({'A', 0}), 0},
      {"acs wins over folding", 0, 0x0420, B({'b', 0}), B({'B', 0}), -1},
      {"acs descending", 0, 0x0060, B({'b', 0}), B({'c', 0}), -1},
      {"other types compare as bytes", 2, 0, B({0x01, 0xFF}), B({0x02, 0x00}), -1},
  };
  for (const Case& c : cases) {
    engine::FileMeta m = OneSegment(c.type, static_cast<uint16_t>(c.a.size()), c.flags);
    EXPECT_EQ(Sign(engine::CompareKeys(m, 0, c.a.data(), c.b.data())), c.expected) << c.name;
    EXPECT_EQ(Sign(engine::CompareKeys(m, 0, c.b.data(), c.a.data())), -c.expected) << c.name << " (reversed)";
    EXPECT_EQ(NormalizedOrder(m, c.a.data(), c.b.data()), c.expected) << c.name << " (normalized)";
  }
}

TEST(KeyOrder, IntegerWidths) {
  // 1, 4 and 8 bytes, signed and unsigned: -1 against 1.
  for (uint16_t width : {1, 4, 8}) {
    Bytes minus(width, 0xFF), one(width, 0);
    one[0] = 1;
    engine::FileMeta s = OneSegment(1, width, 0), u = OneSegment(14, width, 0);
    EXPECT_LT(engine::CompareKeys(s, 0, minus.data(), one.data()), 0) << width;
    EXPECT_GT(engine::CompareKeys(u, 0, minus.data(), one.data()), 0) << width;
  }
}

TEST(KeyOrder, SegmentsCompareInTurnEachWithItsOwnDirection) {
  engine::FileMeta m;
  m.recordLength = m.maxRecordLength = 8;
  engine::Segment a, b;
  a.position = 1; a.length = 2; a.type = 14;
  b.position = 3; b.length = 1; b.type = 0; b.flags = 0x0040;
  m.segments = {a, b};
  engine::Key k;
  k.segmentCount = 2;
  m.keys.push_back(k);
  ASSERT_STREQ(engine::FinishMeta(&m), "");
  EXPECT_EQ(m.segments[0].flags & 0x0010, 0x0010);
  EXPECT_EQ(m.segments[1].flags & 0x0010, 0);
  Bytes r1 = B({1, 0, 'a', 0, 0, 0, 0, 0}), r2 = B({1, 0, 'b', 0, 0, 0, 0, 0}), r3 = B({2, 0, 'z', 0, 0, 0, 0, 0});
  std::string k1 = engine::ExtractKey(m, 0, r1.data()), k2 = engine::ExtractKey(m, 0, r2.data()),
              k3 = engine::ExtractKey(m, 0, r3.data());
  auto cmp = [&](const std::string& x, const std::string& y) {
    return engine::CompareKeys(m, 0, reinterpret_cast<const uint8_t*>(x.data()),
                               reinterpret_cast<const uint8_t*>(y.data()));
  };
  EXPECT_GT(cmp(k1, k2), 0);  // second segment descending
  EXPECT_LT(cmp(k2, k3), 0);  // first segment decides
  EXPECT_LT(cmp(k1, k3), 0);
}

// Normalized values order and tie exactly as CompareKeys does, for random
// keys of several segments over every type, flag and width, with values
// drawn from a few bytes (zeros, case pairs, bytes the sequence maps alike)
// so that ties, prefixes and terminators are common.
TEST(KeyOrder, NormalizedValuesOrderAsTheKeysDo) {
  const uint32_t seed = 20261211;
  std::mt19937 rng(seed);
  const uint8_t types[] = {0, 1, 2, 10, 11, 14};
  const uint16_t flags[] = {0, 0x0400, 0x0040, 0x0020, 0x0060, 0x0420, 0x0440};
  const uint8_t alphabet[] = {0, 1, 2, 'a', 'A', 'b', 'B', 0x7F, 0x80, 0xFF};
  for (int layout = 0; layout < 300; ++layout) {
    engine::FileMeta m = OneSegment(0, 1, 0);
    m.segments.clear();
    int segments = 1 + static_cast<int>(rng() % 3);
    uint16_t position = 1;
    for (int i = 0; i < segments; ++i) {
      engine::Segment s;
      s.type = types[rng() % std::size(types)];
      s.length = static_cast<uint16_t>(s.type == 1 || s.type == 14 ? 1u << (rng() % 4) : 1 + rng() % 5);
      s.flags = flags[rng() % std::size(flags)];
      s.position = position;
      position = static_cast<uint16_t>(position + s.length);
      m.segments.push_back(s);
    }
    m.keys[0].segmentCount = static_cast<uint16_t>(segments);
    ASSERT_STREQ(engine::FinishMeta(&m), "");
    size_t length = m.keys[0].length;
    auto draw = [&]() {
      Bytes record(m.recordLength);
      for (auto& c : record) c = alphabet[rng() % std::size(alphabet)];
      return record;
    };
    for (int pair = 0; pair < 200; ++pair) {
      Bytes ra = draw(), rb = draw();
      if (rng() % 3 == 0) rb = ra, rb[rng() % length] = alphabet[rng() % std::size(alphabet)];
      std::string ka = engine::ExtractKey(m, 0, ra.data()), kb = engine::ExtractKey(m, 0, rb.data());
      const auto* a = reinterpret_cast<const uint8_t*>(ka.data());
      const auto* b = reinterpret_cast<const uint8_t*>(kb.data());
      ASSERT_EQ(NormalizedOrder(m, a, b), Sign(engine::CompareKeys(m, 0, a, b)))
          << "seed " << seed << " layout " << layout << " pair " << pair;
      // From the record directly: the same bytes as from its key value.
      Bytes fromRecord(engine::NormalizedWidth(m, 0)), fromKey(fromRecord.size());
      engine::NormalizeRecordKey(m, 0, ra.data(), fromRecord.data());
      engine::NormalizeKey(m, 0, a, fromKey.data());
      ASSERT_EQ(fromRecord, fromKey) << "seed " << seed << " layout " << layout;
    }
  }
}

}  // namespace
