// An ordered sequence of record slots, kept as a list of sorted chunks: a
// compact alternative to a balanced tree (16 bytes per entry plus slack,
// instead of a node each). Each entry carries, beside its slot, a 64-bit
// head that the owner may order by (the first bytes of the key value), so a
// search reads one contiguous array instead of chasing every slot. Lookups
// are two binary searches; an insert or erase moves at most one chunk's
// entries. Positions are valid until the next change; `version` tells when
// that happened.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class OrderedIndex {
 public:
  struct Entry {
    uint64_t head;
    uint32_t value;
  };
  struct Pos {
    size_t chunk = 0;
    size_t at = 0;
  };

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint64_t version() const { return version_; }

  Pos Begin() const { return Pos{0, 0}; }
  Pos End() const { return Pos{chunks_.size(), 0}; }
  bool IsEnd(Pos p) const { return p.chunk >= chunks_.size(); }
  uint32_t At(Pos p) const { return chunks_[p.chunk][p.at].value; }

  Pos Next(Pos p) const {
    if (++p.at == chunks_[p.chunk].size()) {
      ++p.chunk;
      p.at = 0;
    }
    return p;
  }
  // Moves p back one entry; false at the first.
  bool Prev(Pos* p) const {
    if (p->at > 0) {
      --p->at;
      return true;
    }
    if (p->chunk == 0) return false;
    --p->chunk;
    p->at = chunks_[p->chunk].size() - 1;
    return true;
  }

  // The first entry e with cmp(e.value, e.head) >= 0, where cmp orders the
  // entry against the value sought (<0 before it, 0 equal, >0 after it);
  // End() when none.
  template <class Cmp>
  Pos LowerBound(Cmp cmp) const {
    size_t lo = FirstChunk(0, chunks_.size(), cmp);
    if (lo == chunks_.size()) return End();
    return Pos{lo, Inner(chunks_[lo], cmp)};
  }

  // LowerBound for a cmp that orders entries by head before anything else,
  // with head the value sought's: the heads of the chunks' last entries,
  // kept in one array, narrow the search to the chunks whose last head
  // equals it (usually none or one) without touching the chunks. The chunk
  // numbered hint (any number is safe) is tried first: lookups near the
  // previous one then touch memory already in the cache.
  template <class Cmp>
  Pos LowerBoundByHead(uint64_t head, size_t hint, Cmp cmp) const {
    if (hint < chunks_.size()) {
      const std::vector<Entry>& c = chunks_[hint];
      if (Cmp1(cmp, c.back()) >= 0 && (hint == 0 || Cmp1(cmp, c.front()) < 0)) return Pos{hint, Inner(c, cmp)};
    }
    // Chunks before lo end below head, chunks from hi on end above it.
    size_t lo = static_cast<size_t>(std::lower_bound(lastHeads_.begin(), lastHeads_.end(), head) - lastHeads_.begin());
    size_t hi = static_cast<size_t>(std::upper_bound(lastHeads_.begin() + static_cast<long>(lo), lastHeads_.end(), head) -
                                    lastHeads_.begin());
    lo = FirstChunk(lo, hi, cmp);
    if (lo == chunks_.size()) return End();
    // The chunk is most likely not in the cache: ask for all of it at once,
    // rather than miss once per step of the search.
    const std::vector<Entry>& c = chunks_[lo];
    for (size_t i = 0; i < c.size(); i += 64 / sizeof(Entry)) Prefetch(&c[i]);
    return Pos{lo, Inner(c, cmp)};
  }

  // Inserts v before position p (End() appends).
  void InsertAt(Pos p, uint32_t value, uint64_t head = 0) {
    Entry v{head, value};
    ++version_;
    ++size_;
    if (chunks_.empty()) {
      chunks_.emplace_back();
      chunks_.back().reserve(kChunk);
      chunks_.back().push_back(v);
      lastHeads_.push_back(v.head);
      return;
    }
    if (IsEnd(p)) p = Pos{chunks_.size() - 1, chunks_.back().size()};
    std::vector<Entry>& c = chunks_[p.chunk];
    if (c.size() == kChunk && p.chunk + 1 == chunks_.size() && p.at == c.size()) {
      // Appending in order (the usual bulk load): start a fresh chunk and
      // leave the full one full.
      chunks_.emplace_back();
      chunks_.back().reserve(kChunk);
      chunks_.back().push_back(v);
      lastHeads_.push_back(v.head);
      return;
    }
    size_t first = p.chunk, last = p.chunk;  // chunks whose last entry may change
    if (c.size() == kChunk) {
      // Split in halves, then insert into the half that holds p.
      std::vector<Entry> upper;
      upper.reserve(kChunk);
      upper.assign(c.begin() + kChunk / 2, c.end());
      c.resize(kChunk / 2);
      chunks_.insert(chunks_.begin() + static_cast<long>(p.chunk) + 1, std::move(upper));
      lastHeads_.insert(lastHeads_.begin() + static_cast<long>(p.chunk) + 1, 0);
      last = p.chunk + 1;
      if (p.at > kChunk / 2) {
        p.chunk += 1;
        p.at -= kChunk / 2;
      }
    }
    std::vector<Entry>& into = chunks_[p.chunk];
    into.insert(into.begin() + static_cast<long>(p.at), v);
    for (size_t i = first; i <= last; ++i) lastHeads_[i] = chunks_[i].back().head;
  }

  void EraseAt(Pos p) {
    ++version_;
    --size_;
    std::vector<Entry>& c = chunks_[p.chunk];
    c.erase(c.begin() + static_cast<long>(p.at));
    if (c.empty()) {
      chunks_.erase(chunks_.begin() + static_cast<long>(p.chunk));
      lastHeads_.erase(lastHeads_.begin() + static_cast<long>(p.chunk));
    } else {
      lastHeads_[p.chunk] = c.back().head;
    }
  }

  // Replaces the contents with entries already in order, in full chunks.
  void Assign(const std::vector<Entry>& sorted) {
    Clear();
    for (size_t at = 0; at < sorted.size(); at += kChunk) {
      size_t end = sorted.size() - at < kChunk ? sorted.size() : at + kChunk;
      chunks_.emplace_back(sorted.begin() + static_cast<long>(at), sorted.begin() + static_cast<long>(end));
      lastHeads_.push_back(chunks_.back().back().head);
    }
    size_ = sorted.size();
  }

  void Clear() {
    ++version_;
    chunks_.clear();
    lastHeads_.clear();
    size_ = 0;
  }

 private:
  static constexpr size_t kChunk = 128;

  static void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
  }
  template <class Cmp>
  static int Cmp1(Cmp& cmp, const Entry& e) {
    return cmp(e.value, e.head);
  }
  // The first chunk in [lo, hi) whose last entry is not before the value
  // sought; hi when none is.
  template <class Cmp>
  size_t FirstChunk(size_t lo, size_t hi, Cmp& cmp) const {
    while (lo < hi) {
      size_t mid = lo + (hi - lo) / 2;
      if (Cmp1(cmp, chunks_[mid].back()) < 0) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }
  template <class Cmp>
  static size_t Inner(const std::vector<Entry>& c, Cmp& cmp) {
    size_t a = 0, b = c.size();
    while (a < b) {
      size_t mid = a + (b - a) / 2;
      if (Cmp1(cmp, c[mid]) < 0) a = mid + 1;
      else b = mid;
    }
    return a;
  }

  std::vector<std::vector<Entry>> chunks_;
  std::vector<uint64_t> lastHeads_;  // per chunk, the head of its last entry
  size_t size_ = 0;
  uint64_t version_ = 0;
};

}  // namespace engine
