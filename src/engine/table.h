// One open data file: its header, the commit it last saw, the in-memory
// ordered index of its live records, and the current position. Each Open of
// the entry owns one Table.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/format.h"
#include "engine/fs.h"
#include "engine/key_order.h"
#include "engine/ordered_index.h"

namespace engine {

// The salted digest of an owner name, as the header stores it.
std::array<uint8_t, 32> OwnerDigest(const std::array<uint8_t, 16>& salt, const std::string& name);

enum class Access { kReadOnly, kNormal, kExclusive };

// A record handed out by a Get. Reusing one Found across Gets reuses its
// buffers.
struct Found {
  std::vector<uint8_t> record;
  std::string key;
};

// A growable byte array that leaves new bytes uninitialized: the loaded log
// is read straight into it, so zeroing it first would only cost time.
class ByteBuffer {
 public:
  const uint8_t* data() const { return data_.get(); }
  uint8_t* data() { return data_.get(); }
  size_t size() const { return size_; }
  void clear() {
    data_.reset();
    size_ = capacity_ = 0;
  }
  // Adds n bytes, left uninitialized, at the end; may throw std::bad_alloc.
  uint8_t* Grow(size_t n) {
    if (size_ + n > capacity_) {
      size_t capacity = std::max(size_ + n, capacity_ + capacity_ / 2);
      std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity]);
      if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
      data_ = std::move(bigger);
      capacity_ = capacity;
    }
    size_ += n;
    return data_.get() + size_ - n;
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

class Table {
 public:
  // Opens path, reading only the header and the commit blocks. owner is the
  // name presented (null when none was). Returns a status.
  static int Open(const std::string& path, Access access, const std::string* owner,
                  std::unique_ptr<Table>* out);
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const FileMeta& meta() const { return meta_; }
  const Commit& commit() const { return commit_; }

  // Picks up the newest commit; with needIndex (or once the log is loaded)
  // also brings the loaded log and the built keys up to it. A status.
  int Refresh(bool needIndex);

  int GetFirst(size_t k, Found* out);
  int GetEqual(size_t k, const uint8_t* keyValue, Found* out);
  int GetGreaterOrEqual(size_t k, const uint8_t* keyValue, Found* out);
  int GetNext(size_t k, Found* out);

  // Stores a record; with positionKey < key count the position moves to it
  // in that key and *keyOut receives its value there.
  int Insert(const uint8_t* record, uint32_t length, int positionKey, std::string* keyOut);
  // Stores many records as one change: all of them or none. *failed, when
  // given, receives the index of the record that stopped it.
  int InsertMany(const std::vector<std::vector<uint8_t>>& records, size_t* failed);
  // Deletes the current record.
  int Delete();

  // Drops what this open holds in memory (and a change's lock, should one be
  // held): after a failure part-way, the next call loads the file again.
  void Forget();

  // Every live record, in key-0 order (insertion order without keys).
  int ReadAll(std::vector<std::vector<uint8_t>>* records);
  // Re-reads every live record and checks it against the index.
  int Verify(std::string* problem);

 private:
  Table() = default;
  enum class CursorState { kNone, kOn, kBefore };

  // An insert entry of the log, in log order (so slot numbers order as
  // offsets do); a deleted record keeps its slot, marked dead.
  struct Slot {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint32_t live = 0;
  };

  // One key's index, built when the key is first used: the normalized value
  // of every slot and the live slots in key order (equal values by offset).
  struct KeyIndex {
    bool built = false;
    size_t width = 0;
    std::vector<uint8_t> norm;  // width bytes per slot
    OrderedIndex order;
    uint32_t distinct = 0;
    mutable size_t lastChunk = 0;  // where the last search ended: the next starts there
  };

  const uint8_t* RecordOf(uint32_t slot) const {
    return log_.data() + (slots_[slot].offset - meta_.logStart) + 8;
  }
  const uint8_t* NormOf(size_t k, uint32_t slot) const {
    return keyIndex_[k].norm.data() + size_t{slot} * keyIndex_[k].width;
  }
  // The first entry of key k at or after (normalized value, offset).
  OrderedIndex::Pos Find(size_t k, const uint8_t* norm, uint64_t offset) const;
  bool HasEqual(size_t k, const uint8_t* norm) const;
  // Whether the entry at p has neighbours with an equal key value.
  bool Alone(size_t k, OrderedIndex::Pos p) const;
  // Normalizes a key value the caller gives into scratch_.
  const uint8_t* Normalize(size_t k, const uint8_t* keyValue);

  int ReadCommits(Commit* newest, int* slot);
  bool AdoptCommits(const uint8_t* bytes, Commit* newest, int* slot);
  int LoadTail(uint64_t from, uint64_t to);
  int BuildKey(size_t k);
  void SortByKey(size_t k, std::vector<OrderedIndex::Entry>* entries) const;
  int Load(size_t k);
  int LoadAll();
  int ApplyInsert(uint64_t offset, uint32_t length, uint32_t* slotOut);
  int ApplyDelete(uint64_t target, uint64_t before);
  void RemoveSlot(uint32_t slot);
  int ReadRecordFromDisk(uint64_t offset, uint32_t length, std::vector<uint8_t>* out);
  void Position(size_t k, OrderedIndex::Pos p, Found* out);
  bool RecentlyChecked() const;
  void MarkChecked(uint64_t epoch);
  int RefreshLocked(bool needIndex);
  int LockChangeByte(LockKind kind);
  int LockForChange();
  void Unlock();
  int AppendAndCommit(const std::vector<uint8_t>& entry, const Commit& next);
  void DropIndex();

  int fd_ = -1;
  bool writable_ = false;
  bool changing_ = false;  // holding the change byte exclusive
  std::string path_;
  FileMeta meta_;
  Commit commit_;
  int commitSlot_ = 0;                // which block holds commit_
  std::vector<uint8_t> commitBytes_;  // both blocks as last read
  // When this open last found its commit current, and the process's change
  // count then: see Refresh.
  std::chrono::steady_clock::time_point checkedAt_{};
  uint64_t checkedEpoch_ = 0;

  bool loaded_ = false;
  uint64_t loadedEnd_ = 0;
  uint64_t liveCount_ = 0;
  ByteBuffer log_;  // the log's bytes up to loadedEnd_, every entry checked
  std::vector<Slot> slots_;
  std::vector<KeyIndex> keyIndex_;
  std::vector<uint8_t> scratch_;

  // The position: on a record (curSlot_), or just before where a deleted
  // record was (beforeNorm_, beforeOffset_). curPos_ is valid while the
  // index's version is curVersion_.
  int curKey_ = -1;
  CursorState state_ = CursorState::kNone;
  uint32_t curSlot_ = 0;
  OrderedIndex::Pos curPos_;
  uint64_t curVersion_ = 0;
  std::vector<uint8_t> beforeNorm_;
  uint64_t beforeOffset_ = 0;
};

}  // namespace engine
