// The entry: decodes the record manager's argument list and runs one
// operation on the table a position block names.
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "engine/engine.h"
#include "engine/handles.h"
#include "engine/le.h"
#include "engine/path.h"
#include "engine/status.h"
#include "engine/table.h"

namespace engine {
namespace {

enum : uint32_t {
  kOpOpen = 0,
  kOpClose = 1,
  kOpInsert = 2,
  kOpDelete = 4,
  kOpGetEqual = 5,
  kOpGetNext = 6,
  kOpGetGreaterOrEqual = 9,
  kOpGetFirst = 12,
  kOpStat = 15,
  kOpReset = 28,
};

// The longest path or owner name read from a caller's buffer.
constexpr size_t kMaxNameBytes = 255;

int OpenOp(uint8_t* block, const uint8_t* data, const uint32_t* dataLength, const uint8_t* key,
           uint8_t keyLength, uint8_t keyNumber) {
  if (key == nullptr) return kBadFileName;
  // The path ends at a zero byte within the key buffer.
  size_t limit = keyLength ? keyLength : kMaxNameBytes;
  size_t n = 0;
  while (n < limit && key[n] != 0) ++n;
  if (n == limit && n > 0 && keyLength == 0) return kBadFileName;
  std::string path(reinterpret_cast<const char*>(key), n);
  int st = NormalizePath(&path);
  if (st != kOk) return st;

  Access access;
  switch (static_cast<int8_t>(keyNumber)) {
    case 0: case -1: case -3: access = Access::kNormal; break;
    case -2: access = Access::kReadOnly; break;
    case -4: access = Access::kExclusive; break;
    default: return kBadOpenMode;
  }

  // The owner name ends at a zero byte within dataLength bytes.
  std::string owner;
  bool presented = false;
  if (data != nullptr && dataLength != nullptr && *dataLength > 0) {
    size_t max = *dataLength < kMaxNameBytes + 1 ? *dataLength : kMaxNameBytes + 1;
    size_t len = 0;
    while (len < max && data[len] != 0) ++len;
    owner.assign(reinterpret_cast<const char*>(data), len);
    presented = len > 0;
  }

  std::unique_ptr<Table> table;
  st = Table::Open(path, access, presented ? &owner : nullptr, &table);
  if (st != kOk) return st;
  DetachTable(block);  // a block that held an open file lets go of it first
  AttachTable(std::move(table), block);
  return kOk;
}

// Hands a found record to the caller: the record within dataLength, its key
// value within the key's length, and its length.
int Deliver(const Found& f, uint8_t* data, uint32_t* dataLength, uint8_t* key) {
  uint32_t len = static_cast<uint32_t>(f.record.size());
  uint32_t room = *dataLength;
  uint32_t n = len < room ? len : room;
  if (n > 0) std::memcpy(data, f.record.data(), n);
  if (key != nullptr) std::memcpy(key, f.key.data(), f.key.size());
  if (len > room) return kDataLength;
  *dataLength = len;
  return kOk;
}

int GetOp(Table* t, uint32_t op, uint8_t* data, uint32_t* dataLength, uint8_t* key, uint8_t keyNumber) {
  size_t k = keyNumber;
  if (k >= t->meta().keys.size()) return kBadKeyNumber;
  if (data == nullptr || dataLength == nullptr) return kDataLength;
  if ((op == kOpGetEqual || op == kOpGetGreaterOrEqual) && key == nullptr) return kKeyBufferMissing;
  static Found f;  // its buffers are reused; the entry runs one call at a time
  int st;
  switch (op) {
    case kOpGetEqual: st = t->GetEqual(k, key, &f); break;
    case kOpGetGreaterOrEqual: st = t->GetGreaterOrEqual(k, key, &f); break;
    case kOpGetFirst: st = t->GetFirst(k, &f); break;
    default: st = t->GetNext(k, &f); break;
  }
  if (st != kOk) return st;
  return Deliver(f, data, dataLength, key);
}

int InsertOp(Table* t, const uint8_t* data, const uint32_t* dataLength, uint8_t* key, uint8_t keyNumber) {
  if (dataLength == nullptr || (data == nullptr && *dataLength > 0)) return kDataLength;
  int positionKey = -1;
  size_t keys = t->meta().keys.size();
  if (static_cast<int8_t>(keyNumber) != -1 && keys > 0) {
    if (keyNumber >= keys) return kBadKeyNumber;
    positionKey = keyNumber;
  }
  std::string keyValue;
  int st = t->Insert(data, *dataLength, positionKey, &keyValue);
  if (st == kOk && key != nullptr && positionKey >= 0) std::memcpy(key, keyValue.data(), keyValue.size());
  return st;
}

int StatOp(Table* t, uint8_t* data, uint32_t* dataLength) {
  if (data == nullptr || dataLength == nullptr) return kDataLength;
  int st = t->Refresh(false);
  if (st != kOk) return st;
  const FileMeta& m = t->meta();
  const Commit& c = t->commit();
  uint64_t total = 16 + 16 * m.segments.size() + uint64_t{kAcsBytes} * m.acs.size();
  if (*dataLength < total) return kDataLength;
  std::memset(data, 0, total);
  Put16(data, m.recordLength);
  Put16(data + 2, m.pageSize);
  data[4] = static_cast<uint8_t>(m.keys.size());
  data[5] = static_cast<uint8_t>(kFormatVersion);
  Put32(data + 6, c.recordCount > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(c.recordCount));
  Put16(data + 10, m.variable ? 0x0001 : 0);
  uint8_t* p = data + 16;
  for (const Segment& s : m.segments) {
    Put16(p, s.position);
    Put16(p + 2, s.length);
    Put16(p + 4, s.flags);
    Put32(p + 6, c.distinct[s.keyIndex]);
    p[10] = s.type;
    p[11] = s.nullValue;
    p[14] = s.keyNumber;
    p[15] = s.acs;
    p += 16;
  }
  for (const auto& a : m.acs) {
    std::memcpy(p, a.data(), kAcsBytes);
    p += kAcsBytes;
  }
  *dataLength = static_cast<uint32_t>(total);
  return kOk;
}

std::mutex& EntryMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

int Entry(uint32_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
          void* keyBuffer, uint8_t keyLength, uint8_t keyNumber) {
  std::lock_guard<std::mutex> guard(EntryMutex());
  auto* block = static_cast<uint8_t*>(positionBlock);
  auto* data = static_cast<uint8_t*>(dataBuffer);
  auto* key = static_cast<uint8_t*>(keyBuffer);
  switch (operation) {
    case kOpOpen:
      if (block == nullptr) return kNotOpen;
      try {
        return OpenOp(block, data, dataLength, key, keyLength, keyNumber);
      } catch (const std::bad_alloc&) {
        return kIoError;
      }
    case kOpReset:
      DetachAll();
      return kOk;
    case kOpClose:
      return DetachTable(block) ? kOk : kNotOpen;
    case kOpInsert: case kOpDelete: case kOpGetEqual: case kOpGetNext:
    case kOpGetGreaterOrEqual: case kOpGetFirst: case kOpStat:
      break;
    default:
      return kInvalidOperation;
  }
  Table* t = FindTable(block);
  if (t == nullptr) return kNotOpen;
  try {
    switch (operation) {
      case kOpInsert: return InsertOp(t, data, dataLength, key, keyNumber);
      case kOpDelete: return t->Delete();
      case kOpStat: return StatOp(t, data, dataLength);
      default: return GetOp(t, operation, data, dataLength, key, keyNumber);
    }
  } catch (const std::bad_alloc&) {
    // Out of memory part-way: what this open holds in memory may be half
    // updated, so it is dropped (and a change's lock released); the next
    // call loads the file again.
    t->Forget();
    return kIoError;
  }
}

}  // namespace engine
