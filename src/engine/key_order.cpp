#include "engine/key_order.h"

namespace engine {
namespace {

// Little-endian integers of any width: the most significant byte decides
// first; for signed integers that byte compares as signed.
int CompareIntegers(const uint8_t* a, const uint8_t* b, size_t len, bool isSigned) {
  for (size_t i = len; i-- > 0;) {
    int x = a[i], y = b[i];
    if (isSigned && i == len - 1) {
      x = static_cast<int8_t>(a[i]);
      y = static_cast<int8_t>(b[i]);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

struct ByteMap {
  const uint8_t* table = nullptr;  // a collating sequence's 256 bytes
  bool fold = false;
  uint8_t operator()(uint8_t c) const {
    if (table) return table[c];
    if (fold && c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 'a' + 'A');
    return c;
  }
};

// Mapped byte strings; a proper prefix orders first.
int CompareStrings(const uint8_t* a, size_t la, const uint8_t* b, size_t lb, const ByteMap& map) {
  size_t n = la < lb ? la : lb;
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = map(a[i]), y = map(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return la == lb ? 0 : la < lb ? -1 : 1;
}

size_t ZLength(const uint8_t* p, size_t len) {
  size_t n = 0;
  while (n < len && p[n] != 0) ++n;
  return n;
}

int CompareSegment(const FileMeta& meta, const Segment& s, const uint8_t* a, const uint8_t* b) {
  ByteMap map;
  if ((s.flags & kFlagAcs) && s.acs < meta.acs.size()) map.table = meta.acs[s.acs].data() + 9;
  else map.fold = (s.flags & kFlagNoCase) != 0;
  size_t len = s.length;
  switch (s.type) {
    case kTypeInteger:
      return CompareIntegers(a, b, len, true);
    case kTypeUnsigned:
      return CompareIntegers(a, b, len, false);
    case kTypeLString: {
      // The first byte counts the bytes that follow, at most the room left.
      size_t la = a[0] < len - 1 ? a[0] : len - 1;
      size_t lb = b[0] < len - 1 ? b[0] : len - 1;
      return CompareStrings(a + 1, la, b + 1, lb, map);
    }
    case kTypeZString:
      return CompareStrings(a, ZLength(a, len), b, ZLength(b, len), map);
    default:
      return CompareStrings(a, len, b, len, map);
  }
}

// Segment widths in the normalized form: a zero-terminated string carries
// its length after its padded content, every other type keeps its width.
size_t NormalizedSegmentWidth(const Segment& s) {
  return s.type == kTypeZString ? size_t{s.length} + 1 : s.length;
}

// Integers become big-endian (signed ones with the sign bit flipped); string
// types become their mapped bytes padded with zeros, followed (for the two
// types of variable length) by the content's length, so that a proper prefix,
// which pads with zeros no mapped byte is below, orders first and differs
// from its extension even when that extension maps to zeros. A descending
// segment inverts its bytes. Every segment keeps a fixed width, so the
// concatenation orders segment by segment.
size_t NormalizeSegment(const FileMeta& meta, const Segment& s, const uint8_t* a, uint8_t* out) {
  ByteMap map;
  if ((s.flags & kFlagAcs) && s.acs < meta.acs.size()) map.table = meta.acs[s.acs].data() + 9;
  else map.fold = (s.flags & kFlagNoCase) != 0;
  size_t len = s.length;
  size_t width = NormalizedSegmentWidth(s);
  switch (s.type) {
    case kTypeInteger:
    case kTypeUnsigned:
      for (size_t i = 0; i < len; ++i) out[i] = a[len - 1 - i];
      if (s.type == kTypeInteger && len > 0) out[0] ^= 0x80;
      break;
    case kTypeLString: {
      size_t n = a[0] < len - 1 ? a[0] : len - 1;
      for (size_t i = 0; i < len - 1; ++i) out[i] = i < n ? map(a[1 + i]) : 0;
      out[len - 1] = static_cast<uint8_t>(n);
      break;
    }
    case kTypeZString: {
      size_t n = ZLength(a, len);
      for (size_t i = 0; i < len; ++i) out[i] = i < n ? map(a[i]) : 0;
      out[len] = static_cast<uint8_t>(n);
      break;
    }
    default:
      for (size_t i = 0; i < len; ++i) out[i] = map(a[i]);
      break;
  }
  if (s.flags & kFlagDescending)
    for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(~out[i]);
  return width;
}

}  // namespace

size_t NormalizedWidth(const FileMeta& meta, size_t k) {
  const Key& key = meta.keys[k];
  size_t width = 0;
  for (uint16_t i = 0; i < key.segmentCount; ++i)
    width += NormalizedSegmentWidth(meta.segments[key.firstSegment + i]);
  return width;
}

void NormalizeKey(const FileMeta& meta, size_t k, const uint8_t* keyValue, uint8_t* out) {
  const Key& key = meta.keys[k];
  for (uint16_t i = 0; i < key.segmentCount; ++i) {
    const Segment& s = meta.segments[key.firstSegment + i];
    out += NormalizeSegment(meta, s, keyValue + s.offsetInKey, out);
  }
}

void NormalizeRecordKey(const FileMeta& meta, size_t k, const uint8_t* record, uint8_t* out) {
  const Key& key = meta.keys[k];
  for (uint16_t i = 0; i < key.segmentCount; ++i) {
    const Segment& s = meta.segments[key.firstSegment + i];
    out += NormalizeSegment(meta, s, record + s.position - 1, out);
  }
}

std::string ExtractKey(const FileMeta& meta, size_t k, const uint8_t* record) {
  const Key& key = meta.keys[k];
  std::string value;
  value.reserve(key.length);
  for (uint16_t i = 0; i < key.segmentCount; ++i) {
    const Segment& s = meta.segments[key.firstSegment + i];
    value.append(reinterpret_cast<const char*>(record) + s.position - 1, s.length);
  }
  return value;
}

int CompareKeys(const FileMeta& meta, size_t k, const uint8_t* a, const uint8_t* b) {
  const Key& key = meta.keys[k];
  for (uint16_t i = 0; i < key.segmentCount; ++i) {
    const Segment& s = meta.segments[key.firstSegment + i];
    int c = CompareSegment(meta, s, a + s.offsetInKey, b + s.offsetInKey);
    if (c != 0) return (s.flags & kFlagDescending) ? -c : c;
  }
  return 0;
}

}  // namespace engine
