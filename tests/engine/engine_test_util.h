// Helpers for the engine's tests: a file opened through the entry, and
// small builders for file definitions and records.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace enginetest {

using Bytes = std::vector<uint8_t>;

enum Op : uint32_t {
  kOpen = 0, kClose = 1, kInsert = 2, kDelete = 4, kGetEqual = 5, kGetNext = 6,
  kGetGe = 9, kGetFirst = 12, kStat = 15, kReset = 28,
};

inline engine::SegmentDef Seg(uint16_t position, uint16_t length, uint8_t type, uint16_t flags = 0,
                              uint8_t acs = 0) {
  engine::SegmentDef s;
  s.position = position;
  s.length = length;
  s.type = type;
  s.flags = flags;
  s.acs = acs;
  return s;
}

inline engine::KeyDef Key(uint8_t number, std::vector<engine::SegmentDef> segments) {
  engine::KeyDef k;
  k.number = number;
  k.segments = std::move(segments);
  return k;
}

// One open of a file through the entry, with its own position block.
struct Open {
  uint8_t pb[128] = {};
  int status = -1;

  Open() = default;
  Open(const std::string& path, const std::string& owner = "", int8_t mode = 0) {
    status = OpenFile(path, owner, mode);
  }
  int OpenFile(const std::string& path, const std::string& owner = "", int8_t mode = 0) {
    std::string name = path;
    std::vector<char> key(name.begin(), name.end());
    key.push_back(0);
    std::vector<char> data(owner.begin(), owner.end());
    data.push_back(0);
    uint32_t len = static_cast<uint32_t>(data.size());
    return engine::Entry(kOpen, pb, data.data(), &len, key.data(), 255, static_cast<uint8_t>(mode));
  }
  int Close() { return engine::Entry(kClose, pb, nullptr, nullptr, nullptr, 0, 0); }
  int Insert(const Bytes& record, int keyNumber = 0, Bytes* keyOut = nullptr) {
    Bytes data = record;
    uint32_t len = static_cast<uint32_t>(data.size());
    uint8_t key[255] = {};
    int st = engine::Entry(kInsert, pb, data.data(), &len, key, 255, static_cast<uint8_t>(keyNumber));
    if (keyOut) keyOut->assign(key, key + 255);
    return st;
  }
  int Delete() { return engine::Entry(kDelete, pb, nullptr, nullptr, nullptr, 0, 0); }
  // A Get into a buffer of bufferSize bytes; *record receives what the
  // length handed back says was written (or the buffer on 22).
  int Get(uint32_t op, int keyNumber, const Bytes& keyValue = {}, Bytes* record = nullptr,
          uint32_t bufferSize = 4096, Bytes* keyOut = nullptr) {
    Bytes data(bufferSize, 0xEE);
    uint32_t len = bufferSize;
    uint8_t key[255];
    std::memset(key, 0, sizeof key);
    if (!keyValue.empty()) std::memcpy(key, keyValue.data(), keyValue.size() < 255 ? keyValue.size() : 255);
    int st = engine::Entry(op, pb, data.data(), &len, key, 255, static_cast<uint8_t>(keyNumber));
    if (record) {
      if (st == 0) record->assign(data.begin(), data.begin() + len);
      else if (st == 22) *record = data;
      else record->clear();
    }
    if (keyOut) keyOut->assign(key, key + 255);
    return st;
  }
  int First(int k, Bytes* rec = nullptr) { return Get(kGetFirst, k, {}, rec); }
  int Next(int k, Bytes* rec = nullptr) { return Get(kGetNext, k, {}, rec); }
  int Equal(int k, const Bytes& key, Bytes* rec = nullptr) { return Get(kGetEqual, k, key, rec); }
  int Ge(int k, const Bytes& key, Bytes* rec = nullptr) { return Get(kGetGe, k, key, rec); }
  int Stat(Bytes* out, uint32_t size = 33236) {
    Bytes data(size, 0);
    uint32_t len = size;
    uint8_t key[255] = {};
    int st = engine::Entry(kStat, pb, data.data(), &len, key, 255, 0xFF);
    if (st == 0) data.resize(len);
    *out = data;
    return st;
  }
  // Every record in key k's order.
  std::vector<Bytes> Scan(int k) {
    std::vector<Bytes> out;
    Bytes rec;
    int st = First(k, &rec);
    while (st == 0) {
      out.push_back(rec);
      st = Next(k, &rec);
    }
    return out;
  }
};

inline Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline uint32_t U32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) | (uint32_t{b[at + 3]} << 24);
}

}  // namespace enginetest
