// One open data file: its header, the commit it last saw, the in-memory
// ordered index of its live records, and the current position. Each Open of
// the entry owns one Table.
#pragma once

#include <array>
#include <cstdint>
#include <map>
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

// A record handed out by a Get.
struct Found {
  std::vector<uint8_t> record;
  std::string key;
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

  // Picks up the newest commit; with needIndex (or once the index exists)
  // also brings the index up to it. A status.
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

  // Every live record, in key-0 order (insertion order without keys).
  int ReadAll(std::vector<std::vector<uint8_t>>* records);
  // Re-reads every live record and checks it against the index.
  int Verify(std::string* problem);

 private:
  Table() = default;
  enum class CursorState { kNone, kOn, kBefore };

  // A live record: where its insert entry lies, and its length. Its key
  // values sit in keys_ at slot * keyBytes_.
  struct Slot {
    uint64_t offset = 0;
    uint32_t length = 0;
  };

  const uint8_t* KeyOf(uint32_t slot, size_t k) const {
    return keys_.data() + size_t{slot} * keyBytes_ + keyStart_[k];
  }
  // The first entry of key k at or after (value, offset).
  OrderedIndex::Pos Find(size_t k, const uint8_t* value, uint64_t offset) const;
  bool HasEqual(size_t k, const uint8_t* value) const;
  // Whether the entry at p has neighbours with an equal key value.
  bool Alone(size_t k, OrderedIndex::Pos p) const;

  int ReadCommits(Commit* newest, int* slot);
  int LoadTail(uint64_t from, uint64_t to);
  int ApplyInsert(uint64_t offset, const uint8_t* record, uint32_t length, uint32_t* slotOut);
  int ApplyDelete(uint64_t target, uint64_t before);
  void RemoveSlot(uint32_t slot);
  int ReadRecord(uint64_t offset, uint32_t length, std::vector<uint8_t>* out);
  int Position(size_t k, OrderedIndex::Pos p, Found* out);
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
  bool loaded_ = false;
  uint64_t loadedEnd_ = 0;
  uint64_t liveCount_ = 0;
  std::vector<uint32_t> distinct_;

  std::vector<Slot> slots_;
  std::vector<uint32_t> freeSlots_;
  std::vector<uint8_t> keys_;        // every slot's key values, keyBytes_ each
  size_t keyBytes_ = 0;
  std::vector<size_t> keyStart_;     // where key k's value starts in a slot's bytes
  std::vector<OrderedIndex> index_;  // per key: slots in key order
  std::map<uint64_t, uint32_t> keyless_;  // live records of a file without keys

  // The position: on a record (curSlot_), or just before where a deleted
  // record was (beforeKey_, beforeOffset_). curPos_ is valid while the
  // index's version is curVersion_.
  int curKey_ = -1;
  CursorState state_ = CursorState::kNone;
  uint32_t curSlot_ = 0;
  OrderedIndex::Pos curPos_;
  uint64_t curVersion_ = 0;
  std::string beforeKey_;
  uint64_t beforeOffset_ = 0;
};

}  // namespace engine
