#include "engine/table.h"

#include <algorithm>
#include <cstring>

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

  t->index_.reserve(t->meta_.keys.size());
  for (size_t k = 0; k < t->meta_.keys.size(); ++k) t->index_.emplace_back(NodeLess{&t->meta_, k});
  t->commit_.logEnd = t->meta_.logStart;
  st = t->Refresh(false);
  if (st != kOk) return st;
  *out = std::move(t);
  return kOk;
}

Table::~Table() {
  if (fd_ >= 0) CurrentFileSystem()->Close(fd_);  // releases this open's locks
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

void Table::DropIndex() {
  for (auto& idx : index_) idx.clear();
  keyless_.clear();
  loaded_ = false;
  liveCount_ = 0;
  distinct_.assign(meta_.keys.size(), 0);
  curKey_ = -1;
  state_ = CursorState::kNone;
}

int Table::Refresh(bool needIndex) {
  Commit newest;
  int slot = 0;
  int st = ReadCommits(&newest, &slot);
  if (st != kOk) return st;
  // The sequence and the committed end only ever grow.
  if (newest.sequence < commit_.sequence || newest.logEnd < commit_.logEnd) return kIoError;
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
    int st = type == kEntryInsert ? ApplyInsert(pos, e + 8, len) : ApplyDelete(Le64(e + 8), pos);
    if (st != kOk) return st;
    pos += kEntryOverhead + len;
  }
  return kOk;
}

bool Table::HasEqual(size_t k, const std::string& key) {
  auto it = index_[k].lower_bound(IndexNode{key, 0, 0});
  return it != index_[k].end() &&
         CompareKeys(meta_, k, reinterpret_cast<const uint8_t*>(it->key.data()),
                     reinterpret_cast<const uint8_t*>(key.data())) == 0;
}

int Table::ApplyInsert(uint64_t offset, const uint8_t* record, uint32_t length) {
  if (meta_.keys.empty()) {
    keyless_[offset] = length;
  }
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    std::string key = ExtractKey(meta_, k, record);
    bool equal = HasEqual(k, key);
    if (equal && !meta_.keys[k].duplicates) return kIoError;  // the log broke a unique key
    if (!equal) ++distinct_[k];
    index_[k].insert(IndexNode{std::move(key), offset, length});
  }
  ++liveCount_;
  return kOk;
}

int Table::ApplyDelete(uint64_t target, uint64_t before) {
  if (target < meta_.logStart || target >= before) return kIoError;
  if (meta_.keys.empty()) {
    if (keyless_.erase(target) != 1) return kIoError;
    --liveCount_;
    return kOk;
  }
  // The deleted record's keys come from its own insert entry.
  uint8_t head[8];
  if (target + 8 > before || CurrentFileSystem()->Read(fd_, target, head, 8) != 8) return kIoError;
  uint32_t length = Le32(head + 4);
  if (head[0] != kEntryInsert || length < meta_.recordLength || length > meta_.maxRecordLength ||
      target + kEntryOverhead + length > before)
    return kIoError;
  std::vector<uint8_t> record;
  int st = ReadRecord(target, length, &record);
  if (st != kOk) return st;
  std::vector<Index::iterator> found;
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    auto it = index_[k].find(IndexNode{ExtractKey(meta_, k, record.data()), target, length});
    if (it == index_[k].end()) return kIoError;  // not a live record
    found.push_back(it);
  }
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    Index& idx = index_[k];
    auto it = found[k];
    auto next = std::next(it);
    // A position on (or just before) the record moves to its successor.
    if (curKey_ == static_cast<int>(k) && state_ != CursorState::kNone && cur_ == it) {
      state_ = CursorState::kBefore;
      cur_ = next;
    }
    bool alone = true;
    auto same = [&](Index::iterator o) {
      return CompareKeys(meta_, k, reinterpret_cast<const uint8_t*>(o->key.data()),
                         reinterpret_cast<const uint8_t*>(it->key.data())) == 0;
    };
    if (next != idx.end() && same(next)) alone = false;
    if (alone && it != idx.begin() && same(std::prev(it))) alone = false;
    if (alone) --distinct_[k];
    idx.erase(it);
  }
  --liveCount_;
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

int Table::Position(size_t k, Index::iterator it, Found* out) {
  int st = ReadRecord(it->offset, it->length, &out->record);
  if (st != kOk) return st;
  out->key = it->key;
  curKey_ = static_cast<int>(k);
  state_ = CursorState::kOn;
  cur_ = it;
  return kOk;
}

int Table::GetFirst(size_t k, Found* out) {
  int st = Refresh(true);
  if (st != kOk) return st;
  if (index_[k].empty()) return kEndOfFile;
  return Position(k, index_[k].begin(), out);
}

int Table::GetEqual(size_t k, const uint8_t* keyValue, Found* out) {
  int st = Refresh(true);
  if (st != kOk) return st;
  std::string key(reinterpret_cast<const char*>(keyValue), meta_.keys[k].length);
  auto it = index_[k].lower_bound(IndexNode{key, 0, 0});
  if (it == index_[k].end() ||
      CompareKeys(meta_, k, reinterpret_cast<const uint8_t*>(it->key.data()), keyValue) != 0)
    return kKeyNotFound;
  return Position(k, it, out);
}

int Table::GetGreaterOrEqual(size_t k, const uint8_t* keyValue, Found* out) {
  int st = Refresh(true);
  if (st != kOk) return st;
  std::string key(reinterpret_cast<const char*>(keyValue), meta_.keys[k].length);
  auto it = index_[k].lower_bound(IndexNode{key, 0, 0});
  if (it == index_[k].end()) return kEndOfFile;
  return Position(k, it, out);
}

int Table::GetNext(size_t k, Found* out) {
  if (state_ == CursorState::kNone) return kNoPosition;
  if (curKey_ != static_cast<int>(k)) return kKeyNumberChanged;
  int st = Refresh(true);
  if (st != kOk) return st;
  if (state_ == CursorState::kNone) return kNoPosition;  // the index was rebuilt
  auto it = state_ == CursorState::kOn ? std::next(cur_) : cur_;
  if (it == index_[k].end()) return kEndOfFile;
  return Position(k, it, out);
}

int Table::LockForChange() {
  FileSystem* fs = CurrentFileSystem();
  for (int i = 0; i < kLockTries; ++i) {
    int r = fs->Lock(fd_, kChangeLockByte, LockKind::kExclusive);
    if (r == 0) return kOk;
    if (r != kFsBusy) return kIoError;
    fs->Pause(kLockPauseMicros);
  }
  return kLocked;
}

void Table::Unlock() { CurrentFileSystem()->Lock(fd_, kChangeLockByte, LockKind::kUnlock); }

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

int Table::Insert(const uint8_t* record, uint32_t length, int positionKey, std::string* keyOut) {
  if (!writable_) return kAccessDenied;
  if (length < meta_.recordLength || length > meta_.maxRecordLength) return kDataLength;
  int st = LockForChange();
  if (st != kOk) return st;
  st = Refresh(true);
  Commit next = commit_;
  for (size_t k = 0; st == kOk && k < meta_.keys.size(); ++k) {
    bool equal = HasEqual(k, ExtractKey(meta_, k, record));
    if (equal && !meta_.keys[k].duplicates) st = kDuplicateKey;
    if (!equal) ++next.distinct[k];
  }
  uint64_t offset = commit_.logEnd;
  if (st == kOk) {
    std::vector<uint8_t> entry = EncodeInsert(record, length);
    next.sequence = commit_.sequence + 1;
    next.logEnd = commit_.logEnd + entry.size();
    next.recordCount = commit_.recordCount + 1;
    st = AppendAndCommit(entry, next);
  }
  if (st == kOk) {
    st = ApplyInsert(offset, record, length);
    commit_ = next;
    loadedEnd_ = next.logEnd;
  }
  Unlock();
  if (st != kOk) return st;
  if (positionKey >= 0 && static_cast<size_t>(positionKey) < meta_.keys.size()) {
    size_t k = static_cast<size_t>(positionKey);
    std::string key = ExtractKey(meta_, k, record);
    curKey_ = positionKey;
    state_ = CursorState::kOn;
    cur_ = index_[k].find(IndexNode{key, offset, length});
    if (keyOut) *keyOut = key;
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
      bool equal = HasEqual(k, key) || seen.count(key) > 0;
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
  if (st == kOk) {
    std::vector<uint8_t> entries;
    uint64_t at = commit_.logEnd;
    for (const auto& r : records) {
      std::vector<uint8_t> e = EncodeInsert(r.data(), static_cast<uint32_t>(r.size()));
      offsets.push_back(at);
      at += e.size();
      entries.insert(entries.end(), e.begin(), e.end());
    }
    next.sequence = commit_.sequence + 1;
    next.logEnd = at;
    next.recordCount = commit_.recordCount + records.size();
    st = AppendAndCommit(entries, next);
  }
  if (st == kOk) {
    for (size_t i = 0; st == kOk && i < records.size(); ++i)
      st = ApplyInsert(offsets[i], records[i].data(), static_cast<uint32_t>(records[i].size()));
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
    uint64_t target = cur_->offset;
    size_t k = static_cast<size_t>(curKey_);
    Commit next = commit_;
    for (size_t j = 0; j < meta_.keys.size(); ++j) next.distinct[j] = distinct_[j];
    // Work out the counts after removal without touching the index yet.
    std::vector<uint8_t> record;
    st = ReadRecord(target, cur_->length, &record);
    for (size_t j = 0; st == kOk && j < meta_.keys.size(); ++j) {
      Index& idx = index_[j];
      auto it = j == k ? cur_ : idx.find(IndexNode{ExtractKey(meta_, j, record.data()), target, 0});
      if (it == idx.end()) {
        st = kIoError;
        break;
      }
      auto same = [&](Index::iterator o) {
        return CompareKeys(meta_, j, reinterpret_cast<const uint8_t*>(o->key.data()),
                           reinterpret_cast<const uint8_t*>(it->key.data())) == 0;
      };
      auto nx = std::next(it);
      bool alone = !(nx != idx.end() && same(nx)) && !(it != idx.begin() && same(std::prev(it)));
      if (alone) --next.distinct[j];
    }
    if (st == kOk) {
      std::vector<uint8_t> entry = EncodeDelete(target);
      next.sequence = commit_.sequence + 1;
      next.logEnd = commit_.logEnd + entry.size();
      next.recordCount = commit_.recordCount - 1;
      uint64_t entryOffset = commit_.logEnd;
      st = AppendAndCommit(entry, next);
      if (st == kOk) {
        st = ApplyDelete(target, entryOffset);
        commit_ = next;
        loadedEnd_ = next.logEnd;
      }
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
  for (const IndexNode& n : index_[0]) {
    if ((st = ReadRecord(n.offset, n.length, &rec)) != kOk) return st;
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
    if (index_[k].size() != liveCount_) return fail(kIoError, "a key does not index every record");
    const IndexNode* prev = nullptr;
    for (const IndexNode& n : index_[k]) {
      if ((st = ReadRecord(n.offset, n.length, &rec)) != kOk) return fail(st, "a record fails its checksum");
      if (ExtractKey(meta_, k, rec.data()) != n.key) return fail(kIoError, "a key value differs from its record");
      if (prev && !meta_.keys[k].duplicates &&
          CompareKeys(meta_, k, reinterpret_cast<const uint8_t*>(prev->key.data()),
                      reinterpret_cast<const uint8_t*>(n.key.data())) == 0)
        return fail(kIoError, "a unique key holds a value twice");
      prev = &n;
    }
  }
  for (const auto& [offset, length] : keyless_)
    if ((st = ReadRecord(offset, length, &rec)) != kOk) return fail(st, "a record fails its checksum");
  return kOk;
}

}  // namespace engine
