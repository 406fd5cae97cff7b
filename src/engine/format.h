// The on-disk format: the header written once at creation, the two
// alternating commit blocks and the append-only log of changes. The layout
// is described byte by byte in docs/file-format.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace engine {

constexpr uint8_t kSignature[8] = {'S', 'C', 'R', 'U', 'T', 'K', 'F', 0x1A};
constexpr uint16_t kFormatVersion = 1;

// Limits, checked at creation and again when a header is read.
constexpr int kMaxKeys = 128;
constexpr int kMaxSegments = 512;
constexpr int kMaxAcs = 64;
constexpr int kMaxKeyLength = 255;
constexpr uint32_t kMaxRecordLength = 65535;
constexpr uint32_t kMaxOwnerLength = 255;
// Files stay well below the lock bytes at 2^62; live records are counted
// in 32 bits (Stat, slot numbers).
constexpr uint64_t kMaxFileSize = 1ull << 61;
constexpr uint64_t kMaxRecords = 0xFFFFFFFEull;

constexpr uint32_t kHeaderFixedSize = 96;
constexpr uint32_t kSegmentSpecSize = 16;
constexpr uint32_t kAcsBytes = 265;
constexpr uint32_t kAlign = 512;

// Segment and key flags the engine interprets.
constexpr uint16_t kFlagDuplicates = 0x0001;
constexpr uint16_t kFlagSegmented = 0x0010;
constexpr uint16_t kFlagAcs = 0x0020;
constexpr uint16_t kFlagDescending = 0x0040;
constexpr uint16_t kFlagNoCase = 0x0400;

// Extended types with an ordering of their own.
constexpr uint8_t kTypeString = 0;
constexpr uint8_t kTypeInteger = 1;
constexpr uint8_t kTypeLString = 10;
constexpr uint8_t kTypeZString = 11;
constexpr uint8_t kTypeUnsigned = 14;

struct Segment {
  uint16_t position = 1;  // 1-based within the record
  uint16_t length = 1;
  uint16_t flags = 0;
  uint8_t type = 0;
  uint8_t nullValue = 0;
  uint8_t acs = 0;
  uint8_t keyIndex = 0;    // ordinal of the key this segment belongs to
  uint8_t keyNumber = 0;   // the number reported by Stat
  uint16_t offsetInKey = 0;  // where the segment's bytes start in a key value
};

struct Key {
  uint8_t number = 0;
  uint16_t firstSegment = 0;
  uint16_t segmentCount = 0;
  uint16_t length = 0;  // bytes of a key value: the sum of its segment lengths
  bool duplicates = false;
};

struct FileMeta {
  uint16_t recordLength = 0;      // fixed part, the minimum record length
  uint16_t maxRecordLength = 0;   // equal to recordLength for fixed-length files
  uint16_t pageSize = 0;
  bool variable = false;
  bool hasOwner = false;
  std::array<uint8_t, 16> salt{};
  std::array<uint8_t, 32> digest{};
  std::vector<Key> keys;
  std::vector<Segment> segments;
  std::vector<std::array<uint8_t, 265>> acs;
  // Derived placement of the blocks that follow the header.
  uint32_t headerLength = 0;
  uint64_t commitOffset = 0;      // commit block A; B follows it
  uint32_t commitBlockSize = 0;
  uint64_t logStart = 0;
};

// Fills keys' segment ranges and lengths, offsets in keys, and placement.
// Returns an empty string when meta is within the limits, else why not.
const char* FinishMeta(FileMeta* meta);

std::vector<uint8_t> EncodeHeader(const FileMeta& meta);

// Decodes the fixed part of a header: kOk with the header's total length,
// 30 for a foreign signature or an unknown version, 2 for damage.
int DecodeHeaderLength(const uint8_t* bytes, size_t size, uint32_t* headerLength);
// Decodes a whole header (headerLength bytes), checking its checksum and
// every field against the limits. 0, 30 or 2.
int DecodeHeader(const uint8_t* bytes, size_t size, FileMeta* meta);

struct Commit {
  uint64_t sequence = 0;
  uint64_t logEnd = 0;
  uint64_t recordCount = 0;
  std::vector<uint32_t> distinct;  // per key
};

std::vector<uint8_t> EncodeCommit(const FileMeta& meta, const Commit& commit);
// Empty when the block is torn, blank or inconsistent with meta.
std::optional<Commit> DecodeCommit(const FileMeta& meta, const uint8_t* bytes);

// Log entries: type (1), 3 zero bytes, payload length (4), payload, CRC-32C
// of everything before it (4).
constexpr uint8_t kEntryInsert = 1;
constexpr uint8_t kEntryDelete = 2;
constexpr uint32_t kEntryOverhead = 12;

std::vector<uint8_t> EncodeInsert(const uint8_t* record, uint32_t length);
std::vector<uint8_t> EncodeDelete(uint64_t insertOffset);

}  // namespace engine
