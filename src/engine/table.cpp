#include "engine/table.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/checksum.h"
#include "engine/fs.h"
#include "engine/le.h"
#include "engine/sha256.h"
#include "engine/status.h"

namespace engine {
namespace {

// Lock bytes, far beyond any real file content. Every open holds the open
// byte (shared, or exclusive for an exclusive open); a change holds the
// change byte for its duration.
constexpr uint64_t kOpenLockByte = 1ull << 62;
constexpr uint64_t kChangeLockByte = (1ull << 62) + 1;
constexpr int kLockTries = 400;
constexpr int kLockPauseMicros = 5000;

// Log entries are read in chunks of at least this size while loading.
constexpr size_t kScanChunk = 1 << 20;

int MapFs(int e) { return e == kFsNoSpace ? kDiskFull : kIoError; }

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t n) {
  uint8_t diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

std::array<uint8_t, 32> OwnerDigest(const std::array<uint8_t, 16>& salt, const std::string& name) {
  std::vector<uint8_t> msg(salt.begin(), salt.end());
  msg.insert(msg.end(), name.begin(), name.end());
  return Sha256(msg.data(), msg.size());
}

int Table::ReadCommits(Commit* newest, int* slot) {
  size_t size = 2ull * meta_.commitBlockSize;
  std::vector<uint8_t> bytes(size);
  long long got = CurrentFileSystem()->Read(fd_, meta_.commitOffset, bytes.data(), size);
  if (got != static_cast<long long>(size)) return kIoError;
  auto a = DecodeCommit(meta_, bytes.data());
  auto b = DecodeCommit(meta_, bytes.data() + meta_.commitBlockSize);
  if (!a && !b) return kIoError;
  if (a && (!b || a->sequence >= b->sequence)) {
    *newest = *a;
    *slot = 0;
  } else {
    *newest = *b;
    *slot = 1;
  }
  commitBytes_ = std::move(bytes);
  return kOk;
}

// Readers hold the change byte shared while they read the commit and the
// entries it covers, so they never see a change in progress (one whose
// commit might still be taken back). A change already holds it exclusive.
int Table::Refresh(bool needIndex) {
  if (changing_) return RefreshLocked(needIndex);
  if (loaded_ || !needIndex) {
    // Fast path: when the current commit is still the one this open last
    // took under the lock, nothing changed and no lock is needed. Commits
    // are adopted only under the lock, so they are never ones taken back.
    Commit newest;
    int slot = 0;
    if (commit_.sequence != 0 && ReadCommits(&newest, &slot) == kOk && newest.sequence == commit_.sequence &&
        newest.logEnd == commit_.logEnd && newest.recordCount == commit_.recordCount) {
      commitSlot_ = slot;
      return kOk;
    }
  }
  int st = LockChangeByte(LockKind::kShared);
  if (st != kOk) return st;
  st = RefreshLocked(needIndex);
  CurrentFileSystem()->Lock(fd_, kChangeLockByte, LockKind::kUnlock);
  return st;
}

int Table::RefreshLocked(bool needIndex) {
  Commit newest;
  int slot = 0;
  int st = ReadCommits(&newest, &slot);
  if (st != kOk) return st;
  // The sequence and the committed end only grow. Should they not (a
  // damaged newest block, or a writer on a system without working locks
  // taking back a commit), what was read past the commit now current is
  // forgotten and reread.
  if (newest.sequence < commit_.sequence || newest.logEnd < commit_.logEnd) {
    if (loaded_) needIndex = true;
    DropIndex();
  }
  commit_ = newest;
  commitSlot_ = slot;
  if (!loaded_ && !needIndex) return kOk;
  if (!loaded_) {
    DropIndex();
    loadedEnd_ = meta_.logStart;
  }
  if (loadedEnd_ < commit_.logEnd) {
    st = LoadTail(loadedEnd_, commit_.logEnd);
    if (st != kOk) {
      DropIndex();
      return st;
    }
    loaded_ = true;
    loadedEnd_ = commit_.logEnd;
  }
  loaded_ = true;
  // The commit's counts must agree with what the log holds.
  bool counts = liveCount_ == commit_.recordCount;
  for (size_t k = 0; counts && k < distinct_.size(); ++k) counts = distinct_[k] == commit_.distinct[k];
  if (!counts) {
    DropIndex();
    return kIoError;
  }
  return kOk;
}

int Table::ReadRecord(uint64_t offset, uint32_t length, std::vector<uint8_t>* out) {
  std::vector<uint8_t> e(kEntryOverhead + length);
  if (CurrentFileSystem()->Read(fd_, offset, e.data(), e.size()) != static_cast<long long>(e.size()))
    return kIoError;
  if (e[0] != kEntryInsert || Le32(&e[4]) != length || Crc32c(e.data(), 8 + length) != Le32(&e[8 + length]))
    return kIoError;
  out->assign(e.begin() + 8, e.begin() + 8 + length);
  return kOk;
}

int Table::LockChangeByte(LockKind kind) {
  FileSystem* fs = CurrentFileSystem();
  for (int i = 0; i < kLockTries; ++i) {
    int r = fs->Lock(fd_, kChangeLockByte, kind);
    if (r == 0) return kOk;
    if (r != kFsBusy) return kIoError;
    fs->Pause(kLockPauseMicros);
  }
  return kLocked;
}

int Table::LockForChange() {
  int st = LockChangeByte(LockKind::kExclusive);
  changing_ = st == kOk;
  return st;
}

void Table::Unlock() {
  changing_ = false;
  CurrentFileSystem()->Lock(fd_, kChangeLockByte, LockKind::kUnlock);
}

// Appends the entry at the committed end, syncs, writes the next commit into
// the block that does not hold the current one, syncs. On any failure the
// bytes written are taken back, so the file is as it was.
int Table::AppendAndCommit(const std::vector<uint8_t>& entry, const Commit& next) {
  FileSystem* fs = CurrentFileSystem();
  long long oldSize = fs->Size(fd_);
  if (oldSize < 0) return kIoError;
  auto undoLog = [&]() {
    if (static_cast<uint64_t>(oldSize) < commit_.logEnd + entry.size()) {
      fs->Truncate(fd_, static_cast<uint64_t>(oldSize));
      fs->Sync(fd_);
    }
  };
  int r = fs->Write(fd_, commit_.logEnd, entry.data(), entry.size());
  if (r == 0) r = fs->Sync(fd_);
  if (r != 0) {
    undoLog();
    return MapFs(r);
  }
  int slot = 1 - commitSlot_;
  uint64_t slotOffset = meta_.commitOffset + uint64_t{meta_.commitBlockSize} * slot;
  std::vector<uint8_t> block = EncodeCommit(meta_, next);
  r = fs->Write(fd_, slotOffset, block.data(), block.size());
  if (r == 0) r = fs->Sync(fd_);
  if (r != 0) {
    // Put the old block back so that the newest valid commit is the old one.
    fs->Write(fd_, slotOffset, commitBytes_.data() + uint64_t{meta_.commitBlockSize} * slot,
              meta_.commitBlockSize);
    fs->Sync(fd_);
    undoLog();
    return MapFs(r);
  }
  commitSlot_ = slot;
  std::memcpy(commitBytes_.data() + uint64_t{meta_.commitBlockSize} * slot, block.data(), block.size());
  return kOk;
}


int Table::Open(const std::string& path, Access access, const std::string* owner,
                std::unique_ptr<Table>* out) {
  FileSystem* fs = CurrentFileSystem();
  bool writable = access != Access::kReadOnly;
  int fd = fs->Open(path, writable ? OpenMode::kReadWrite : OpenMode::kRead);
  if (fd == kFsAccess && access == Access::kNormal) {
    // A file the user may only read still opens; changes answer 46.
    fd = fs->Open(path, OpenMode::kRead);
    writable = false;
  }
  if (fd < 0) {
    switch (fd) {
      case kFsNotFound: return kFileNotFound;
      case kFsAccess: return kAccessDenied;
      case kFsIsDir: case kFsBadName: return kBadFileName;
      default: return kIoError;
    }
  }
  std::unique_ptr<Table> t(new Table());
  t->fd_ = fd;
  t->writable_ = writable;
  t->path_ = path;

  uint8_t fixed[kHeaderFixedSize];
  long long got = fs->Read(fd, 0, fixed, sizeof fixed);
  if (got < 0) return kIoError;
  uint32_t headerLength = 0;
  int st = DecodeHeaderLength(fixed, static_cast<size_t>(got), &headerLength);
  if (st != kOk) return st;
  std::vector<uint8_t> header(headerLength);
  got = fs->Read(fd, 0, header.data(), header.size());
  if (got != static_cast<long long>(header.size())) return kIoError;
  st = DecodeHeader(header.data(), header.size(), &t->meta_);
  if (st != kOk) return st;

  if (t->meta_.hasOwner) {
    if (owner == nullptr || owner->empty()) return kBadOwner;
    auto digest = OwnerDigest(t->meta_.salt, *owner);
    if (!ConstantTimeEqual(digest.data(), t->meta_.digest.data(), digest.size())) return kBadOwner;
  }

  int lk = fs->Lock(fd, kOpenLockByte, access == Access::kExclusive ? LockKind::kExclusive : LockKind::kShared);
  if (lk == kFsBusy) return kLocked;
  if (lk != 0) return kIoError;

  for (const Key& key : t->meta_.keys) {
    t->keyStart_.push_back(t->keyBytes_);
    t->keyBytes_ += key.length;
  }
  t->index_.resize(t->meta_.keys.size());
  t->distinct_.assign(t->meta_.keys.size(), 0);
  t->commit_.logEnd = t->meta_.logStart;
  st = t->Refresh(false);
  if (st != kOk) return st;
  *out = std::move(t);
  return kOk;
}

Table::~Table() {
  if (fd_ >= 0) CurrentFileSystem()->Close(fd_);  // releases this open's locks
}

void Table::DropIndex() {
  for (auto& idx : index_) idx.Clear();
  slots_.clear();
  freeSlots_.clear();
  keys_.clear();
  keyless_.clear();
  loaded_ = false;
  liveCount_ = 0;
  distinct_.assign(meta_.keys.size(), 0);
  curKey_ = -1;
  state_ = CursorState::kNone;
}

int Table::LoadTail(uint64_t from, uint64_t to) {
  FileSystem* fs = CurrentFileSystem();
  std::vector<uint8_t> buf;
  uint64_t bufStart = from;  // file offset of buf[0]
  uint64_t pos = from;
  auto ensure = [&](uint64_t need) -> bool {  // buf covers [pos, pos + need)
    if (pos + need > to) return false;
    if (pos >= bufStart && pos + need <= bufStart + buf.size()) return true;
    size_t want = static_cast<size_t>(std::min<uint64_t>(to - pos, std::max<uint64_t>(need, kScanChunk)));
    buf.resize(want);
    long long got = fs->Read(fd_, pos, buf.data(), want);
    bufStart = pos;
    if (got != static_cast<long long>(want)) {
      buf.clear();
      return false;
    }
    return true;
  };
  while (pos < to) {
    if (!ensure(8)) return kIoError;
    const uint8_t* h = buf.data() + (pos - bufStart);
    uint8_t type = h[0];
    uint32_t len = Le32(h + 4);
    if ((type != kEntryInsert && type != kEntryDelete) || h[1] || h[2] || h[3]) return kIoError;
    if (type == kEntryInsert && (len < meta_.recordLength || len > meta_.maxRecordLength)) return kIoError;
    if (type == kEntryDelete && len != 8) return kIoError;
    if (!ensure(kEntryOverhead + uint64_t{len})) return kIoError;
    const uint8_t* e = buf.data() + (pos - bufStart);
    if (Crc32c(e, 8 + len) != Le32(e + 8 + len)) return kIoError;
    int st = type == kEntryInsert ? ApplyInsert(pos, e + 8, len, nullptr) : ApplyDelete(Le64(e + 8), pos);
    if (st != kOk) return st;
    pos += kEntryOverhead + len;
  }
  return kOk;
}

OrderedIndex::Pos Table::Find(size_t k, const uint8_t* value, uint64_t offset) const {
  return index_[k].LowerBound([&](uint32_t s) {
    int c = CompareKeys(meta_, k, KeyOf(s, k), value);
    if (c != 0) return c;
    return slots_[s].offset < offset ? -1 : slots_[s].offset > offset ? 1 : 0;
  });
}

bool Table::HasEqual(size_t k, const uint8_t* value) const {
  OrderedIndex::Pos p = Find(k, value, 0);
  return !index_[k].IsEnd(p) && CompareKeys(meta_, k, KeyOf(index_[k].At(p), k), value) == 0;
}

bool Table::Alone(size_t k, OrderedIndex::Pos p) const {
  const OrderedIndex& idx = index_[k];
  const uint8_t* value = KeyOf(idx.At(p), k);
  OrderedIndex::Pos n = idx.Next(p);
  if (!idx.IsEnd(n) && CompareKeys(meta_, k, KeyOf(idx.At(n), k), value) == 0) return false;
  if (idx.Prev(&p) && CompareKeys(meta_, k, KeyOf(idx.At(p), k), value) == 0) return false;
  return true;
}

int Table::ApplyInsert(uint64_t offset, const uint8_t* record, uint32_t length, uint32_t* slotOut) {
  if (meta_.keys.empty()) {
    keyless_[offset] = length;
    ++liveCount_;
    return kOk;
  }
  uint32_t s;
  if (!freeSlots_.empty()) {
    s = freeSlots_.back();
    freeSlots_.pop_back();
  } else {
    s = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
    keys_.resize(keys_.size() + keyBytes_);
  }
  slots_[s] = Slot{offset, length};
  uint8_t* values = keys_.data() + size_t{s} * keyBytes_;
  for (const Segment& seg : meta_.segments)
    std::memcpy(values + keyStart_[seg.keyIndex] + seg.offsetInKey, record + seg.position - 1, seg.length);
  std::vector<bool> equal(meta_.keys.size());
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    equal[k] = HasEqual(k, KeyOf(s, k));
    if (equal[k] && !meta_.keys[k].duplicates) {
      freeSlots_.push_back(s);
      return kIoError;  // the log broke a unique key
    }
  }
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    if (!equal[k]) ++distinct_[k];
    index_[k].InsertAt(Find(k, KeyOf(s, k), offset), s);
  }
  ++liveCount_;
  if (slotOut) *slotOut = s;
  return kOk;
}

void Table::RemoveSlot(uint32_t s) {
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    OrderedIndex::Pos p = Find(k, KeyOf(s, k), slots_[s].offset);
    if (Alone(k, p)) --distinct_[k];
    // A position on the record moves to just before its successor.
    if (curKey_ == static_cast<int>(k) && state_ == CursorState::kOn && curSlot_ == s) {
      state_ = CursorState::kBefore;
      beforeKey_.assign(reinterpret_cast<const char*>(KeyOf(s, k)), meta_.keys[k].length);
      beforeOffset_ = slots_[s].offset;
    }
    index_[k].EraseAt(p);
  }
  freeSlots_.push_back(s);
  --liveCount_;
}

int Table::ApplyDelete(uint64_t target, uint64_t before) {
  if (target < meta_.logStart || target >= before) return kIoError;
  if (meta_.keys.empty()) {
    if (keyless_.erase(target) != 1) return kIoError;
    --liveCount_;
    return kOk;
  }
  // The deleted record is found through key 0 and its own insert entry.
  uint8_t head[8];
  if (target + 8 > before || CurrentFileSystem()->Read(fd_, target, head, 8) != 8) return kIoError;
  uint32_t length = Le32(head + 4);
  if (head[0] != kEntryInsert || length < meta_.recordLength || length > meta_.maxRecordLength ||
      target + kEntryOverhead + length > before)
    return kIoError;
  std::vector<uint8_t> record;
  int st = ReadRecord(target, length, &record);
  if (st != kOk) return st;
  std::string key0 = ExtractKey(meta_, 0, record.data());
  OrderedIndex::Pos p = Find(0, reinterpret_cast<const uint8_t*>(key0.data()), target);
  if (index_[0].IsEnd(p) || slots_[index_[0].At(p)].offset != target) return kIoError;  // not live
  RemoveSlot(index_[0].At(p));
  return kOk;
}

int Table::Position(size_t k, OrderedIndex::Pos p, Found* out) {
  uint32_t s = index_[k].At(p);
  int st = ReadRecord(slots_[s].offset, slots_[s].length, &out->record);
  if (st != kOk) return st;
  out->key.assign(reinterpret_cast<const char*>(KeyOf(s, k)), meta_.keys[k].length);
  curKey_ = static_cast<int>(k);
  state_ = CursorState::kOn;
  curSlot_ = s;
  curPos_ = p;
  curVersion_ = index_[k].version();
  return kOk;
}

int Table::GetFirst(size_t k, Found* out) {
  int st = Refresh(true);
  if (st != kOk) return st;
  if (index_[k].empty()) return kEndOfFile;
  return Position(k, index_[k].Begin(), out);
}

int Table::GetEqual(size_t k, const uint8_t* keyValue, Found* out) {
  int st = Refresh(true);
  if (st != kOk) return st;
  OrderedIndex::Pos p = Find(k, keyValue, 0);
  if (index_[k].IsEnd(p) || CompareKeys(meta_, k, KeyOf(index_[k].At(p), k), keyValue) != 0)
    return kKeyNotFound;
  return Position(k, p, out);
}

int Table::GetGreaterOrEqual(size_t k, const uint8_t* keyValue, Found* out) {
  int st = Refresh(true);
  if (st != kOk) return st;
  OrderedIndex::Pos p = Find(k, keyValue, 0);
  if (index_[k].IsEnd(p)) return kEndOfFile;
  return Position(k, p, out);
}

int Table::GetNext(size_t k, Found* out) {
  if (state_ == CursorState::kNone) return kNoPosition;
  if (curKey_ != static_cast<int>(k)) return kKeyNumberChanged;
  int st = Refresh(true);
  if (st != kOk) return st;
  if (state_ == CursorState::kNone) return kNoPosition;  // the index was rebuilt
  const OrderedIndex& idx = index_[k];
  OrderedIndex::Pos p;
  if (state_ == CursorState::kOn) {
    // Unchanged index: step from the remembered place; else find it again.
    p = idx.version() == curVersion_ ? curPos_ : Find(k, KeyOf(curSlot_, k), slots_[curSlot_].offset);
    p = idx.Next(p);
  } else {
    // The deleted record is gone, so its place is its successor's.
    p = Find(k, reinterpret_cast<const uint8_t*>(beforeKey_.data()), beforeOffset_);
  }
  if (idx.IsEnd(p)) return kEndOfFile;
  return Position(k, p, out);
}

int Table::Insert(const uint8_t* record, uint32_t length, int positionKey, std::string* keyOut) {
  if (!writable_) return kAccessDenied;
  if (length < meta_.recordLength || length > meta_.maxRecordLength) return kDataLength;
  int st = LockForChange();
  if (st != kOk) return st;
  st = Refresh(true);
  Commit next = commit_;
  for (size_t k = 0; st == kOk && k < meta_.keys.size(); ++k) {
    std::string key = ExtractKey(meta_, k, record);
    bool equal = HasEqual(k, reinterpret_cast<const uint8_t*>(key.data()));
    if (equal && !meta_.keys[k].duplicates) st = kDuplicateKey;
    if (!equal) ++next.distinct[k];
  }
  uint64_t offset = commit_.logEnd;
  if (st == kOk && (commit_.recordCount >= kMaxRecords ||
                    commit_.logEnd + kEntryOverhead + length > kMaxFileSize))
    st = kDiskFull;  // the file is as large as the engine lets a file grow
  if (st == kOk) {
    std::vector<uint8_t> entry = EncodeInsert(record, length);
    next.sequence = commit_.sequence + 1;
    next.logEnd = commit_.logEnd + entry.size();
    next.recordCount = commit_.recordCount + 1;
    st = AppendAndCommit(entry, next);
  }
  uint32_t slot = 0;
  if (st == kOk) {
    st = ApplyInsert(offset, record, length, &slot);
    commit_ = next;
    loadedEnd_ = next.logEnd;
  }
  Unlock();
  if (st != kOk) return st;
  if (positionKey >= 0 && static_cast<size_t>(positionKey) < meta_.keys.size()) {
    size_t k = static_cast<size_t>(positionKey);
    curKey_ = positionKey;
    state_ = CursorState::kOn;
    curSlot_ = slot;
    curPos_ = Find(k, KeyOf(slot, k), offset);
    curVersion_ = index_[k].version();
    if (keyOut) keyOut->assign(reinterpret_cast<const char*>(KeyOf(slot, k)), meta_.keys[k].length);
  }
  return kOk;
}

int Table::InsertMany(const std::vector<std::vector<uint8_t>>& records, size_t* failed) {
  if (!writable_) return kAccessDenied;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].size() < meta_.recordLength || records[i].size() > meta_.maxRecordLength) {
      if (failed) *failed = i;
      return kDataLength;
    }
  }
  if (records.empty()) return kOk;
  int st = LockForChange();
  if (st != kOk) return st;
  st = Refresh(true);
  Commit next = commit_;
  // Values new to each key within this batch, ordered by the key alone.
  for (size_t k = 0; st == kOk && k < meta_.keys.size(); ++k) {
    auto less = [&](const std::string& a, const std::string& b) {
      return CompareKeys(meta_, k, reinterpret_cast<const uint8_t*>(a.data()),
                         reinterpret_cast<const uint8_t*>(b.data())) < 0;
    };
    std::set<std::string, decltype(less)> seen(less);
    for (size_t i = 0; i < records.size(); ++i) {
      std::string key = ExtractKey(meta_, k, records[i].data());
      bool equal = HasEqual(k, reinterpret_cast<const uint8_t*>(key.data())) || seen.count(key) > 0;
      if (equal && !meta_.keys[k].duplicates) {
        if (failed) *failed = i;
        st = kDuplicateKey;
        break;
      }
      if (!equal) {
        ++next.distinct[k];
        seen.insert(std::move(key));
      }
    }
  }
  std::vector<uint64_t> offsets;
  if (st == kOk && commit_.recordCount + records.size() > kMaxRecords) st = kDiskFull;
  if (st == kOk) {
    std::vector<uint8_t> entries;
    uint64_t at = commit_.logEnd;
    for (const auto& r : records) {
      std::vector<uint8_t> e = EncodeInsert(r.data(), static_cast<uint32_t>(r.size()));
      offsets.push_back(at);
      at += e.size();
      entries.insert(entries.end(), e.begin(), e.end());
    }
    if (at > kMaxFileSize) st = kDiskFull;
    next.sequence = commit_.sequence + 1;
    next.logEnd = at;
    next.recordCount = commit_.recordCount + records.size();
    if (st == kOk) st = AppendAndCommit(entries, next);
  }
  if (st == kOk) {
    for (size_t i = 0; st == kOk && i < records.size(); ++i)
      st = ApplyInsert(offsets[i], records[i].data(), static_cast<uint32_t>(records[i].size()), nullptr);
    commit_ = next;
    loadedEnd_ = next.logEnd;
  }
  Unlock();
  return st;
}

int Table::Delete() {
  if (!writable_) return kAccessDenied;
  if (state_ != CursorState::kOn) return kNoPosition;
  int st = LockForChange();
  if (st != kOk) return st;
  st = Refresh(true);
  // Another process may have deleted the record meanwhile.
  if (st == kOk && state_ != CursorState::kOn) st = kNoPosition;
  if (st == kOk) {
    uint32_t s = curSlot_;
    Commit next = commit_;
    for (size_t k = 0; k < meta_.keys.size(); ++k)
      if (Alone(k, Find(k, KeyOf(s, k), slots_[s].offset))) --next.distinct[k];
    std::vector<uint8_t> entry = EncodeDelete(slots_[s].offset);
    next.sequence = commit_.sequence + 1;
    next.logEnd = commit_.logEnd + entry.size();
    next.recordCount = commit_.recordCount - 1;
    st = AppendAndCommit(entry, next);
    if (st == kOk) {
      RemoveSlot(s);
      commit_ = next;
      loadedEnd_ = next.logEnd;
    }
  }
  Unlock();
  return st;
}

int Table::ReadAll(std::vector<std::vector<uint8_t>>* records) {
  int st = Refresh(true);
  if (st != kOk) return st;
  records->clear();
  std::vector<uint8_t> rec;
  if (meta_.keys.empty()) {
    for (const auto& [offset, length] : keyless_) {
      if ((st = ReadRecord(offset, length, &rec)) != kOk) return st;
      records->push_back(rec);
    }
    return kOk;
  }
  const OrderedIndex& idx = index_[0];
  for (OrderedIndex::Pos p = idx.Begin(); !idx.IsEnd(p); p = idx.Next(p)) {
    const Slot& s = slots_[idx.At(p)];
    if ((st = ReadRecord(s.offset, s.length, &rec)) != kOk) return st;
    records->push_back(rec);
  }
  return kOk;
}

int Table::Verify(std::string* problem) {
  auto fail = [&](int st, const char* why) {
    if (problem) *problem = why;
    return st;
  };
  int st = Refresh(true);
  if (st != kOk) return fail(st, "the log does not replay to the committed counts");
  long long size = CurrentFileSystem()->Size(fd_);
  if (size < 0 || static_cast<uint64_t>(size) < commit_.logEnd) return fail(kIoError, "file shorter than its log");
  std::vector<uint8_t> rec;
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    const OrderedIndex& idx = index_[k];
    if (idx.size() != liveCount_) return fail(kIoError, "a key does not index every record");
    bool first = true;
    uint32_t prev = 0;
    for (OrderedIndex::Pos p = idx.Begin(); !idx.IsEnd(p); p = idx.Next(p)) {
      uint32_t s = idx.At(p);
      if ((st = ReadRecord(slots_[s].offset, slots_[s].length, &rec)) != kOk)
        return fail(st, "a record fails its checksum");
      if (std::memcmp(ExtractKey(meta_, k, rec.data()).data(), KeyOf(s, k), meta_.keys[k].length) != 0)
        return fail(kIoError, "a key value differs from its record");
      if (!first) {
        int c = CompareKeys(meta_, k, KeyOf(prev, k), KeyOf(s, k));
        if (c > 0 || (c == 0 && (!meta_.keys[k].duplicates || slots_[prev].offset >= slots_[s].offset)))
          return fail(kIoError, "a key is out of order or a unique key holds a value twice");
      }
      first = false;
      prev = s;
    }
  }
  for (const auto& [offset, length] : keyless_)
    if ((st = ReadRecord(offset, length, &rec)) != kOk) return fail(st, "a record fails its checksum");
  return kOk;
}

}  // namespace engine
