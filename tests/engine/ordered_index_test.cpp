// The chunked ordered index against std::multiset, with enough entries to
// split and empty many chunks.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "engine/ordered_index.h"

namespace {

using engine::OrderedIndex;

// Entries are values themselves; cmp orders an entry against the target.
OrderedIndex::Pos Lower(const OrderedIndex& idx, uint32_t target) {
  return idx.LowerBound([&](uint32_t v, uint64_t) { return v < target ? -1 : v > target ? 1 : 0; });
}

void ExpectSame(const OrderedIndex& idx, const std::multiset<uint32_t>& model) {
  ASSERT_EQ(idx.size(), model.size());
  auto it = model.begin();
  OrderedIndex::Pos p = idx.Begin();
  OrderedIndex::Pos last = p;
  for (; !idx.IsEnd(p); p = idx.Next(p), ++it) {
    ASSERT_NE(it, model.end());
    ASSERT_EQ(idx.At(p), *it);
    last = p;
  }
  ASSERT_EQ(it, model.end());
  // Walking back from the last entry gives the reverse order.
  if (!model.empty()) {
    auto rit = model.rbegin();
    p = last;
    do {
      ASSERT_EQ(idx.At(p), *rit++);
    } while (idx.Prev(&p));
    ASSERT_EQ(rit, model.rend());
  }
}

TEST(OrderedIndex, MatchesAMultisetThroughSplitsAndEmptiedChunks) {
  const uint32_t seed = 31337;
  std::mt19937 rng(seed);
  OrderedIndex idx;
  std::multiset<uint32_t> model;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    // Grow: random values (with repeats), then an ascending run.
    for (int i = 0; i < 6000; ++i) {
      uint32_t v = rng() % 3000;
      idx.InsertAt(Lower(idx, v + 1), v);  // after equal ones, as the engine orders
      model.insert(v);
    }
    for (uint32_t v = 5000; v < 7000; ++v) {
      idx.InsertAt(Lower(idx, v + 1), v);  // End() while nothing larger is left
      model.insert(v);
    }
    ExpectSame(idx, model);
    // Lookups of present and absent values.
    for (int i = 0; i < 2000; ++i) {
      uint32_t v = rng() % 8000;
      OrderedIndex::Pos p = Lower(idx, v);
      auto m = model.lower_bound(v);
      if (m == model.end()) {
        ASSERT_TRUE(idx.IsEnd(p)) << v;
      } else {
        ASSERT_FALSE(idx.IsEnd(p)) << v;
        ASSERT_EQ(idx.At(p), *m) << v;
      }
    }
    // Shrink: erase most entries, whole ranges at a time and at random.
    for (int i = 0; i < 7000 && !model.empty(); ++i) {
      uint32_t v = i % 2 ? rng() % 8000 : *model.begin();
      OrderedIndex::Pos p = Lower(idx, v);
      auto m = model.lower_bound(v);
      if (m == model.end()) continue;
      ASSERT_EQ(idx.At(p), *m);
      uint64_t before = idx.version();
      idx.EraseAt(p);
      EXPECT_NE(idx.version(), before);
      model.erase(m);
    }
    ExpectSame(idx, model);
  }
  while (!model.empty()) {
    idx.EraseAt(idx.Begin());
    model.erase(model.begin());
  }
  ExpectSame(idx, model);
  EXPECT_TRUE(idx.IsEnd(idx.Begin()));
}

// The search by heads gives the same place as the plain search, whatever
// chunk it is told to try first, also when one head repeats over several
// chunks and after erasures changed the chunks' last entries.
TEST(OrderedIndex, SearchByHeadAgreesWithThePlainSearch) {
  const uint32_t seed = 4711;
  std::mt19937 rng(seed);
  OrderedIndex idx;
  // Entries ordered by (head, value); the head is value / 500, so one head
  // covers several chunks.
  auto head = [](uint32_t v) { return uint64_t{v / 500}; };
  auto lower = [&](uint32_t target, size_t hint) {
    auto cmp = [&](uint32_t v, uint64_t h) {
      if (h != head(target)) return h < head(target) ? -1 : 1;
      return v < target ? -1 : v > target ? 1 : 0;
    };
    return std::make_pair(idx.LowerBound(cmp), idx.LowerBoundByHead(head(target), hint, cmp));
  };
  std::vector<OrderedIndex::Entry> sorted;
  for (uint32_t v = 0; v < 20000; v += 2) sorted.push_back({head(v), v});
  idx.Assign(sorted);
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 5000; ++i) {
      uint32_t v = rng() % 21000;
      size_t hint = rng() % 400;
      auto [plain, byHead] = lower(v, hint);
      ASSERT_EQ(idx.IsEnd(plain), idx.IsEnd(byHead)) << "seed " << seed << " value " << v << " hint " << hint;
      if (!idx.IsEnd(plain)) {
        ASSERT_EQ(idx.At(plain), idx.At(byHead)) << "seed " << seed << " value " << v;
      }
    }
    // Insert odd values and erase some even ones, through the plain search.
    for (int i = 0; i < 3000; ++i) {
      uint32_t v = rng() % 20000;
      OrderedIndex::Pos at = lower(v, 0).first;
      if (v % 2) {
        idx.InsertAt(at, v, head(v));
      } else if (!idx.IsEnd(at) && idx.At(at) == v) {
        idx.EraseAt(at);
      }
    }
  }
}

}  // namespace
