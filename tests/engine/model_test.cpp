// Random Insert, Delete and Get sequences checked step by step against a
// plain in-memory model with an ordering of its own. Fixed seeds; the seed
// and step are printed on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine_test_util.h"
#include "fault_fs.h"
#include "run_process.h"

namespace {

using namespace enginetest;

// The model's ordering: each segment is turned into a plain value (a
// number, or a byte string after folding or collation) and compared.
struct ModelKey {
  std::vector<engine::SegmentDef> segs;
  bool unique;
};

struct Model {
  engine::FileDef def;
  std::vector<ModelKey> keys;
  std::vector<std::pair<Bytes, uint64_t>> live;  // record, insertion sequence
  uint64_t seq = 0;

  const uint8_t* Acs(const engine::SegmentDef& s) const { return def.acs[s.acs].data() + 9; }

  int CompareSegment(const engine::SegmentDef& s, const uint8_t* a, const uint8_t* b) const {
    size_t n = s.length;
    if (s.type == 1 || s.type == 14) {
      auto value = [&](const uint8_t* p) {
        uint64_t u = 0;
        for (size_t i = 0; i < n; ++i) u |= uint64_t{p[i]} << (8 * i);
        return u;
      };
      if (s.type == 14) return value(a) < value(b) ? -1 : value(a) > value(b);
      auto sv = [&](const uint8_t* p) {
        int shift = static_cast<int>(64 - 8 * n);
        return static_cast<int64_t>(value(p) << shift) >> shift;
      };
      return sv(a) < sv(b) ? -1 : sv(a) > sv(b);
    }
    auto text = [&](const uint8_t* p) {
      Bytes t;
      if (s.type == 10) t.assign(p + 1, p + 1 + std::min<size_t>(p[0], n - 1));
      else if (s.type == 11) t.assign(p, std::find(p, p + n, 0));
      else t.assign(p, p + n);
      for (uint8_t& c : t) {
        if (s.flags & 0x0020) c = Acs(s)[c];
        else if ((s.flags & 0x0400) && c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
      }
      return t;
    };
    Bytes ta = text(a), tb = text(b);
    return ta < tb ? -1 : ta > tb;
  }
  int Compare(size_t k, const Bytes& a, const Bytes& b) const {
    for (const auto& s : keys[k].segs) {
      int c = CompareSegment(s, a.data() + s.position - 1, b.data() + s.position - 1);
      if (c) return (s.flags & 0x0040) ? -c : c;
    }
    return 0;
  }
  Bytes KeyOf(size_t k, const Bytes& r) const {
    Bytes v;
    for (const auto& s : keys[k].segs) v.insert(v.end(), r.begin() + s.position - 1, r.begin() + s.position - 1 + s.length);
    return v;
  }
  // A record whose key k bytes are `key` (the rest zero), for comparisons.
  Bytes WithKey(size_t k, const Bytes& key) const {
    Bytes r(def.recordLength, 0);
    size_t at = 0;
    for (const auto& s : keys[k].segs) {
      std::copy(key.begin() + static_cast<long>(at), key.begin() + static_cast<long>(at + s.length), r.begin() + s.position - 1);
      at += s.length;
    }
    return r;
  }
  std::vector<Bytes> Ordered(size_t k) const {
    auto sorted = live;
    std::stable_sort(sorted.begin(), sorted.end(), [&](const auto& x, const auto& y) {
      int c = Compare(k, x.first, y.first);
      return c != 0 ? c < 0 : x.second < y.second;
    });
    std::vector<Bytes> out;
    for (auto& r : sorted) out.push_back(r.first);
    return out;
  }
  uint32_t Distinct(size_t k) const {
    auto o = Ordered(k);
    uint32_t n = 0;
    for (size_t i = 0; i < o.size(); ++i)
      if (i == 0 || Compare(k, o[i - 1], o[i]) != 0) ++n;
    return n;
  }
};

struct Config {
  const char* name;
  engine::FileDef def;
  std::vector<uint8_t> alphabet;
};

std::array<uint8_t, 265> FoldingAcs() {
  // Folds case and sorts digits after letters.
  std::array<uint8_t, 265> a{};
  a[0] = 0xAC;
  std::memcpy(&a[1], "MODELACS", 8);
  for (int i = 0; i < 256; ++i) a[9 + i] = static_cast<uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c) a[9 + c] = static_cast<uint8_t>(c - 32);
  for (int c = '0'; c <= '9'; ++c) a[9 + c] = static_cast<uint8_t>(200 + c - '0');
  return a;
}

std::vector<Config> Configs() {
  std::vector<Config> out;
  {
    engine::FileDef d;
    d.recordLength = 10;
    d.keys = {Key(0, {Seg(1, 2, 14)}),
              Key(1, {Seg(3, 3, 0, 0x0401)}),
              Key(2, {Seg(6, 1, 1, 0x0041), Seg(7, 3, 11, 0x0001)})};
    out.push_back({"unique unsigned, case-insensitive and descending duplicates", d, {'a', 'A', 'b', 'B', 0, 1, 0xFF}});
  }
  {
    engine::FileDef d;
    d.recordLength = 8;
    d.variable = true;
    d.maxRecordLength = 40;
    d.acs.push_back(FoldingAcs());
    d.keys = {Key(0, {Seg(1, 2, 0, 0x0020)}),
              Key(1, {Seg(3, 4, 10, 0x0041)}),
              Key(2, {Seg(7, 2, 0, 0x0021)})};
    out.push_back({"unique collated, descending lstring, collated duplicates", d, {'a', 'A', '1', 'z', 2, 1}});
  }
  {
    engine::FileDef d;
    d.recordLength = 6;
    d.keys = {Key(0, {Seg(1, 2, 1, 0x0001)}),
              Key(1, {Seg(3, 2, 0, 0x0400)}),
              Key(2, {Seg(5, 2, 14, 0x0041)})};
    out.push_back({"integer duplicates, unique case-insensitive, descending unsigned", d, {'x', 'X', 'y', 0xFE, 0xFF, 0, 1}});
  }
  return out;
}

Bytes RandomRecord(const Config& c, std::mt19937& rng) {
  size_t len = c.def.recordLength;
  if (c.def.variable) len += rng() % (c.def.maxRecordLength - c.def.recordLength + 1);
  Bytes r(len);
  for (auto& b : r) b = c.alphabet[rng() % c.alphabet.size()];
  return r;
}

void RunModel(const Config& c, uint32_t seed, int steps) {
  TempDir dir;
  std::string path = dir.path() + "/MODEL.DAT";
  ASSERT_EQ(engine::CreateFile(path, c.def), 0);
  FaultFs fs;  // no real syncs: this test is about results, not durability
  Model m;
  m.def = c.def;
  for (const auto& k : c.def.keys) m.keys.push_back({k.segments, !(k.segments[0].flags & 0x0001)});
  std::mt19937 rng(seed);
  auto f = std::make_unique<Open>(path);
  Open reader(path);
  ASSERT_EQ(f->status, 0);
  ASSERT_EQ(reader.status, 0);
  size_t nkeys = c.def.keys.size();
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE(std::string(c.name) + ": seed " + std::to_string(seed) + " step " + std::to_string(step));
    int what = static_cast<int>(rng() % 100);
    size_t k = rng() % nkeys;
    if (what < 40) {
      Bytes r = RandomRecord(c, rng);
      bool clash = false;
      for (size_t j = 0; j < nkeys; ++j)
        for (const auto& l : m.live)
          if (m.keys[j].unique && m.Compare(j, l.first, r) == 0) clash = true;
      Bytes key;
      int st = f->Insert(r, static_cast<int>(k), &key);
      ASSERT_EQ(st, clash ? 5 : 0);
      if (!clash) {
        m.live.push_back({r, m.seq++});
        Bytes want = m.KeyOf(k, r);
        ASSERT_EQ(Bytes(key.begin(), key.begin() + static_cast<long>(want.size())), want);
        // The position is on the new record: Next gives its successor.
        auto order = m.Ordered(k);
        size_t at = 0;
        while (order[at] != r) ++at;
        Bytes got;
        int nst = f->Next(static_cast<int>(k), &got);
        if (at + 1 == order.size()) ASSERT_EQ(nst, 9);
        else {
          ASSERT_EQ(nst, 0);
          ASSERT_EQ(got, order[at + 1]);
        }
      }
    } else if (what < 55 && !m.live.empty()) {
      size_t victim = rng() % m.live.size();
      Bytes r = m.live[victim].first;
      Bytes got;
      ASSERT_EQ(f->Equal(static_cast<int>(k), m.KeyOf(k, r), &got), 0);
      while (got != r) ASSERT_EQ(f->Next(static_cast<int>(k), &got), 0);
      ASSERT_EQ(f->Delete(), 0);
      auto before = m.Ordered(k);
      size_t at = std::find(before.begin(), before.end(), r) - before.begin();
      m.live.erase(m.live.begin() + static_cast<long>(victim));
      int nst = f->Next(static_cast<int>(k), &got);
      if (at + 1 == before.size()) ASSERT_EQ(nst, 9);
      else {
        ASSERT_EQ(nst, 0);
        ASSERT_EQ(got, before[at + 1]);
      }
    } else if (what < 70) {
      Bytes probe = m.KeyOf(k, RandomRecord(c, rng));
      auto order = m.Ordered(k);
      Bytes asRecord = m.WithKey(k, probe);
      auto it = std::find_if(order.begin(), order.end(), [&](const Bytes& r) { return m.Compare(k, r, asRecord) == 0; });
      Bytes got;
      int st = f->Equal(static_cast<int>(k), probe, &got);
      if (it == order.end()) ASSERT_EQ(st, 4);
      else {
        ASSERT_EQ(st, 0);
        ASSERT_EQ(got, *it);
      }
    } else if (what < 85) {
      Bytes probe = m.KeyOf(k, RandomRecord(c, rng));
      auto order = m.Ordered(k);
      Bytes asRecord = m.WithKey(k, probe);
      auto it = std::find_if(order.begin(), order.end(), [&](const Bytes& r) { return m.Compare(k, r, asRecord) >= 0; });
      Bytes got;
      int st = f->Ge(static_cast<int>(k), probe, &got);
      if (it == order.end()) ASSERT_EQ(st, 9);
      else {
        ASSERT_EQ(st, 0);
        ASSERT_EQ(got, *it);
        // A few steps of Next continue in order.
        for (auto n = it + 1; n != order.end() && n != it + 4; ++n) {
          ASSERT_EQ(f->Next(static_cast<int>(k), &got), 0);
          ASSERT_EQ(got, *n);
        }
      }
    } else if (what < 95) {
      // Another open of the file sees every change in order.
      ASSERT_EQ(reader.Scan(static_cast<int>(k)), m.Ordered(k));
    } else if (what < 98) {
      Bytes stat;
      ASSERT_EQ(f->Stat(&stat), 0);
      ASSERT_EQ(U32(stat, 6), m.live.size());
      size_t seg = 0;
      for (size_t j = 0; j < nkeys; ++j)
        for (size_t s = 0; s < c.def.keys[j].segments.size(); ++s, ++seg)
          ASSERT_EQ(U32(stat, 16 + 16 * seg + 6), m.Distinct(j)) << "key " << j;
    } else {
      // Reopen: the index is rebuilt from the file.
      ASSERT_EQ(f->Close(), 0);
      f = std::make_unique<Open>(path);
      ASSERT_EQ(f->status, 0);
    }
  }
  for (size_t j = 0; j < nkeys; ++j) EXPECT_EQ(f->Scan(static_cast<int>(j)), m.Ordered(j));
  std::string problem;
  EXPECT_EQ(engine::VerifyFile(path, "", &problem), 0) << problem;
  engine::Entry(kReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
}

TEST(Model, RandomSequencesMatchTheModel) {
  uint32_t seed = 1000;
  for (const Config& c : Configs()) {
    RunModel(c, seed++, 2500);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
