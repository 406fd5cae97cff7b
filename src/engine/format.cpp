#include "engine/format.h"

#include <cstring>

#include "engine/checksum.h"
#include "engine/le.h"
#include "engine/status.h"

namespace engine {
namespace {

uint64_t AlignUp(uint64_t v) { return (v + kAlign - 1) / kAlign * kAlign; }

constexpr uint32_t kCommitMagic = 0x544D4F43;  // "COMT"
constexpr uint16_t kFileFlagVariable = 0x0001;
constexpr uint16_t kFileFlagOwner = 0x0002;

}  // namespace

const char* FinishMeta(FileMeta* m) {
  if (m->keys.size() > static_cast<size_t>(kMaxKeys)) return "too many keys";
  if (m->segments.size() > static_cast<size_t>(kMaxSegments)) return "too many segments";
  if (m->acs.size() > static_cast<size_t>(kMaxAcs)) return "too many collating sequences";
  if (m->recordLength > m->maxRecordLength) return "maximum record length below the fixed length";
  if (!m->variable && m->recordLength != m->maxRecordLength) return "fixed-length file with a maximum";
  if (m->maxRecordLength == 0) return "record length 0";
  size_t seg = 0;
  for (size_t k = 0; k < m->keys.size(); ++k) {
    Key& key = m->keys[k];
    if (key.segmentCount == 0) return "key without segments";
    key.firstSegment = static_cast<uint16_t>(seg);
    if (seg + key.segmentCount > m->segments.size()) return "segment count mismatch";
    uint32_t len = 0;
    for (uint16_t i = 0; i < key.segmentCount; ++i, ++seg) {
      Segment& s = m->segments[seg];
      if (s.length == 0) return "segment of length 0";
      if (s.position == 0 || uint32_t{s.position} + s.length - 1 > m->recordLength)
        return "segment outside the fixed part of the record";
      if ((s.flags & kFlagAcs) && s.acs >= m->acs.size()) return "segment names a missing collating sequence";
      s.keyIndex = static_cast<uint8_t>(k);
      s.keyNumber = key.number;
      s.offsetInKey = static_cast<uint16_t>(len);
      // A key's segments are chained by 0x0010 on all but its last.
      if (i + 1 < key.segmentCount) s.flags |= kFlagSegmented;
      else s.flags &= static_cast<uint16_t>(~kFlagSegmented);
      len += s.length;
    }
    if (len > static_cast<uint32_t>(kMaxKeyLength)) return "key longer than 255 bytes";
    key.length = static_cast<uint16_t>(len);
    key.duplicates = (m->segments[key.firstSegment].flags & kFlagDuplicates) != 0;
  }
  if (seg != m->segments.size()) return "segment count mismatch";
  m->headerLength = static_cast<uint32_t>(kHeaderFixedSize + kSegmentSpecSize * m->segments.size() +
                                          kAcsBytes * m->acs.size() + 4);
  m->commitOffset = AlignUp(m->headerLength);
  m->commitBlockSize = static_cast<uint32_t>(AlignUp(32 + 4 * m->keys.size() + 4));
  m->logStart = m->commitOffset + 2ull * m->commitBlockSize;
  return "";
}

std::vector<uint8_t> EncodeHeader(const FileMeta& m) {
  std::vector<uint8_t> h(m.headerLength, 0);
  std::memcpy(h.data(), kSignature, 8);
  Put16(&h[8], kFormatVersion);
  Put16(&h[10], 0);
  Put32(&h[12], m.headerLength);
  Put16(&h[16], m.recordLength);
  Put16(&h[18], m.maxRecordLength);
  Put16(&h[20], m.pageSize);
  Put16(&h[22], static_cast<uint16_t>((m.variable ? kFileFlagVariable : 0) | (m.hasOwner ? kFileFlagOwner : 0)));
  Put16(&h[24], static_cast<uint16_t>(m.keys.size()));
  Put16(&h[26], static_cast<uint16_t>(m.segments.size()));
  Put16(&h[28], static_cast<uint16_t>(m.acs.size()));
  Put16(&h[30], 0);
  std::memcpy(&h[32], m.salt.data(), 16);
  std::memcpy(&h[48], m.digest.data(), 32);
  // 80..95 reserved, zero.
  size_t p = kHeaderFixedSize;
  for (const Segment& s : m.segments) {
    Put16(&h[p], s.position);
    Put16(&h[p + 2], s.length);
    Put16(&h[p + 4], s.flags);
    h[p + 6] = s.type;
    h[p + 7] = s.nullValue;
    h[p + 8] = s.acs;
    h[p + 9] = s.keyIndex;
    h[p + 10] = s.keyNumber;
    p += kSegmentSpecSize;
  }
  for (const auto& a : m.acs) {
    std::memcpy(&h[p], a.data(), kAcsBytes);
    p += kAcsBytes;
  }
  Put32(&h[p], Crc32c(h.data(), p));
  return h;
}

int DecodeHeaderLength(const uint8_t* b, size_t size, uint32_t* headerLength) {
  if (size < 16 || std::memcmp(b, kSignature, 8) != 0) return kNotThisFormat;
  if (Le16(b + 8) != kFormatVersion) return kNotThisFormat;
  uint32_t len = Le32(b + 12);
  uint64_t most = kHeaderFixedSize + uint64_t{kSegmentSpecSize} * kMaxSegments + uint64_t{kAcsBytes} * kMaxAcs + 4;
  if (len < kHeaderFixedSize + 4 || len > most) return kIoError;
  *headerLength = len;
  return kOk;
}

int DecodeHeader(const uint8_t* b, size_t size, FileMeta* out) {
  uint32_t len = 0;
  int st = DecodeHeaderLength(b, size, &len);
  if (st != kOk) return st;
  if (size < len) return kIoError;
  if (Crc32c(b, len - 4) != Le32(b + len - 4)) return kIoError;
  FileMeta m;
  m.recordLength = Le16(b + 16);
  m.maxRecordLength = Le16(b + 18);
  m.pageSize = Le16(b + 20);
  uint16_t flags = Le16(b + 22);
  m.variable = flags & kFileFlagVariable;
  m.hasOwner = flags & kFileFlagOwner;
  uint32_t keys = Le16(b + 24), segs = Le16(b + 26), acs = Le16(b + 28);
  if (keys > static_cast<uint32_t>(kMaxKeys) || segs > static_cast<uint32_t>(kMaxSegments) ||
      acs > static_cast<uint32_t>(kMaxAcs))
    return kIoError;
  if (len != kHeaderFixedSize + kSegmentSpecSize * segs + kAcsBytes * acs + 4) return kIoError;
  std::memcpy(m.salt.data(), b + 32, 16);
  std::memcpy(m.digest.data(), b + 48, 32);
  size_t p = kHeaderFixedSize;
  m.segments.resize(segs);
  m.keys.resize(keys);
  for (uint32_t i = 0; i < segs; ++i, p += kSegmentSpecSize) {
    Segment& s = m.segments[i];
    s.position = Le16(b + p);
    s.length = Le16(b + p + 2);
    s.flags = Le16(b + p + 4);
    s.type = b[p + 6];
    s.nullValue = b[p + 7];
    s.acs = b[p + 8];
    s.keyIndex = b[p + 9];
    s.keyNumber = b[p + 10];
    // Segments are stored key by key; each names its key's ordinal.
    if (s.keyIndex >= keys || (i > 0 && s.keyIndex < m.segments[i - 1].keyIndex) ||
        (i > 0 && s.keyIndex > m.segments[i - 1].keyIndex + 1) || (i == 0 && s.keyIndex != 0))
      return kIoError;
    m.keys[s.keyIndex].segmentCount++;
    m.keys[s.keyIndex].number = s.keyNumber;
  }
  if (keys > 0 && (segs == 0 || m.segments.back().keyIndex != keys - 1)) return kIoError;
  m.acs.resize(acs);
  for (uint32_t i = 0; i < acs; ++i, p += kAcsBytes) std::memcpy(m.acs[i].data(), b + p, kAcsBytes);
  // Re-derive everything and check the limits as creation did.
  std::vector<uint16_t> stored;
  for (const Segment& s : m.segments) stored.push_back(s.flags);
  if (*FinishMeta(&m) != '\0') return kIoError;
  for (size_t i = 0; i < m.segments.size(); ++i)
    if (m.segments[i].flags != stored[i]) return kIoError;
  if (m.headerLength != len) return kIoError;
  *out = std::move(m);
  return kOk;
}

std::vector<uint8_t> EncodeCommit(const FileMeta& m, const Commit& c) {
  std::vector<uint8_t> b(m.commitBlockSize, 0);
  Put32(&b[0], kCommitMagic);
  Put32(&b[4], 0);
  Put64(&b[8], c.sequence);
  Put64(&b[16], c.logEnd);
  Put64(&b[24], c.recordCount);
  size_t p = 32;
  for (size_t k = 0; k < m.keys.size(); ++k, p += 4) Put32(&b[p], c.distinct[k]);
  Put32(&b[p], Crc32c(b.data(), p));
  return b;
}

std::optional<Commit> DecodeCommit(const FileMeta& m, const uint8_t* b) {
  size_t p = 32 + 4 * m.keys.size();
  if (Le32(b) != kCommitMagic || Le32(b + 4) != 0) return std::nullopt;
  if (Crc32c(b, p) != Le32(b + p)) return std::nullopt;
  Commit c;
  c.sequence = Le64(b + 8);
  c.logEnd = Le64(b + 16);
  c.recordCount = Le64(b + 24);
  if (c.logEnd < m.logStart || c.logEnd > kMaxFileSize || c.recordCount > kMaxRecords) return std::nullopt;
  c.distinct.resize(m.keys.size());
  for (size_t k = 0; k < m.keys.size(); ++k) {
    c.distinct[k] = Le32(b + 32 + 4 * k);
    if (c.distinct[k] > c.recordCount) return std::nullopt;
  }
  return c;
}

static std::vector<uint8_t> Entry(uint8_t type, const uint8_t* payload, uint32_t length) {
  std::vector<uint8_t> e(kEntryOverhead + length, 0);
  e[0] = type;
  Put32(&e[4], length);
  if (length) std::memcpy(&e[8], payload, length);
  Put32(&e[8 + length], Crc32c(e.data(), 8 + length));
  return e;
}

std::vector<uint8_t> EncodeInsert(const uint8_t* record, uint32_t length) {
  return Entry(kEntryInsert, record, length);
}

std::vector<uint8_t> EncodeDelete(uint64_t insertOffset) {
  uint8_t p[8];
  Put64(p, insertOffset);
  return Entry(kEntryDelete, p, 8);
}

}  // namespace engine
