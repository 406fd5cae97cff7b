// An ordered sequence of record slots, kept as a list of sorted chunks: a
// compact alternative to a balanced tree (4 bytes per entry plus slack,
// instead of a node each). Lookups are two binary searches; an insert or
// erase moves at most one chunk's entries. Positions are valid until the next
// change; `version` tells when that happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class OrderedIndex {
 public:
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
  uint32_t At(Pos p) const { return chunks_[p.chunk][p.at]; }

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

  // The first entry e with cmp(e) >= 0, where cmp(e) orders e against the
  // value sought (<0 before it, 0 equal, >0 after it); End() when none.
  template <class Cmp>
  Pos LowerBound(Cmp cmp) const {
    size_t lo = 0, hi = chunks_.size();
    while (lo < hi) {
      size_t mid = lo + (hi - lo) / 2;
      if (cmp(chunks_[mid].back()) < 0) lo = mid + 1;
      else hi = mid;
    }
    if (lo == chunks_.size()) return End();
    const std::vector<uint32_t>& c = chunks_[lo];
    size_t a = 0, b = c.size();
    while (a < b) {
      size_t mid = a + (b - a) / 2;
      if (cmp(c[mid]) < 0) a = mid + 1;
      else b = mid;
    }
    return Pos{lo, a};
  }

  // Inserts v before position p (End() appends).
  void InsertAt(Pos p, uint32_t v) {
    ++version_;
    ++size_;
    if (chunks_.empty()) {
      chunks_.emplace_back();
      chunks_.back().reserve(kChunk);
      chunks_.back().push_back(v);
      return;
    }
    if (IsEnd(p)) p = Pos{chunks_.size() - 1, chunks_.back().size()};
    std::vector<uint32_t>& c = chunks_[p.chunk];
    if (c.size() == kChunk && p.chunk + 1 == chunks_.size() && p.at == c.size()) {
      // Appending in order (the usual bulk load): start a fresh chunk and
      // leave the full one full.
      chunks_.emplace_back();
      chunks_.back().reserve(kChunk);
      chunks_.back().push_back(v);
      return;
    }
    if (c.size() == kChunk) {
      // Split in halves, then insert into the half that holds p.
      std::vector<uint32_t> upper;
      upper.reserve(kChunk);
      upper.assign(c.begin() + kChunk / 2, c.end());
      c.resize(kChunk / 2);
      chunks_.insert(chunks_.begin() + static_cast<long>(p.chunk) + 1, std::move(upper));
      if (p.at > kChunk / 2) {
        p.chunk += 1;
        p.at -= kChunk / 2;
      }
    }
    std::vector<uint32_t>& into = chunks_[p.chunk];
    into.insert(into.begin() + static_cast<long>(p.at), v);
  }

  void EraseAt(Pos p) {
    ++version_;
    --size_;
    std::vector<uint32_t>& c = chunks_[p.chunk];
    c.erase(c.begin() + static_cast<long>(p.at));
    if (c.empty()) chunks_.erase(chunks_.begin() + static_cast<long>(p.chunk));
  }

  void Clear() {
    ++version_;
    chunks_.clear();
    size_ = 0;
  }

 private:
  static constexpr size_t kChunk = 512;
  std::vector<std::vector<uint32_t>> chunks_;
  size_t size_ = 0;
  uint64_t version_ = 0;
};

}  // namespace engine
