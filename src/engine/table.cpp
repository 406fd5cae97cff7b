#include "engine/table.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <set>

#include "engine/checksum.h"
#include "engine/fs.h"
#include "engine/key_order.h"
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

// Bytes kept readable after every normalized value (see Find).
constexpr size_t kNormSlack = 8;

// Open reads this much at once: the header and commit blocks of any file
// with a few collating sequences, in one read.
constexpr size_t kFirstRead = 4096;

// How long a read may rely on the last look at the commit blocks when no
// change was made in this process since. Looking costs a read of the file;
// a lookup in memory costs a fraction of that, so lookups in a row look
// once per this interval instead of once each.
constexpr auto kCommitFreshFor = std::chrono::milliseconds(1);

// Counts the changes begun and ended by every open of this process, and the
// changes in progress, so that the other opens of this process look at once.
std::atomic<uint64_t> changeEpoch{1};
std::atomic<int> changesInProgress{0};

int MapFs(int e) { return e == kFsNoSpace ? kDiskFull : kIoError; }

// Indexes order entries by the first eight bytes of their normalized values
// taken as one big-endian number (the same order as comparing the bytes),
// kept in the index itself, and only then by the rest, if any. Every
// normalized value is followed by at least kNormSlack readable bytes, which
// the mask then ignores.
uint64_t Head(const uint8_t* p, uint64_t mask) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v & mask;
}

uint64_t HeadMask(size_t width) { return width >= 8 ? ~uint64_t{0} : ~uint64_t{0} << (8 * (8 - width)); }

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

// Takes the newer valid block of the two in bytes; false when neither is.
bool Table::AdoptCommits(const uint8_t* bytes, Commit* newest, int* slot) {
  auto a = DecodeCommit(meta_, bytes);
  auto b = DecodeCommit(meta_, bytes + meta_.commitBlockSize);
  if (!a && !b) return false;
  if (a && (!b || a->sequence >= b->sequence)) {
    *newest = *a;
    *slot = 0;
  } else {
    *newest = *b;
    *slot = 1;
  }
  commitBytes_.assign(bytes, bytes + 2ull * meta_.commitBlockSize);
  return true;
}

int Table::ReadCommits(Commit* newest, int* slot) {
  size_t size = 2ull * meta_.commitBlockSize;
  scratch_.resize(size);
  long long got = CurrentFileSystem()->Read(fd_, meta_.commitOffset, scratch_.data(), size);
  if (got != static_cast<long long>(size)) return kIoError;
  return AdoptCommits(scratch_.data(), newest, slot) ? kOk : kIoError;
}

bool Table::RecentlyChecked() const {
  return changesInProgress.load(std::memory_order_acquire) == 0 &&
         checkedEpoch_ == changeEpoch.load(std::memory_order_acquire) &&
         std::chrono::steady_clock::now() - checkedAt_ < kCommitFreshFor;
}

void Table::MarkChecked(uint64_t epoch) {
  checkedEpoch_ = epoch;
  checkedAt_ = std::chrono::steady_clock::now();
}

// Readers hold the change byte shared while they read the commit and the
// entries it covers, so they never see a change in progress (one whose
// commit might still be taken back). A change already holds it exclusive.
//
// A read looks at the commit blocks only when this process has a change in
// progress or began or ended one since its last look, or when that look is
// older than
// kCommitFreshFor: what it answers is then the file as committed at most
// that long ago, never a state that was not committed.
int Table::Refresh(bool needIndex) {
  if (changing_) return RefreshLocked(needIndex);
  uint64_t epoch = changeEpoch.load(std::memory_order_acquire);
  if (loaded_ || !needIndex) {
    if (commit_.sequence != 0 && RecentlyChecked()) return kOk;
    // When the current commit is still the one this open last took, nothing
    // changed and no lock is needed. Once the log is loaded, that commit was
    // taken under the lock, so it is never one taken back; before, only
    // Stat relies on it.
    Commit newest;
    int slot = 0;
    if (commit_.sequence != 0 && ReadCommits(&newest, &slot) == kOk && newest.sequence == commit_.sequence &&
        newest.logEnd == commit_.logEnd && newest.recordCount == commit_.recordCount) {
      commitSlot_ = slot;
      MarkChecked(epoch);
      return kOk;
    }
  }
  int st = LockChangeByte(LockKind::kShared);
  if (st != kOk) return st;
  st = RefreshLocked(needIndex);
  CurrentFileSystem()->Lock(fd_, kChangeLockByte, LockKind::kUnlock);
  if (st == kOk) MarkChecked(epoch);
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
    loadedEnd_ = commit_.logEnd;
  }
  loaded_ = true;
  // The commit's counts must agree with what the log holds; each key's
  // count of distinct values is checked once that key is indexed.
  bool counts = liveCount_ == commit_.recordCount;
  for (size_t k = 0; counts && k < keyIndex_.size(); ++k)
    counts = !keyIndex_[k].built || keyIndex_[k].distinct == commit_.distinct[k];
  if (!counts) {
    DropIndex();
    return kIoError;
  }
  return kOk;
}

// Verification reads records from the file itself, not from what was loaded.
int Table::ReadRecordFromDisk(uint64_t offset, uint32_t length, std::vector<uint8_t>* out) {
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
  if (changing_) {
    changesInProgress.fetch_add(1, std::memory_order_acq_rel);
    changeEpoch.fetch_add(1, std::memory_order_acq_rel);
  }
  return st;
}

void Table::Unlock() {
  changing_ = false;
  CurrentFileSystem()->Lock(fd_, kChangeLockByte, LockKind::kUnlock);
  changeEpoch.fetch_add(1, std::memory_order_acq_rel);
  changesInProgress.fetch_sub(1, std::memory_order_acq_rel);
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
  // The entry is now part of the loaded log.
  std::memcpy(log_.Grow(entry.size()), entry.data(), entry.size());
  return kOk;
}

// Takes the open byte and reads header and commit blocks in one read. The
// owner name is judged before a busy lock is reported.
//
// The commit is read without the change byte: waiting for it would double
// the cost of an Open, and what an Open takes from the commit is only what
// Stat reports (counts that may include a change whose commit is written and
// being synced). Reading records always takes the commit again under the
// change byte (see Refresh), so no Get sees a change that is not durable.
int Table::Open(const std::string& path, Access access, const std::string* owner,
                std::unique_ptr<Table>* out) {
  FileSystem* fs = CurrentFileSystem();
  bool writable = access != Access::kReadOnly;
  // Opened whatever it names; only when what is read makes no sense is it
  // asked whether it is a regular file at all (a system call saved an Open).
  int fd = fs->OpenAnyKind(path, writable ? OpenMode::kReadWrite : OpenMode::kRead);
  if (fd == kFsAccess && access == Access::kNormal) {
    // A file the user may only read still opens; changes answer 46.
    fd = fs->OpenAnyKind(path, OpenMode::kRead);
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
  uint64_t epoch = changeEpoch.load(std::memory_order_acquire);

  int lk = fs->Lock(fd, kOpenLockByte, access == Access::kExclusive ? LockKind::kExclusive : LockKind::kShared);
  int locked = lk == 0 ? kOk : lk == kFsBusy ? kLocked : kIoError;

  // A short read only costs the reads below for what it did not bring.
  uint8_t first[kFirstRead];
  const uint8_t* page = first;
  long long got = fs->ReadSome(fd, 0, first, sizeof first);
  if (got >= 0 && got < kHeaderFixedSize) got = fs->Read(fd, 0, first, sizeof first);
  // A directory, pipe or device is no file of this format, whatever it holds.
  auto failed = [&](int status) { return fs->IsRegularFile(fd) ? status : kBadFileName; };
  if (got < 0) return failed(kIoError);
  size_t pageSize = static_cast<size_t>(got);
  uint32_t headerLength = 0;
  int st = DecodeHeaderLength(page, pageSize, &headerLength);
  if (st != kOk) return failed(st);
  std::vector<uint8_t> header;
  if (headerLength > pageSize) {
    header.resize(headerLength);
    got = fs->Read(fd, 0, header.data(), header.size());
    if (got != static_cast<long long>(header.size())) return failed(kIoError);
    page = header.data();
    pageSize = header.size();
  }
  st = DecodeHeader(page, headerLength, &t->meta_);
  if (st != kOk) return failed(st);

  if (t->meta_.hasOwner) {
    if (owner == nullptr || owner->empty()) return kBadOwner;
    auto digest = OwnerDigest(t->meta_.salt, *owner);
    if (!ConstantTimeEqual(digest.data(), t->meta_.digest.data(), digest.size())) return kBadOwner;
  }
  if (locked != kOk) return locked;

  t->keyIndex_.resize(t->meta_.keys.size());
  t->commit_.logEnd = t->meta_.logStart;
  Commit newest;
  int slot = 0;
  uint64_t commitEnd = t->meta_.commitOffset + 2ull * t->meta_.commitBlockSize;
  if (commitEnd <= pageSize) {
    st = t->AdoptCommits(page + t->meta_.commitOffset, &newest, &slot) ? kOk : kIoError;
  } else {
    st = t->ReadCommits(&newest, &slot);
  }
  if (st != kOk) return st;
  t->commit_ = newest;
  t->commitSlot_ = slot;
  t->MarkChecked(epoch);
  *out = std::move(t);
  return kOk;
}

void Table::Forget() {
  if (changing_) Unlock();
  DropIndex();
}

Table::~Table() {
  if (fd_ >= 0) CurrentFileSystem()->Close(fd_);  // releases this open's locks
}

void Table::DropIndex() {
  for (KeyIndex& x : keyIndex_) x = KeyIndex();
  slots_.clear();
  log_.clear();
  loaded_ = false;
  liveCount_ = 0;
  curKey_ = -1;
  state_ = CursorState::kNone;
}

// Reads the log from `from` (where the loaded part ends) to `to` into memory
// and applies its entries, checking each one's structure and checksum.
int Table::LoadTail(uint64_t from, uint64_t to) {
  FileSystem* fs = CurrentFileSystem();
  if (from != meta_.logStart + log_.size() || to < from) return kIoError;
  long long size = fs->Size(fd_);
  if (size < 0 || static_cast<uint64_t>(size) < to) return kIoError;  // a commit past the file's end
  size_t n = static_cast<size_t>(to - from);
  uint8_t* into = nullptr;
  try {
    into = log_.Grow(n);
  } catch (const std::bad_alloc&) {
    return kIoError;  // a log this process cannot hold
  }
  long long got = fs->Read(fd_, from, into, n);
  if (got != static_cast<long long>(n)) return kIoError;
  // Count the inserts first, so that the slots are allocated once. The
  // entries are checked below; this only follows their lengths.
  size_t inserts = 0;
  for (uint64_t at = from; at < to && to - at >= 8;) {
    const uint8_t* e = into + (at - from);
    if (e[0] == kEntryInsert) ++inserts;
    at += kEntryOverhead + uint64_t{Le32(e + 4)};
  }
  try {
    slots_.reserve(slots_.size() + inserts);
  } catch (const std::bad_alloc&) {
    return kIoError;
  }
  uint64_t pos = from;
  while (pos < to) {
    if (to - pos < 8) return kIoError;
    const uint8_t* e = log_.data() + (pos - meta_.logStart);
    uint8_t type = e[0];
    uint32_t len = Le32(e + 4);
    if ((type != kEntryInsert && type != kEntryDelete) || e[1] || e[2] || e[3]) return kIoError;
    if (type == kEntryInsert && (len < meta_.recordLength || len > meta_.maxRecordLength)) return kIoError;
    if (type == kEntryDelete && len != 8) return kIoError;
    if (to - pos < kEntryOverhead + uint64_t{len}) return kIoError;
    if (Crc32c(e, 8 + len) != Le32(e + 8 + len)) return kIoError;
    int st = type == kEntryInsert ? ApplyInsert(pos, len, nullptr) : ApplyDelete(Le64(e + 8), pos);
    if (st != kOk) return st;
    pos += kEntryOverhead + len;
  }
  return kOk;
}

// Indexes key k over every live record: normalizes each value, sorts, and
// checks the key's uniqueness and its count of distinct values against the
// commit.
int Table::BuildKey(size_t k) {
  KeyIndex& x = keyIndex_[k];
  if (x.built) return kOk;
  size_t w = NormalizedWidth(meta_, k);
  x.width = w;
  std::vector<OrderedIndex::Entry> sorted;
  try {
    x.norm.resize(slots_.size() * w + kNormSlack);
    sorted.reserve(static_cast<size_t>(liveCount_));
  } catch (const std::bad_alloc&) {
    x = KeyIndex();
    return kIoError;
  }
  std::memset(x.norm.data() + slots_.size() * w, 0, kNormSlack);
  uint64_t mask = HeadMask(w);
  for (uint32_t s = 0; s < slots_.size(); ++s) {
    if (!slots_[s].live) continue;
    uint8_t* norm = x.norm.data() + size_t{s} * w;
    NormalizeRecordKey(meta_, k, RecordOf(s), norm);
    sorted.push_back(OrderedIndex::Entry{Head(norm, mask), s});
  }
  SortByKey(k, &sorted);
  uint32_t distinct = 0;
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i > 0 && sorted[i - 1].head == sorted[i].head &&
        std::memcmp(NormOf(k, sorted[i - 1].value), NormOf(k, sorted[i].value), w) == 0) {
      if (!meta_.keys[k].duplicates) {
        x = KeyIndex();
        return kIoError;  // the log broke a unique key
      }
      continue;
    }
    ++distinct;
  }
  if (distinct != commit_.distinct[k]) {
    x = KeyIndex();
    return kIoError;
  }
  x.order.Assign(sorted);
  x.distinct = distinct;
  x.built = true;
  return kOk;
}

// Brings the loaded log up to the newest commit and indexes key k, or every
// key: what a Get, or a change, needs first.
int Table::Load(size_t k) {
  int st = Refresh(true);
  return st == kOk ? BuildKey(k) : st;
}

int Table::LoadAll() {
  int st = Refresh(true);
  for (size_t k = 0; st == kOk && k < keyIndex_.size(); ++k) st = BuildKey(k);
  return st;
}

// Sorts index entries by key k's normalized values, equal values by slot
// number (which orders as offsets do). Most comparisons are of the heads in
// the array being sorted; the log is often in key order already, and then
// nothing is moved.
void Table::SortByKey(size_t k, std::vector<OrderedIndex::Entry>* entries) const {
  size_t w = keyIndex_[k].width;
  auto less = [&](const OrderedIndex::Entry& a, const OrderedIndex::Entry& b) {
    if (a.head != b.head) return a.head < b.head;
    if (w > 8) {
      int c = std::memcmp(NormOf(k, a.value) + 8, NormOf(k, b.value) + 8, w - 8);
      if (c != 0) return c < 0;
    }
    return a.value < b.value;
  };
  if (!std::is_sorted(entries->begin(), entries->end(), less)) std::sort(entries->begin(), entries->end(), less);
}

const uint8_t* Table::Normalize(size_t k, const uint8_t* keyValue) {
  scratch_.assign(keyIndex_[k].width + kNormSlack, 0);
  NormalizeKey(meta_, k, keyValue, scratch_.data());
  return scratch_.data();
}

OrderedIndex::Pos Table::Find(size_t k, const uint8_t* norm, uint64_t offset) const {
  size_t w = keyIndex_[k].width;
  uint64_t head = Head(norm, HeadMask(w));
  OrderedIndex::Pos p = keyIndex_[k].order.LowerBoundByHead(head, keyIndex_[k].lastChunk, [&](uint32_t s, uint64_t h) {
    if (h != head) return h < head ? -1 : 1;
    int c = w > 8 ? std::memcmp(NormOf(k, s) + 8, norm + 8, w - 8) : 0;
    if (c != 0) return c;
    return slots_[s].offset < offset ? -1 : slots_[s].offset > offset ? 1 : 0;
  });
  keyIndex_[k].lastChunk = p.chunk;
  return p;
}

bool Table::HasEqual(size_t k, const uint8_t* norm) const {
  const OrderedIndex& idx = keyIndex_[k].order;
  OrderedIndex::Pos p = Find(k, norm, 0);
  return !idx.IsEnd(p) && std::memcmp(NormOf(k, idx.At(p)), norm, keyIndex_[k].width) == 0;
}

bool Table::Alone(size_t k, OrderedIndex::Pos p) const {
  const OrderedIndex& idx = keyIndex_[k].order;
  size_t w = keyIndex_[k].width;
  const uint8_t* value = NormOf(k, idx.At(p));
  OrderedIndex::Pos n = idx.Next(p);
  if (!idx.IsEnd(n) && std::memcmp(NormOf(k, idx.At(n)), value, w) == 0) return false;
  if (idx.Prev(&p) && std::memcmp(NormOf(k, idx.At(p)), value, w) == 0) return false;
  return true;
}

// Adds the insert entry at offset (already in log_) as a new slot, and to
// every key built so far.
int Table::ApplyInsert(uint64_t offset, uint32_t length, uint32_t* slotOut) {
  uint32_t s = static_cast<uint32_t>(slots_.size());
  slots_.push_back(Slot{offset, length, 1});
  const uint8_t* record = RecordOf(s);
  for (size_t k = 0; k < keyIndex_.size(); ++k) {
    KeyIndex& x = keyIndex_[k];
    if (!x.built) continue;
    x.norm.resize(x.norm.size() + x.width);
    NormalizeRecordKey(meta_, k, record, x.norm.data() + size_t{s} * x.width);
    if (HasEqual(k, NormOf(k, s)) && !meta_.keys[k].duplicates) return kIoError;  // the log broke a unique key
  }
  for (size_t k = 0; k < keyIndex_.size(); ++k) {
    KeyIndex& x = keyIndex_[k];
    if (!x.built) continue;
    if (!HasEqual(k, NormOf(k, s))) ++x.distinct;
    x.order.InsertAt(Find(k, NormOf(k, s), offset), s, Head(NormOf(k, s), HeadMask(x.width)));
  }
  ++liveCount_;
  if (slotOut) *slotOut = s;
  return kOk;
}

void Table::RemoveSlot(uint32_t s) {
  for (size_t k = 0; k < keyIndex_.size(); ++k) {
    KeyIndex& x = keyIndex_[k];
    if (!x.built) continue;
    OrderedIndex::Pos p = Find(k, NormOf(k, s), slots_[s].offset);
    if (Alone(k, p)) --x.distinct;
    // A position on the record moves to just before its successor.
    if (curKey_ == static_cast<int>(k) && state_ == CursorState::kOn && curSlot_ == s) {
      state_ = CursorState::kBefore;
      beforeNorm_.assign(NormOf(k, s), NormOf(k, s) + x.width + kNormSlack);
      beforeOffset_ = slots_[s].offset;
    }
    x.order.EraseAt(p);
  }
  slots_[s].live = 0;
  --liveCount_;
}

// A delete entry names the offset of a live record's insert entry.
int Table::ApplyDelete(uint64_t target, uint64_t before) {
  if (target < meta_.logStart || target >= before) return kIoError;
  auto it = std::lower_bound(slots_.begin(), slots_.end(), target,
                             [](const Slot& a, uint64_t off) { return a.offset < off; });
  if (it == slots_.end() || it->offset != target || !it->live) return kIoError;  // not a live record
  RemoveSlot(static_cast<uint32_t>(it - slots_.begin()));
  return kOk;
}

void Table::Position(size_t k, OrderedIndex::Pos p, Found* out) {
  uint32_t s = keyIndex_[k].order.At(p);
  const uint8_t* record = RecordOf(s);
  out->record.assign(record, record + slots_[s].length);
  out->key.clear();
  const Key& key = meta_.keys[k];
  for (uint16_t i = 0; i < key.segmentCount; ++i) {
    const Segment& seg = meta_.segments[key.firstSegment + i];
    out->key.append(reinterpret_cast<const char*>(record) + seg.position - 1, seg.length);
  }
  curKey_ = static_cast<int>(k);
  state_ = CursorState::kOn;
  curSlot_ = s;
  curPos_ = p;
  curVersion_ = keyIndex_[k].order.version();
}

int Table::GetFirst(size_t k, Found* out) {
  int st = Load(k);
  if (st != kOk) return st;
  if (keyIndex_[k].order.empty()) return kEndOfFile;
  Position(k, keyIndex_[k].order.Begin(), out);
  return kOk;
}

int Table::GetEqual(size_t k, const uint8_t* keyValue, Found* out) {
  int st = Load(k);
  if (st != kOk) return st;
  const uint8_t* norm = Normalize(k, keyValue);
  OrderedIndex::Pos p = Find(k, norm, 0);
  const OrderedIndex& idx = keyIndex_[k].order;
  if (idx.IsEnd(p) || std::memcmp(NormOf(k, idx.At(p)), norm, keyIndex_[k].width) != 0) return kKeyNotFound;
  Position(k, p, out);
  return kOk;
}

int Table::GetGreaterOrEqual(size_t k, const uint8_t* keyValue, Found* out) {
  int st = Load(k);
  if (st != kOk) return st;
  OrderedIndex::Pos p = Find(k, Normalize(k, keyValue), 0);
  if (keyIndex_[k].order.IsEnd(p)) return kEndOfFile;
  Position(k, p, out);
  return kOk;
}

int Table::GetNext(size_t k, Found* out) {
  if (state_ == CursorState::kNone) return kNoPosition;
  if (curKey_ != static_cast<int>(k)) return kKeyNumberChanged;
  int st = Refresh(true);
  if (st != kOk) return st;
  if (state_ == CursorState::kNone) return kNoPosition;  // the index was rebuilt
  const OrderedIndex& idx = keyIndex_[k].order;
  OrderedIndex::Pos p;
  if (state_ == CursorState::kOn) {
    // Unchanged index: step from the remembered place; else find it again.
    p = idx.version() == curVersion_ ? curPos_ : Find(k, NormOf(k, curSlot_), slots_[curSlot_].offset);
    p = idx.Next(p);
  } else {
    // The deleted record is gone, so its place is its successor's.
    p = Find(k, beforeNorm_.data(), beforeOffset_);
  }
  if (idx.IsEnd(p)) return kEndOfFile;
  Position(k, p, out);
  return kOk;
}

int Table::Insert(const uint8_t* record, uint32_t length, int positionKey, std::string* keyOut) {
  if (!writable_) return kAccessDenied;
  if (length < meta_.recordLength || length > meta_.maxRecordLength) return kDataLength;
  int st = LockForChange();
  if (st != kOk) return st;
  st = LoadAll();
  Commit next = commit_;
  std::vector<uint8_t> norm;
  for (size_t k = 0; st == kOk && k < meta_.keys.size(); ++k) {
    norm.assign(keyIndex_[k].width + kNormSlack, 0);
    NormalizeRecordKey(meta_, k, record, norm.data());
    bool equal = HasEqual(k, norm.data());
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
    commit_ = next;
    loadedEnd_ = next.logEnd;
    if (ApplyInsert(offset, length, &slot) != kOk) {
      DropIndex();  // cannot happen after the checks above; reload on next use
      positionKey = -1;
    }
  }
  Unlock();
  if (st != kOk) return st;
  if (positionKey >= 0 && static_cast<size_t>(positionKey) < meta_.keys.size()) {
    size_t k = static_cast<size_t>(positionKey);
    curKey_ = positionKey;
    state_ = CursorState::kOn;
    curSlot_ = slot;
    curPos_ = Find(k, NormOf(k, slot), offset);
    curVersion_ = keyIndex_[k].order.version();
    if (keyOut) *keyOut = ExtractKey(meta_, k, RecordOf(slot));
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
  st = LoadAll();
  Commit next = commit_;
  // Values new to each key within this batch (normalized values order as
  // the keys do).
  for (size_t k = 0; st == kOk && k < meta_.keys.size(); ++k) {
    std::set<std::string> seen;
    std::string norm(keyIndex_[k].width + kNormSlack, '\0');
    for (size_t i = 0; i < records.size(); ++i) {
      NormalizeRecordKey(meta_, k, records[i].data(), reinterpret_cast<uint8_t*>(norm.data()));
      bool equal = HasEqual(k, reinterpret_cast<const uint8_t*>(norm.data())) || seen.count(norm) > 0;
      if (equal && !meta_.keys[k].duplicates) {
        if (failed) *failed = i;
        st = kDuplicateKey;
        break;
      }
      if (!equal) {
        ++next.distinct[k];
        seen.insert(norm);
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
    commit_ = next;
    loadedEnd_ = next.logEnd;
    for (size_t i = 0; i < records.size(); ++i) {
      if (ApplyInsert(offsets[i], static_cast<uint32_t>(records[i].size()), nullptr) != kOk) {
        DropIndex();  // cannot happen after the checks above; reload on next use
        break;
      }
    }
  }
  Unlock();
  return st;
}

int Table::Delete() {
  if (!writable_) return kAccessDenied;
  if (state_ != CursorState::kOn) return kNoPosition;
  int st = LockForChange();
  if (st != kOk) return st;
  st = LoadAll();
  // Another process may have deleted the record meanwhile.
  if (st == kOk && state_ != CursorState::kOn) st = kNoPosition;
  if (st == kOk) {
    uint32_t s = curSlot_;
    Commit next = commit_;
    for (size_t k = 0; k < meta_.keys.size(); ++k)
      if (Alone(k, Find(k, NormOf(k, s), slots_[s].offset))) --next.distinct[k];
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
  int st = meta_.keys.empty() ? Refresh(true) : Load(0);
  if (st != kOk) return st;
  records->clear();
  auto add = [&](uint32_t s) { records->emplace_back(RecordOf(s), RecordOf(s) + slots_[s].length); };
  if (meta_.keys.empty()) {
    for (uint32_t s = 0; s < slots_.size(); ++s)
      if (slots_[s].live) add(s);
    return kOk;
  }
  const OrderedIndex& idx = keyIndex_[0].order;
  for (OrderedIndex::Pos p = idx.Begin(); !idx.IsEnd(p); p = idx.Next(p)) add(idx.At(p));
  return kOk;
}

int Table::Verify(std::string* problem) {
  auto fail = [&](int st, const char* why) {
    if (problem) *problem = why;
    return st;
  };
  int st = LoadAll();
  if (st != kOk) return fail(st, "the log does not replay to the committed counts");
  long long size = CurrentFileSystem()->Size(fd_);
  if (size < 0 || static_cast<uint64_t>(size) < commit_.logEnd) return fail(kIoError, "file shorter than its log");
  std::vector<uint8_t> rec, norm;
  for (size_t k = 0; k < meta_.keys.size(); ++k) {
    const KeyIndex& x = keyIndex_[k];
    if (x.order.size() != liveCount_) return fail(kIoError, "a key does not index every record");
    norm.assign(x.width + kNormSlack, 0);
    bool first = true;
    uint32_t prev = 0;
    for (OrderedIndex::Pos p = x.order.Begin(); !x.order.IsEnd(p); p = x.order.Next(p)) {
      uint32_t s = x.order.At(p);
      if ((st = ReadRecordFromDisk(slots_[s].offset, slots_[s].length, &rec)) != kOk)
        return fail(st, "a record fails its checksum");
      NormalizeRecordKey(meta_, k, rec.data(), norm.data());
      if (std::memcmp(norm.data(), NormOf(k, s), x.width) != 0)
        return fail(kIoError, "a key value differs from its record");
      if (!first) {
        int c = std::memcmp(NormOf(k, prev), NormOf(k, s), x.width);
        if (c > 0 || (c == 0 && (!meta_.keys[k].duplicates || slots_[prev].offset >= slots_[s].offset)))
          return fail(kIoError, "a key is out of order or a unique key holds a value twice");
      }
      first = false;
      prev = s;
    }
  }
  if (meta_.keys.empty()) {
    for (uint32_t s = 0; s < slots_.size(); ++s)
      if (slots_[s].live && (st = ReadRecordFromDisk(slots_[s].offset, slots_[s].length, &rec)) != kOk)
        return fail(st, "a record fails its checksum");
  }
  return kOk;
}

}  // namespace engine
