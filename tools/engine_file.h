// One file opened through the engine's entry, and its Stat result decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hex.h"

namespace scrutordb {

// Operation codes of the entry.
enum Operation : uint32_t {
  kOpOpen = 0, kOpClose = 1, kOpInsert = 2, kOpGetEqual = 5, kOpStat = 15
};

constexpr int kStatusDuplicate = 5;
constexpr int kStatusOwner = 51;

// Closes the file when it goes out of scope.
class EngineFile {
 public:
  EngineFile() = default;
  ~EngineFile() { Close(); }
  EngineFile(const EngineFile&) = delete;
  EngineFile& operator=(const EngineFile&) = delete;

  // Opens in the normal mode; an empty owner sends an empty name.
  int Open(const std::string& path, const std::string& owner);
  int Close();
  // Inserts one record; the key buffer receives key 0's value, unused here.
  int Insert(const Bytes& record);
  // Get Equal on key `keyNumber` with the given key value.
  int GetEqual(uint8_t keyNumber, Bytes keyValue);
  // The whole Stat result.
  int Stat(Bytes* result);

 private:
  uint8_t position_[128] = {};
  bool open_ = false;
};

struct StatSegment {
  uint16_t position = 0, length = 0, flags = 0;
  uint32_t distinct = 0;
  uint8_t type = 0, nullValue = 0, keyNumber = 0, acs = 0;
};

struct StatInfo {
  uint16_t recordLength = 0, pageSize = 0, fileFlags = 0;
  uint8_t keyCount = 0, version = 0;
  uint32_t recordCount = 0;
  std::vector<StatSegment> segments;  // keys in order, each key's segments in order
  std::vector<Bytes> acs;             // 265 bytes each
};

// Decodes a Stat result; false (with *error) when it is cut short.
bool DecodeStat(const Bytes& stat, StatInfo* info, std::string* error);

// The value of a key of `record`: its segments' byte ranges, concatenated.
Bytes KeyValue(const std::vector<StatSegment>& keySegments, const Bytes& record);

}  // namespace scrutordb
