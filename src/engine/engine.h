// The embedded record manager: a keyed-file engine reached through one entry
// with the record manager's argument list, plus a creation API for tools and
// tests. It knows nothing of dictionaries or of the checker.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The entry. Result: the status (0 success). Operations and statuses are
// documented in docs/engine.md. The key number byte is read as a signed char
// where it carries an open mode.
int Entry(uint32_t operation, void* positionBlock, void* dataBuffer,
          uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
          uint8_t keyNumber);

constexpr int kAcsSize = 265;  // 0xAC, 8-byte name, 256-byte table

struct SegmentDef {
  uint16_t position = 1;  // 1-based
  uint16_t length = 1;
  uint16_t flags = 0;     // stored as given (0x0010 included)
  uint8_t type = 0;       // extended type
  uint8_t nullValue = 0;
  uint8_t acs = 0;        // which of the file's collating sequences
};

struct KeyDef {
  uint8_t number = 0;  // stored in each of the key's specifications
  std::vector<SegmentDef> segments;
};

struct FileDef {
  uint16_t recordLength = 0;       // fixed part; the minimum record length
  bool variable = false;           // variable-length records
  uint16_t maxRecordLength = 0;    // with variable: the maximum (0: the engine's limit)
  uint16_t pageSize = 4096;        // reported by Stat
  std::vector<KeyDef> keys;
  std::vector<std::array<uint8_t, kAcsSize>> acs;
  std::optional<std::string> owner;  // owner name; stored as a salted digest
};

// Creates a new, empty file. Fails (non-zero status, nothing left behind)
// when the path exists or the definition is outside the engine's limits;
// *error, when given, then says why.
int CreateFile(const std::string& path, const FileDef& def, std::string* error = nullptr);

// Inserts records into an existing file as one change, much faster than
// one Insert each: either all are stored, durably, or none is. Returns a
// status (5 when a unique key would hold a value twice, 22 for a record
// length outside the file's limits); *failed then names the record.
int InsertRecords(const std::string& path, const std::string& owner,
                  const std::vector<std::vector<uint8_t>>& records, size_t* failed = nullptr);

// Reads every record of a file: in key-0 order, or in insertion order when
// the file has no keys. Returns a status.
int ReadAllRecords(const std::string& path, const std::string& owner,
                   std::vector<std::vector<uint8_t>>* records);

// Checks a file's whole structure (checksums, key order, counts). Returns 0
// when sound, else a status; *problem, when given, says what is wrong.
int VerifyFile(const std::string& path, const std::string& owner, std::string* problem = nullptr);

}  // namespace engine
