// gen: plans every table from a per-table random stream (so the same seed
// gives the same database), then writes one engine file per table and the
// four dictionaries, each with one open and one batch of inserts.
#include "gen.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "commands.h"
#include "dictionary_files.h"
#include "engine/engine.h"
#include "engine/fs.h"
#include "hex.h"

namespace fs = std::filesystem;

namespace scrutordb {

namespace {

constexpr int kMaxColumnId = 65535;
constexpr int kSystemTables = 3;  // X$File, X$Field, X$Index, ids 1 to 3
constexpr int kMaxTables = 65535 - kSystemTables;
constexpr int kMaxKeyLength = 255;
constexpr uint32_t kBatch = 20000;  // records per insert batch

// Key flags and their INDEX.DDF counterparts.
constexpr uint16_t kDup = 0x0001, kMod = 0x0002, kNull = 0x0008, kSeg = 0x0010,
                   kKeyAcs = 0x0020, kDesc = 0x0040, kExt = 0x0100, kKeyNoCase = 0x0400;
constexpr uint16_t kIndexAcs = 0x0004, kIndexNoCase = 0x0020;

// splitmix64: small, fast, and the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }

 private:
  uint64_t state_;
};

// Ways a key's definitions drift apart; each yields a different report.
enum Drift {
  kFlagBit,      // an INDEX.DDF row with one flag bit flipped
  kKeyType,      // the key's extended type differs from the column's (/C)
  kMissingRow,   // a segment without its INDEX.DDF row
  kWrongRow,     // an INDEX.DDF row that names another column
  kNoColumn,     // a segment that starts inside a column
  kLongColumn,   // a segment shorter than its column
  kMissingAcs,   // an ACS key without its ATTRIB.DDF record (/A /F inserts it)
  kExtraAcs,     // an ATTRIB.DDF record for a key without ACS (/A /F deletes it)
  kInvalidAcs,   // an ATTRIB.DDF record on a column that cannot carry one
  kDriftKinds,
  kNoDrift = -1
};
const char* const kDriftNames[kDriftKinds] = {
    "flag", "type", "missing_row", "wrong_row", "no_column",
    "long_column", "missing_acs", "extra_acs", "invalid_acs"};

enum class SegKind { kInt, kUnsigned, kDate, kString, kZString, kSplit };

bool IsText(SegKind k) {
  return k == SegKind::kString || k == SegKind::kZString || k == SegKind::kSplit;
}

struct Column {
  uint8_t type = 0;
  uint8_t dec = 0;
  uint16_t offset = 0;
  uint16_t size = 0;
  uint16_t flags = 0;      // FIELD.DDF flags: 0x0001 case-insensitive
  bool acsInvolved = false;  // has, or should have, an ATTRIB.DDF record
  bool uniqueSource = false;  // first column of a unique key: values from the record number
  uint16_t id = 0;
};

struct Segment {
  SegKind kind = SegKind::kInt;
  int column = 0;       // first column
  int columnCount = 1;  // 2 for a segment split over two columns
  uint16_t flags = 0;   // without 0x0010, which the engine sets
  uint8_t type = 0;     // extended type
  uint16_t position = 0, length = 0;  // as stored in the data file
};

struct NamedIndex {
  int column;  // lies at this column's offset
  uint16_t id = 0;
};

struct Key {
  std::vector<Segment> segs;
  int drift = kNoDrift;
  int driftSeg = 0;        // the segment (or, for row drifts, the row) it touches
  uint16_t driftBit = 0;   // kFlagBit
};

struct Table {
  uint16_t id = 0;
  int number = 0;
  std::vector<Column> cols;
  std::vector<Key> keys;
  std::vector<NamedIndex> named;
  uint16_t recordLength = 0;
  bool hasAcs = false;
};

const char* const kTableWords[] = {"Customer", "Vendor",  "Item",    "Order",   "Invoice",
                                   "Payment",  "Stock",   "Ledger",  "Account", "Employee",
                                   "Project",  "Shipment", "Contract", "Asset", "Budget"};
std::string TableName(const Table& t) {
  return kTableWords[static_cast<size_t>(t.number) % std::size(kTableWords)] + std::to_string(t.number);
}
// The data file's path; FILE.DDF holds it with a backslash, as written on
// the platform the dictionaries come from.
std::string DataPath(const Table& t, char separator) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "DATA%cT%05d.DAT", separator, t.number);
  return buf;
}

// Column names that fit their type, numbered to stay unique in the table.
const char* const kTextWords[] = {"Code", "Name", "Descr", "City", "Ref", "Note", "Region", "Phone"};
const char* const kNumberWords[] = {"Amount", "Qty", "Price", "Rate", "Level", "Count", "Seq"};
const char* const kDateWords[] = {"Date", "Due", "Since", "Until"};
std::string ColumnName(int c, uint8_t type) {
  if (c == 0) return "Id";
  const size_t i = static_cast<size_t>(c);
  switch (type) {
    case 0: case 10: case 11: return kTextWords[i % std::size(kTextWords)] + std::to_string(c);
    case 3: case 4: return kDateWords[i % std::size(kDateWords)] + std::to_string(c);
    case 7: return "Flag" + std::to_string(c);
    default: return kNumberWords[i % std::size(kNumberWords)] + std::to_string(c);
  }
}

// A column for one key segment kind. Unique keys need a first column wide
// enough to hold a distinct value per record.
Column KeyColumn(Rng& rng, SegKind kind, bool wide) {
  Column c;
  switch (kind) {
    case SegKind::kInt:
      c.type = 1;
      c.size = wide ? (rng.Chance(0.8) ? 4 : 8) : static_cast<uint16_t>(2 << rng.Below(3));
      break;
    case SegKind::kUnsigned:
      c.type = 14;
      c.size = wide ? 4 : static_cast<uint16_t>(rng.Chance(0.5) ? 2 : 4);
      break;
    case SegKind::kDate:
      c.type = 3;
      c.size = 4;
      break;
    case SegKind::kString:
      c.type = 0;
      c.size = static_cast<uint16_t>(rng.Between(wide ? 8 : 4, 24));
      break;
    case SegKind::kZString:
      c.type = 11;
      c.size = static_cast<uint16_t>(rng.Between(wide ? 9 : 6, 24));
      break;
    case SegKind::kSplit:
      c.type = 0;
      c.size = static_cast<uint16_t>(rng.Between(wide ? 8 : 4, 16));
      break;
  }
  return c;
}

// A column outside every key: the mix of types a business table holds.
Column OtherColumn(Rng& rng) {
  Column c;
  switch (rng.Below(11)) {
    case 0: case 1: case 2: c.type = 0; c.size = static_cast<uint16_t>(rng.Between(2, 40)); break;
    case 3: c.type = 1; c.size = rng.Chance(0.5) ? 2 : 4; break;
    case 4: c.type = 2; c.size = rng.Chance(0.5) ? 4 : 8; break;
    case 5: c.type = 3; c.size = 4; break;
    case 6: c.type = 4; c.size = 4; break;
    case 7: c.type = 5; c.size = 8; c.dec = 2; break;
    case 8: c.type = 7; c.size = 1; break;
    case 9: c.type = 10; c.size = static_cast<uint16_t>(rng.Between(10, 30)); break;
    default: c.type = 14; c.size = static_cast<uint16_t>(1 << rng.Below(3)); break;
  }
  return c;
}

SegKind PickKind(Rng& rng) {
  int r = rng.Below(100);
  if (r < 40) return SegKind::kString;
  if (r < 55) return SegKind::kSplit;
  if (r < 70) return SegKind::kInt;
  if (r < 82) return SegKind::kUnsigned;
  if (r < 92) return SegKind::kDate;
  return SegKind::kZString;
}

bool Applicable(int drift, const Table& t, const Key& key) {
  bool text = false, other = false;
  for (const Segment& s : key.segs) (IsText(s.kind) ? text : other) = true;
  bool single = false;
  for (const Segment& s : key.segs) single = single || s.columnCount == 1;
  switch (drift) {
    case kWrongRow: return t.cols.size() > 1;
    // On a split segment these would also shift the numbers of later rows.
    case kNoColumn: case kLongColumn: return single;
    case kMissingAcs: case kExtraAcs: return text;
    case kInvalidAcs: return other;
    default: return true;
  }
}

// Index of a segment of the key matching pred, chosen at random.
template <typename Pred>
int PickSegment(Rng& rng, const Key& key, Pred pred) {
  std::vector<int> fit;
  for (size_t i = 0; i < key.segs.size(); i++)
    if (pred(key.segs[i])) fit.push_back(static_cast<int>(i));
  return fit[static_cast<size_t>(rng.Below(static_cast<int>(fit.size())))];
}

int RowCount(const Key& key) {
  int n = 0;
  for (const Segment& s : key.segs) n += s.columnCount;
  return n;
}

class Planner {
 public:
  explicit Planner(const GenOptions& o) : o_(o) {}

  Table Plan(int number) {
    Table t;
    t.number = number;
    t.id = static_cast<uint16_t>(kSystemTables + number);
    Rng rng(o_.seed * 0xD1342543DE82EF95ull + static_cast<uint64_t>(number));

    // Column 0 is the record's id, the only segment of key 0.
    Column idCol = KeyColumn(rng, SegKind::kInt, true);
    idCol.size = 4;
    idCol.uniqueSource = true;
    t.cols.push_back(idCol);
    Key key0;
    key0.segs.push_back(Segment{SegKind::kInt, 0, 1, kExt, 1, 0, 0});
    t.keys.push_back(key0);

    for (int k = 1; k < o_.keys; k++) {
      Key key;
      bool dup = rng.Chance(0.7);
      bool mod = rng.Chance(0.8);
      // Leave one column for every later key.
      int budget = o_.columns - static_cast<int>(t.cols.size()) - (o_.keys - 1 - k);
      int want = 1 + rng.Below(o_.segments);
      int keyLength = 0;
      for (int s = 0; s < want && budget > 0; s++) {
        SegKind kind = PickKind(rng);
        if (kind == SegKind::kSplit && budget < 2) kind = SegKind::kString;
        bool first = s == 0;
        Column a = KeyColumn(rng, kind, first && !dup);
        Column b = kind == SegKind::kSplit ? KeyColumn(rng, kind, false) : Column{};
        int length = a.size + b.size;
        if (keyLength + length > kMaxKeyLength) break;
        keyLength += length;
        a.uniqueSource = first && !dup;
        Segment seg;
        seg.kind = kind;
        seg.column = static_cast<int>(t.cols.size());
        seg.columnCount = kind == SegKind::kSplit ? 2 : 1;
        seg.type = a.type;
        seg.flags = kExt;
        if (dup) seg.flags |= kDup;
        if (mod) seg.flags |= kMod;
        if (rng.Chance(0.1)) seg.flags |= kDesc;
        if (dup && rng.Chance(0.05)) seg.flags |= kNull;
        if (IsText(kind)) {
          int r = rng.Below(100);
          if (r < 35) seg.flags |= kKeyNoCase;
          else if (r < 50) seg.flags |= kKeyAcs;
        }
        t.cols.push_back(a);
        if (kind == SegKind::kSplit) t.cols.push_back(b);
        budget -= seg.columnCount;
        key.segs.push_back(seg);
      }
      if (rng.Chance(0.3)) t.named.push_back(NamedIndex{key.segs.front().column});
      t.keys.push_back(key);
    }
    while (static_cast<int>(t.cols.size()) < o_.columns) t.cols.push_back(OtherColumn(rng));

    uint16_t offset = 0;
    for (Column& c : t.cols) {
      c.offset = offset;
      offset = static_cast<uint16_t>(offset + c.size);
    }
    t.recordLength = offset;

    for (Key& key : t.keys) {
      if (rng.Chance(o_.drift)) Drift(rng, t, key);
      for (Segment& s : key.segs) {
        const Column& c = t.cols[static_cast<size_t>(s.column)];
        s.position = static_cast<uint16_t>(c.offset + 1);
        s.length = 0;
        for (int j = 0; j < s.columnCount; j++)
          s.length = static_cast<uint16_t>(s.length + t.cols[static_cast<size_t>(s.column + j)].size);
      }
      ApplySegmentDrift(t, key);
      for (const Segment& s : key.segs) {
        for (int j = 0; j < s.columnCount; j++) {
          Column& c = t.cols[static_cast<size_t>(s.column + j)];
          if (s.flags & kKeyNoCase) c.flags |= 0x0001;
          if (s.flags & kKeyAcs) {
            c.acsInvolved = true;
            t.hasAcs = true;
          }
        }
      }
    }
    return t;
  }

  const int* driftCounts() const { return counts_; }

 private:
  // Chooses the next kind in turn that suits the key, so that every kind
  // appears as soon as enough keys drift, and fixes the flags it needs.
  void Drift(Rng& rng, Table& t, Key& key) {
    for (int tries = 0; tries < kDriftKinds; tries++) {
      int kind = next_;
      next_ = (next_ + 1) % kDriftKinds;
      if (!Applicable(kind, t, key)) continue;
      key.drift = kind;
      counts_[kind]++;
      break;
    }
    auto textSeg = [](const Segment& s) { return IsText(s.kind); };
    auto otherSeg = [](const Segment& s) { return !IsText(s.kind); };
    auto anySeg = [](const Segment&) { return true; };
    switch (key.drift) {
      case kFlagBit: {
        static const uint16_t bits[] = {kDup, kMod, kDesc, kExt, kSeg, kIndexNoCase, kIndexAcs};
        key.driftSeg = rng.Below(RowCount(key));
        key.driftBit = bits[rng.Below(static_cast<int>(std::size(bits)))];
        break;
      }
      case kMissingRow: case kWrongRow:
        key.driftSeg = rng.Below(RowCount(key));
        break;
      case kKeyType:
        key.driftSeg = PickSegment(rng, key, anySeg);
        break;
      case kNoColumn: case kLongColumn:
        key.driftSeg = PickSegment(rng, key, [](const Segment& s) { return s.columnCount == 1; });
        // A cut segment no longer holds the whole unique value.
        for (Segment& s : key.segs) s.flags |= kDup;
        break;
      case kMissingAcs: case kExtraAcs: {
        key.driftSeg = PickSegment(rng, key, textSeg);
        Segment& s = key.segs[static_cast<size_t>(key.driftSeg)];
        s.flags = static_cast<uint16_t>(s.flags & ~(kKeyAcs | kKeyNoCase));
        if (key.drift == kMissingAcs) s.flags |= kKeyAcs;
        t.cols[static_cast<size_t>(s.column)].acsInvolved = true;
        break;
      }
      case kInvalidAcs:
        key.driftSeg = PickSegment(rng, key, otherSeg);
        t.cols[static_cast<size_t>(key.segs[static_cast<size_t>(key.driftSeg)].column)].acsInvolved = true;
        break;
      default:
        break;
    }
  }

  // Drifts that change the data file's key definition rather than a row.
  static void ApplySegmentDrift(const Table& t, Key& key) {
    if (key.drift != kKeyType && key.drift != kNoColumn && key.drift != kLongColumn) return;
    Segment& s = key.segs[static_cast<size_t>(key.driftSeg)];
    const Column& c = t.cols[static_cast<size_t>(s.column)];
    if (key.drift == kKeyType) {
      s.type = c.type == 0 ? 11 : 0;
    } else if (key.drift == kNoColumn) {
      // Starts one byte into the column: no column begins there.
      s.position = static_cast<uint16_t>(s.position + 1);
      s.length = static_cast<uint16_t>(s.length - 1);
    } else {
      s.length = static_cast<uint16_t>(c.size - 1);
    }
  }

  const GenOptions& o_;
  int next_ = 0;
  int counts_[kDriftKinds] = {};
};

// The collating sequence of every ACS key: a case-folding table.
std::array<uint8_t, engine::kAcsSize> UpperAcs() {
  std::array<uint8_t, engine::kAcsSize> a{};
  a[0] = 0xAC;
  const char name[] = "UPPER   ";
  std::copy(name, name + 8, a.begin() + 1);
  for (int i = 0; i < 256; i++) a[9 + static_cast<size_t>(i)] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  return a;
}

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutText(Bytes& b, size_t at, size_t width, const std::string& s) {
  for (size_t i = 0; i < width; i++) b[at + i] = i < s.size() ? static_cast<uint8_t>(s[i]) : ' ';
}

Bytes FileRow(uint16_t id, const std::string& name, const std::string& location) {
  Bytes r(file_ddf::kSize, 0);
  Put16(r, file_ddf::kId, id);
  PutText(r, file_ddf::kName, file_ddf::kNameSize, name);
  PutText(r, file_ddf::kLocation, file_ddf::kLocationSize, location);
  return r;
}
Bytes FieldRow(uint16_t id, uint16_t table, const std::string& name, uint8_t type,
               uint16_t offset, uint16_t size, uint8_t dec, uint16_t flags) {
  Bytes r(field_ddf::kSize, 0);
  Put16(r, field_ddf::kId, id);
  Put16(r, field_ddf::kTable, table);
  PutText(r, field_ddf::kName, field_ddf::kNameSize, name);
  r[field_ddf::kType] = type;
  Put16(r, field_ddf::kOffset, offset);
  Put16(r, field_ddf::kFieldSize, size);
  r[field_ddf::kDec] = dec;
  Put16(r, field_ddf::kFlags, flags);
  return r;
}
Bytes IndexRow(uint16_t table, uint16_t field, uint16_t number, uint16_t part, uint16_t flags) {
  Bytes r(index_ddf::kSize, 0);
  Put16(r, index_ddf::kTable, table);
  Put16(r, index_ddf::kField, field);
  Put16(r, index_ddf::kNumber, number);
  Put16(r, index_ddf::kPart, part);
  Put16(r, index_ddf::kFlags, flags);
  return r;
}
Bytes AttribRow(uint16_t field, const std::array<uint8_t, engine::kAcsSize>& acs) {
  Bytes r(attrib_ddf::kFixed + engine::kAcsSize, 0);
  Put16(r, attrib_ddf::kField, field);
  r[attrib_ddf::kType] = 'O';
  Put16(r, attrib_ddf::kDataSize, engine::kAcsSize);
  std::copy(acs.begin(), acs.end(), r.begin() + attrib_ddf::kData);
  return r;
}

// The INDEX.DDF flags that agree with a key segment's flags.
uint16_t IndexFlags(uint16_t keyFlags) {
  uint16_t f = keyFlags & (kDup | kMod | kNull | kDesc | kExt);
  if (keyFlags & kKeyNoCase) f |= kIndexNoCase;
  if (keyFlags & kKeyAcs) f |= kIndexAcs;
  return f;
}

// The dictionary tables, described in their own FILE.DDF and FIELD.DDF.
struct SystemColumn {
  uint16_t table;
  const char* name;
  uint8_t type;
  uint16_t offset, size;
};
const SystemColumn kSystemColumns[] = {
    {1, "Xf$Id", 14, 0, 2},      {1, "Xf$Name", 0, 2, 20},   {1, "Xf$Loc", 0, 22, 64},
    {1, "Xf$Flags", 14, 86, 1},  {2, "Xe$Id", 14, 0, 2},     {2, "Xe$File", 14, 2, 2},
    {2, "Xe$Name", 0, 4, 20},    {2, "Xe$DataType", 14, 24, 1}, {2, "Xe$Offset", 14, 25, 2},
    {2, "Xe$Size", 14, 27, 2},   {2, "Xe$Dec", 14, 29, 1},   {2, "Xe$Flags", 14, 30, 2},
    {3, "Xi$File", 14, 0, 2},    {3, "Xi$Field", 14, 2, 2},  {3, "Xi$Number", 14, 4, 2},
    {3, "Xi$Part", 14, 6, 2},    {3, "Xi$Flags", 14, 8, 2}};

// Column ids are 16-bit. They are unique while they fit; beyond that, with
// sharing allowed, every column that has or may get an ATTRIB.DDF record
// keeps an id of its own and the others share the rest of the range, so
// that no ATTRIB.DDF lookup finds another table's record.
// Returns false (with *error) when the ids do not fit.
bool AssignIds(std::vector<Table>& tables, bool share, bool* shared, std::string* error) {
  size_t total = std::size(kSystemColumns), own = 0, widest = std::size(kSystemColumns);
  for (const Table& t : tables) {
    total += t.cols.size() + t.named.size();
    widest = std::max(widest, t.cols.size() + t.named.size());
    for (const Column& c : t.cols) own += c.acsInvolved;
  }
  *shared = total > kMaxColumnId;
  if (!*shared) {
    uint16_t id = static_cast<uint16_t>(std::size(kSystemColumns));
    for (Table& t : tables) {
      for (NamedIndex& n : t.named) n.id = ++id;
      for (Column& c : t.cols) c.id = ++id;
    }
    return true;
  }
  if (!share) {
    *error = std::to_string(total) + " columns need more than the 65535 column ids of FIELD.DDF "
             "(fewer tables or columns, or --shared-column-ids)";
    return false;
  }
  if (own + widest >= kMaxColumnId) {
    *error = "too many ACS columns to give each an id of its own";
    return false;
  }
  uint32_t nextOwn = std::size(kSystemColumns);
  const uint32_t sharedFirst = static_cast<uint32_t>(std::size(kSystemColumns) + own + 1);
  const uint32_t sharedCount = kMaxColumnId - sharedFirst + 1;
  uint64_t sharedNext = 0;
  auto sharedId = [&]() { return static_cast<uint16_t>(sharedFirst + sharedNext++ % sharedCount); };
  for (Table& t : tables) {
    for (NamedIndex& n : t.named) n.id = sharedId();
    for (Column& c : t.cols) c.id = c.acsInvolved ? static_cast<uint16_t>(++nextOwn) : sharedId();
  }
  return true;
}

// Fills one record: the id column and the first column of each unique key
// from the record number, the rest from the stream.
void FillRecord(const Table& t, uint32_t number, Rng& rng, Bytes* record) {
  Bytes& r = *record;
  r.assign(t.recordLength, 0);
  for (const Column& c : t.cols) {
    uint8_t* p = r.data() + c.offset;
    uint64_t v = c.uniqueSource ? number : rng.Next();
    switch (c.type) {
      case 0: case 11: {
        if (c.uniqueSource) {
          char hex[17];
          std::snprintf(hex, sizeof hex, "%08X", number);
          for (size_t i = 0; i < c.size; i++) p[i] = i < 8 ? static_cast<uint8_t>(hex[i]) : ' ';
        } else {
          for (size_t i = 0; i < c.size; i++) p[i] = static_cast<uint8_t>('A' + rng.Below(26));
        }
        if (c.type == 11) p[c.size - 1] = 0;
        break;
      }
      case 10:
        p[0] = static_cast<uint8_t>(c.size - 1);
        for (size_t i = 1; i < c.size; i++) p[i] = static_cast<uint8_t>('a' + rng.Below(26));
        break;
      default:
        for (size_t i = 0; i < c.size; i++) p[i] = static_cast<uint8_t>(i < 8 ? v >> (8 * i) : 0);
        break;
    }
  }
}

// The engine syncs every file it creates; a bulk generator syncs once at
// the end instead, which makes writing thousands of files fast.
class NoSyncFileSystem : public engine::FileSystem {
 public:
  NoSyncFileSystem() : base_(engine::DefaultFileSystem()) { engine::SetFileSystem(this); }
  ~NoSyncFileSystem() override {
    engine::SetFileSystem(nullptr);
    ::sync();
  }
  int Open(const std::string& p, engine::OpenMode m) override { return base_->Open(p, m); }
  int Close(int fd) override { return base_->Close(fd); }
  long long Read(int fd, uint64_t o, void* b, size_t n) override { return base_->Read(fd, o, b, n); }
  int Write(int fd, uint64_t o, const void* b, size_t n) override { return base_->Write(fd, o, b, n); }
  int Sync(int) override { return 0; }
  long long Size(int fd) override { return base_->Size(fd); }
  int Truncate(int fd, uint64_t n) override { return base_->Truncate(fd, n); }
  int Lock(int fd, uint64_t o, engine::LockKind k) override { return base_->Lock(fd, o, k); }
  int LinkNoReplace(const std::string& f, const std::string& t) override {
    return base_->LinkNoReplace(f, t);
  }
  int Unlink(const std::string& p) override { return base_->Unlink(p); }
  int SyncDirectoryOf(const std::string&) override { return 0; }
  bool IsDirectory(const std::string& p) override { return base_->IsDirectory(p); }
  void Random(uint8_t* out, size_t n) override { base_->Random(out, n); }
  void Pause(int us) override { base_->Pause(us); }

 private:
  engine::FileSystem* base_;
};

bool CreateWithRecords(const std::string& path, const engine::FileDef& def,
                       const std::vector<Bytes>& records, std::string* error) {
  std::string why;
  int st = engine::CreateFile(path, def, &why);
  if (st == 0 && !records.empty()) st = engine::InsertRecords(path, "", records);
  if (st != 0) *error = path + ": " + (why.empty() ? "not written" : why) + " (status " +
                        std::to_string(st) + ")";
  return st == 0;
}

bool WriteDataFile(const GenOptions& o, const Table& t, std::string* error) {
  engine::FileDef def;
  def.recordLength = t.recordLength;
  if (t.hasAcs) def.acs.push_back(UpperAcs());
  for (size_t k = 0; k < t.keys.size(); k++) {
    engine::KeyDef kd;
    kd.number = static_cast<uint8_t>(k);
    for (const Segment& s : t.keys[k].segs) {
      engine::SegmentDef sd;
      sd.position = s.position;
      sd.length = s.length;
      sd.flags = s.flags;
      sd.type = s.type;
      kd.segments.push_back(sd);
    }
    def.keys.push_back(kd);
  }
  std::string path = DataPath(t, '/');
  std::vector<Bytes> batch;
  Rng rng(o.seed ^ (0xA0761D6478BD642Full * static_cast<uint64_t>(t.number + 1)));
  std::string why;
  int st = engine::CreateFile(path, def, &why);
  for (uint32_t r = 0; st == 0 && r < o.records; r += kBatch) {
    uint32_t n = std::min(kBatch, o.records - r);
    batch.resize(n);
    for (uint32_t i = 0; i < n; i++) FillRecord(t, r + i, rng, &batch[i]);
    st = engine::InsertRecords(path, "", batch);
  }
  if (st != 0) {
    *error = path + ": " + (why.empty() ? "not written" : why) + " (status " + std::to_string(st) + ")";
    return false;
  }
  if (o.fileSize > 0) {
    std::error_code ec;
    if (fs::file_size(path, ec) < o.fileSize && !ec) fs::resize_file(path, o.fileSize, ec);
    if (ec) {
      *error = path + ": " + ec.message();
      return false;
    }
  }
  return true;
}

struct Rows {
  std::vector<Bytes> file, field, index, attrib;
};

void TableRows(const Table& t, const std::array<uint8_t, engine::kAcsSize>& acs, Rows* rows) {
  rows->file.push_back(FileRow(t.id, TableName(t), DataPath(t, '\\')));
  for (const NamedIndex& n : t.named) {
    const Column& at = t.cols[static_cast<size_t>(n.column)];
    rows->field.push_back(
        FieldRow(n.id, t.id, "By" + ColumnName(n.column, at.type), 255, at.offset, 0, 0, 0));
  }
  for (size_t c = 0; c < t.cols.size(); c++) {
    const Column& col = t.cols[c];
    rows->field.push_back(FieldRow(col.id, t.id, ColumnName(static_cast<int>(c), col.type), col.type,
                                   col.offset, col.size, col.dec, col.flags));
  }
  for (size_t k = 0; k < t.keys.size(); k++) {
    const Key& key = t.keys[k];
    int rowCount = RowCount(key), row = 0;
    for (size_t s = 0; s < key.segs.size(); s++) {
      const Segment& seg = key.segs[s];
      for (int j = 0; j < seg.columnCount; j++, row++) {
        const Column& col = t.cols[static_cast<size_t>(seg.column + j)];
        uint16_t flags = IndexFlags(seg.flags);
        if (row + 1 < rowCount) flags |= kSeg;
        uint16_t field = col.id;
        if (row == key.driftSeg && key.drift == kFlagBit) flags ^= key.driftBit;
        if (row == key.driftSeg && key.drift == kMissingRow) continue;
        if (row == key.driftSeg && key.drift == kWrongRow)
          field = t.cols[(static_cast<size_t>(seg.column + j) + 1) % t.cols.size()].id;
        rows->index.push_back(IndexRow(t.id, field, static_cast<uint16_t>(k),
                                       static_cast<uint16_t>(row), flags));
      }
    }
    // ATTRIB.DDF: every ACS column of the key, but the one whose record is
    // missing; an extra or invalid record where the drift asks for one.
    for (size_t s = 0; s < key.segs.size(); s++) {
      const Segment& seg = key.segs[s];
      bool touched = static_cast<int>(s) == key.driftSeg;
      bool want = (seg.flags & kKeyAcs) && !(touched && key.drift == kMissingAcs);
      bool extra = touched && (key.drift == kExtraAcs || key.drift == kInvalidAcs);
      for (int j = 0; j < seg.columnCount; j++) {
        if (want || (extra && j == 0))
          rows->attrib.push_back(AttribRow(t.cols[static_cast<size_t>(seg.column + j)].id, acs));
      }
    }
  }
}

class WorkingFolder {
 public:
  explicit WorkingFolder(const fs::path& to, std::error_code& ec) : saved_(fs::current_path()) {
    fs::current_path(to, ec);
  }
  ~WorkingFolder() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }

 private:
  fs::path saved_;
};

int Usage(const std::string& message) {
  std::cerr << "scrutor-db gen: " << message << "\n";
  return 2;
}

}  // namespace

CLI::App* AddGenCommand(CLI::App& app, GenOptions* o) {
  CLI::App* gen = app.add_subcommand("gen", "Write a synthetic database for benchmarks");
  gen->add_option("DIRECTORY", o->directory, "where it is written; must not exist or be empty")
      ->required();
  gen->add_option("--tables", o->tables, "number of tables")->required()->check(CLI::Range(1, kMaxTables));
  gen->add_option("--columns", o->columns, "columns per table")->check(CLI::Range(1, 200));
  gen->add_option("--keys", o->keys, "keys per table")->check(CLI::Range(1, 24));
  gen->add_option("--segments", o->segments, "most segments of one key")->check(CLI::Range(1, 8));
  gen->add_option("--drift", o->drift, "fraction of keys whose definitions drift")
      ->check(CLI::Range(0.0, 1.0));
  gen->add_option("--records", o->records, "records per data file")
      ->check(CLI::Range(0u, 100000000u));
  gen->add_option("--seed", o->seed, "seed of the random streams");
  gen->add_option("--file-size", o->fileSize,
                  "extend every data file to this many bytes, sparsely, past its last record");
  gen->add_flag("--shared-column-ids", o->sharedColumnIds,
                "let columns without ACS records share ids when more than 65535 are needed");
  return gen;
}

int RunGen(const GenOptions& o) {
  if (o.columns < o.keys) return Usage("--columns must be at least --keys");

  Planner planner(o);
  std::vector<Table> tables;
  tables.reserve(static_cast<size_t>(o.tables));
  for (int i = 1; i <= o.tables; i++) tables.push_back(planner.Plan(i));
  bool shared = false;
  std::string error;
  if (!AssignIds(tables, o.sharedColumnIds, &shared, &error)) return Usage(error);

  const fs::path target(o.directory);
  std::error_code ec;
  if (fs::exists(target, ec) && (!fs::is_directory(target, ec) || !fs::is_empty(target, ec)))
    return Error(o.directory + ": exists and is not an empty folder");
  fs::create_directories(target / "DATA", ec);
  if (ec) return Error(o.directory + ": " + ec.message());

  const auto acs = UpperAcs();
  Rows rows;
  const char* const systemNames[kSystemTables] = {"X$File", "X$Field", "X$Index"};
  for (int i = 0; i < kSystemTables; i++)
    rows.file.push_back(FileRow(static_cast<uint16_t>(i + 1), systemNames[i], kDictionaryNames[i]));
  uint16_t systemId = 0;
  for (const SystemColumn& c : kSystemColumns)
    rows.field.push_back(FieldRow(++systemId, c.table, c.name, c.type, c.offset, c.size, 0, 0));
  size_t segments = 0, keys = 0;
  for (const Table& t : tables) {
    TableRows(t, acs, &rows);
    keys += t.keys.size();
    for (const Key& k : t.keys) segments += k.segs.size();
  }

  bool ok = true;
  {
    WorkingFolder inside(target, ec);
    if (ec) return Error(o.directory + ": " + ec.message());
    NoSyncFileSystem noSync;
    for (size_t i = 0; ok && i < tables.size(); i++) ok = WriteDataFile(o, tables[i], &error);
    const std::vector<Bytes>* dictRows[kDictionaryCount] = {&rows.file, &rows.field, &rows.index,
                                                            &rows.attrib};
    for (int k = 0; ok && k < kDictionaryCount; k++) {
      engine::FileDef def = DictionaryDef(static_cast<DictionaryKind>(k));
      // Shared column ids repeat on FIELD.DDF key 0.
      if (k == kFieldDdf && shared) def.keys[0].segments[0].flags |= kDup;
      ok = CreateWithRecords(kDictionaryNames[k], def, *dictRows[k], &error);
    }
  }
  if (!ok) {
    // The folder was empty or new: take everything back out.
    for (const auto& e : fs::directory_iterator(target, ec)) fs::remove_all(e.path(), ec);
    return Error(error);
  }

  uint64_t dictBytes = 0;
  for (const char* name : kDictionaryNames) dictBytes += fs::file_size(target / name, ec);
  std::cout << "tables: " << tables.size() << "\n"
            << "columns: " << static_cast<size_t>(o.columns) * tables.size() << "\n"
            << "keys: " << keys << "\n"
            << "segments: " << segments << "\n"
            << "index_rows: " << rows.index.size() << "\n"
            << "attrib_rows: " << rows.attrib.size() << "\n"
            << "dictionary_bytes: " << dictBytes << "\n"
            << "shared_column_ids: " << (shared ? "yes" : "no") << "\n";
  int drifted = 0;
  for (int k = 0; k < kDriftKinds; k++) drifted += planner.driftCounts()[k];
  std::cout << "drifted_keys: " << drifted << "\n";
  for (int k = 0; k < kDriftKinds; k++)
    std::cout << "drift_" << kDriftNames[k] << ": " << planner.driftCounts()[k] << "\n";
  return 0;
}

}  // namespace scrutordb
