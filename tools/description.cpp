// Reading a description: every place is checked against its field's width
// and range before anything is written, and every message names the place.
#include "description.h"

#include <initializer_list>
#include <map>
#include <set>
#include <stdexcept>

#include "recmgr/bytes.h"

namespace scrutordb {

using nlohmann::json;

namespace {

// Thrown inside this file only; ReadDescription turns it into its result.
struct PlaceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& place, const std::string& what) {
  throw PlaceError(place + ": " + what);
}

// One JSON object whose member names are checked against the allowed ones.
class Object {
 public:
  Object(const json& j, std::string place, std::initializer_list<const char*> allowed)
      : json_(j), place_(std::move(place)) {
    if (!j.is_object()) Fail(place_.empty() ? "description" : place_, "not an object");
    std::set<std::string> names(allowed.begin(), allowed.end());
    for (auto it = j.begin(); it != j.end(); ++it)
      if (!names.count(it.key())) Fail(Place(it.key()), "unknown place");
  }

  std::string Place(const std::string& name) const {
    return place_.empty() ? name : place_ + "." + name;
  }

  // The member, or nullptr when absent or null.
  const json* Find(const char* name) const {
    auto it = json_.find(name);
    if (it == json_.end() || it->is_null()) return nullptr;
    return &*it;
  }

  const json& Need(const char* name) const {
    const json* j = Find(name);
    if (!j) Fail(Place(name), "missing");
    return *j;
  }

 private:
  const json& json_;
  std::string place_;
};

// An integer written as a number or as a string ("0x0420", "1056").
uint64_t Integer(const json& j, const std::string& place, uint64_t min, uint64_t max) {
  uint64_t value = 0;
  std::string shown;
  if (j.is_number_unsigned()) {
    value = j.get<uint64_t>();
    shown = std::to_string(value);
  } else if (j.is_number_integer()) {
    Fail(place, std::to_string(j.get<int64_t>()) + " out of range " + std::to_string(min) +
                    ".." + std::to_string(max));
  } else if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    size_t start = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      start = 2;
      base = 16;
    }
    if (s.size() == start) Fail(place, "\"" + s + "\" is not an integer");
    for (size_t i = start; i < s.size(); i++) {
      char c = s[i];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
              : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                   : -1;
      if (d < 0) Fail(place, "\"" + s + "\" is not an integer");
      if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
        Fail(place, s + " out of range " + std::to_string(min) + ".." + std::to_string(max));
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    shown = s;
  } else {
    Fail(place, "not an integer");
  }
  if (value < min || value > max)
    Fail(place, shown + " out of range " + std::to_string(min) + ".." + std::to_string(max));
  return value;
}

uint64_t Need(const Object& o, const char* name, uint64_t max, uint64_t min = 0) {
  return Integer(o.Need(name), o.Place(name), min, max);
}

uint64_t Optional(const Object& o, const char* name, uint64_t max, uint64_t dflt) {
  const json* j = o.Find(name);
  return j ? Integer(*j, o.Place(name), 0, max) : dflt;
}

Bytes Hex(const json& j, const std::string& place) {
  if (!j.is_string()) Fail(place, "not a hex string");
  Bytes bytes;
  std::string why;
  if (!FromHex(j.get_ref<const std::string&>(), &bytes, &why)) Fail(place, why);
  return bytes;
}

// A text field: the string's bytes (or {"hex": ...} for bytes that are not
// UTF-8) blank-padded to the width.
void Text(const json& j, const std::string& place, uint8_t* field, size_t width) {
  Bytes bytes;
  if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    bytes.assign(s.begin(), s.end());
  } else if (j.is_object()) {
    Object o(j, place, {"hex"});
    bytes = Hex(o.Need("hex"), o.Place("hex"));
  } else {
    Fail(place, "not a string");
  }
  if (bytes.size() > width)
    Fail(place, std::to_string(bytes.size()) + " bytes, at most " + std::to_string(width));
  for (size_t i = 0; i < width; i++) field[i] = i < bytes.size() ? bytes[i] : ' ';
}

const json& Array(const json* j, const std::string& place) {
  static const json kEmpty = json::array();
  if (!j) return kEmpty;
  if (!j->is_array()) Fail(place, "not an array");
  return *j;
}

std::string Item(const std::string& place, size_t i) {
  return place + "[" + std::to_string(i) + "]";
}

// Remembers the values of one unique key and names the earlier row on a repeat.
class UniqueKey {
 public:
  UniqueKey(int number) : number_(number) {}
  void Add(const Bytes& value, const std::string& place, const std::string& row) {
    // Keyed by string: GCC 12 warns falsely on comparing byte vectors.
    auto [it, added] = seen_.emplace(std::string(value.begin(), value.end()), row);
    if (!added)
      Fail(place, "duplicate value on unique key " + std::to_string(number_) + ", as " +
                      it->second);
  }

 private:
  int number_;
  std::map<std::string, std::string> seen_;
};

Bytes Slice(const Bytes& b, size_t at, size_t n) { return Bytes(b.begin() + at, b.begin() + at + n); }

// Case-insensitive keys fold a to z before comparing.
Bytes Folded(Bytes b) {
  for (uint8_t& c : b)
    if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 'a' + 'A');
  return b;
}

void ReadTables(const json& array, std::vector<PlacedRecord>* rows) {
  UniqueKey ids(0), names(1);
  for (size_t i = 0; i < array.size(); i++) {
    std::string place = Item("tables", i);
    Object o(array[i], place, {"id", "name", "location", "flags"});
    Bytes r(file_ddf::kSize, 0);
    StoreU16(&r[file_ddf::kId], static_cast<uint16_t>(Need(o, "id", 0xFFFF)));
    Text(o.Need("name"), o.Place("name"), &r[file_ddf::kName], file_ddf::kNameSize);
    Text(o.Need("location"), o.Place("location"), &r[file_ddf::kLocation],
         file_ddf::kLocationSize);
    r[file_ddf::kFlags] = static_cast<uint8_t>(Optional(o, "flags", 0xFF, 0));
    ids.Add(Slice(r, file_ddf::kId, 2), o.Place("id"), place);
    names.Add(Folded(Slice(r, file_ddf::kName, file_ddf::kNameSize)), o.Place("name"), place);
    rows->push_back({place, std::move(r)});
  }
}

void ReadFields(const json& array, std::vector<PlacedRecord>* rows) {
  UniqueKey ids(0);
  for (size_t i = 0; i < array.size(); i++) {
    std::string place = Item("fields", i);
    Object o(array[i], place,
             {"id", "table", "name", "type", "offset", "size", "dec", "flags"});
    Bytes r(field_ddf::kSize, 0);
    StoreU16(&r[field_ddf::kId], static_cast<uint16_t>(Need(o, "id", 0xFFFF)));
    StoreU16(&r[field_ddf::kTable], static_cast<uint16_t>(Need(o, "table", 0xFFFF)));
    Text(o.Need("name"), o.Place("name"), &r[field_ddf::kName], field_ddf::kNameSize);
    r[field_ddf::kType] = static_cast<uint8_t>(Need(o, "type", 0xFF));
    StoreU16(&r[field_ddf::kOffset], static_cast<uint16_t>(Need(o, "offset", 0xFFFF)));
    StoreU16(&r[field_ddf::kFieldSize], static_cast<uint16_t>(Need(o, "size", 0xFFFF)));
    r[field_ddf::kDec] = static_cast<uint8_t>(Optional(o, "dec", 0xFF, 0));
    StoreU16(&r[field_ddf::kFlags], static_cast<uint16_t>(Optional(o, "flags", 0xFFFF, 0)));
    ids.Add(Slice(r, field_ddf::kId, 2), o.Place("id"), place);
    rows->push_back({place, std::move(r)});
  }
}

void ReadIndexes(const json& array, std::vector<PlacedRecord>* rows) {
  UniqueKey segments(2);
  for (size_t i = 0; i < array.size(); i++) {
    std::string place = Item("indexes", i);
    Object o(array[i], place, {"table", "field", "number", "part", "flags"});
    Bytes r(index_ddf::kSize, 0);
    StoreU16(&r[index_ddf::kTable], static_cast<uint16_t>(Need(o, "table", 0xFFFF)));
    StoreU16(&r[index_ddf::kField], static_cast<uint16_t>(Need(o, "field", 0xFFFF)));
    StoreU16(&r[index_ddf::kNumber], static_cast<uint16_t>(Need(o, "number", 0xFFFF)));
    StoreU16(&r[index_ddf::kPart], static_cast<uint16_t>(Need(o, "part", 0xFFFF)));
    StoreU16(&r[index_ddf::kFlags], static_cast<uint16_t>(Optional(o, "flags", 0xFFFF, 0)));
    Bytes key = Slice(r, index_ddf::kTable, 2);
    Bytes rest = Slice(r, index_ddf::kNumber, 4);
    key.insert(key.end(), rest.begin(), rest.end());
    segments.Add(key, place, place);
    rows->push_back({place, std::move(r)});
  }
}

// The attribute type: a one-byte string ("O") or its code as an integer.
uint8_t AttribType(const json& j, const std::string& place) {
  if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    if (s.size() != 1) Fail(place, std::to_string(s.size()) + " bytes, must be 1");
    return static_cast<uint8_t>(s[0]);
  }
  return static_cast<uint8_t>(Integer(j, place, 0, 0xFF));
}

void ReadAttributes(const json& array, std::vector<PlacedRecord>* rows) {
  UniqueKey keys(0);
  for (size_t i = 0; i < array.size(); i++) {
    std::string place = Item("attributes", i);
    Object o(array[i], place, {"field", "type", "data"});
    uint16_t field = static_cast<uint16_t>(Need(o, "field", 0xFFFF));
    uint8_t type = AttribType(o.Need("type"), o.Place("type"));
    Bytes data = Hex(o.Need("data"), o.Place("data"));
    if (data.size() > attrib_ddf::kMaxData)
      Fail(o.Place("data"), std::to_string(data.size()) + " bytes, at most " +
                                std::to_string(attrib_ddf::kMaxData));
    Bytes r(attrib_ddf::kFixed, 0);
    StoreU16(&r[attrib_ddf::kField], field);
    r[attrib_ddf::kType] = type;
    StoreU16(&r[attrib_ddf::kDataSize], static_cast<uint16_t>(data.size()));
    r.insert(r.end(), data.begin(), data.end());
    keys.Add(Slice(r, 0, 3), place, place);
    rows->push_back({place, std::move(r)});
  }
}

std::optional<std::string> Owner(const Object& o, const char* name) {
  const json* j = o.Find(name);
  if (!j) return std::nullopt;
  if (!j->is_string()) Fail(o.Place(name), "not a string or null");
  const std::string& s = j->get_ref<const std::string&>();
  if (s.empty()) Fail(o.Place(name), "empty; null means no owner name");
  if (s.find('\0') != std::string::npos) Fail(o.Place(name), "contains a zero byte");
  return s;
}

engine::KeyDef ReadKey(const json& j, const std::string& place, size_t index,
                       uint16_t recordLength) {
  Object o(j, place, {"number", "segments"});
  engine::KeyDef key;
  key.number = static_cast<uint8_t>(Optional(o, "number", 0xFF, index));
  const json& segs = Array(&o.Need("segments"), o.Place("segments"));
  if (segs.empty()) Fail(o.Place("segments"), "a key needs at least one segment");
  for (size_t s = 0; s < segs.size(); s++) {
    std::string sp = Item(o.Place("segments"), s);
    Object so(segs[s], sp, {"position", "length", "flags", "type", "null", "acs"});
    engine::SegmentDef seg;
    seg.position = static_cast<uint16_t>(Need(so, "position", 0xFFFF, 1));
    seg.length = static_cast<uint16_t>(Need(so, "length", 0xFFFF, 1));
    seg.flags = static_cast<uint16_t>(Optional(so, "flags", 0xFFFF, 0));
    seg.type = static_cast<uint8_t>(Optional(so, "type", 0xFF, 0));
    seg.nullValue = static_cast<uint8_t>(Optional(so, "null", 0xFF, 0));
    seg.acs = static_cast<uint8_t>(Optional(so, "acs", 0xFF, 0));
    uint32_t end = uint32_t{seg.position} + seg.length - 1;
    if (end > recordLength)
      Fail(sp, "bytes " + std::to_string(seg.position) + " to " + std::to_string(end) +
                   " lie outside the " + std::to_string(recordLength) + "-byte record");
    // The segment flag marks every segment but a key's last.
    if (s + 1 < segs.size())
      seg.flags |= 0x0010;
    else
      seg.flags &= static_cast<uint16_t>(~0x0010);
    key.segments.push_back(seg);
  }
  return key;
}

void ReadFiles(const json& array, std::vector<DataFile>* files) {
  std::map<std::string, std::string> paths;
  for (const char* name : kDictionaryNames) paths.emplace(name, "a dictionary file");
  for (size_t i = 0; i < array.size(); i++) {
    DataFile f;
    f.place = Item("files", i);
    Object o(array[i], f.place,
             {"path", "owner", "record_length", "variable", "page_size", "keys", "acs",
              "records"});
    const json& path = o.Need("path");
    if (!path.is_string()) Fail(o.Place("path"), "not a string");
    std::string why;
    f.path = NormalizeRelativePath(path.get<std::string>(), &why);
    if (f.path.empty()) Fail(o.Place("path"), why);
    auto [it, added] = paths.emplace(f.path, o.Place("path"));
    if (!added) Fail(o.Place("path"), "the same file as " + it->second);

    f.def.owner = Owner(o, "owner");
    f.def.recordLength = static_cast<uint16_t>(Need(o, "record_length", 0xFFFF, 1));
    if (const json* v = o.Find("variable")) {
      if (!v->is_boolean()) Fail(o.Place("variable"), "not true or false");
      f.def.variable = v->get<bool>();
    }
    f.def.pageSize = static_cast<uint16_t>(Optional(o, "page_size", 0xFFFF, 4096));

    const json& keys = Array(o.Find("keys"), o.Place("keys"));
    for (size_t k = 0; k < keys.size(); k++)
      f.def.keys.push_back(ReadKey(keys[k], Item(o.Place("keys"), k), k, f.def.recordLength));

    const json& acs = Array(o.Find("acs"), o.Place("acs"));
    for (size_t a = 0; a < acs.size(); a++) {
      std::string ap = Item(o.Place("acs"), a);
      Bytes bytes = Hex(acs[a], ap);
      if (bytes.size() != engine::kAcsSize)
        Fail(ap, std::to_string(bytes.size()) + " bytes, must be " +
                     std::to_string(engine::kAcsSize));
      std::array<uint8_t, engine::kAcsSize> table;
      std::copy(bytes.begin(), bytes.end(), table.begin());
      f.def.acs.push_back(table);
    }

    // A segment ordered by a collating sequence must name one of the file's.
    for (size_t k = 0; k < f.def.keys.size(); k++)
      for (size_t s = 0; s < f.def.keys[k].segments.size(); s++) {
        const engine::SegmentDef& seg = f.def.keys[k].segments[s];
        if ((seg.flags & 0x0020) && seg.acs >= f.def.acs.size())
          Fail(Item(Item(o.Place("keys"), k) + ".segments", s) + ".acs",
               "collating sequence " + std::to_string(seg.acs) + ", the file has " +
                   std::to_string(f.def.acs.size()));
      }

    const json& records = Array(o.Find("records"), o.Place("records"));
    for (size_t r = 0; r < records.size(); r++) {
      std::string rp = Item(o.Place("records"), r);
      Bytes bytes = Hex(records[r], rp);
      if (!f.def.variable && bytes.size() != f.def.recordLength)
        Fail(rp, std::to_string(bytes.size()) + " bytes, the record length is " +
                     std::to_string(f.def.recordLength));
      if (f.def.variable && bytes.size() < f.def.recordLength)
        Fail(rp, std::to_string(bytes.size()) + " bytes, at least " +
                     std::to_string(f.def.recordLength));
      f.records.push_back({rp, std::move(bytes)});
    }
    files->push_back(std::move(f));
  }
}

}  // namespace

std::string NormalizeRelativePath(const std::string& path, std::string* why) {
  if (path.empty()) {
    *why = "empty";
    return "";
  }
  if (path.find('\0') != std::string::npos) {
    *why = "contains a zero byte";
    return "";
  }
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  if (p[0] == '/' || (p.size() > 1 && p[1] == ':')) {
    *why = "\"" + path + "\" is not relative to the build directory";
    return "";
  }
  std::string out;
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    std::string part = p.substr(start, end - start);
    if (part == "..") {
      *why = "\"" + path + "\" leads outside the build directory";
      return "";
    }
    if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
    start = end + 1;
  }
  if (out.empty() || p.back() == '/') {
    *why = "\"" + path + "\" names no file";
    return "";
  }
  return out;
}

bool ReadDescription(const json& json, Description* out, std::string* error) {
  try {
    Object top(json, "", {"owner", "tables", "fields", "indexes", "attributes", "files"});
    out->owner = Owner(top, "owner");
    ReadTables(Array(top.Find("tables"), "tables"), &out->rows[kFileDdf]);
    ReadFields(Array(top.Find("fields"), "fields"), &out->rows[kFieldDdf]);
    ReadIndexes(Array(top.Find("indexes"), "indexes"), &out->rows[kIndexDdf]);
    ReadAttributes(Array(top.Find("attributes"), "attributes"), &out->rows[kAttribDdf]);
    ReadFiles(Array(top.Find("files"), "files"), &out->files);
    return true;
  } catch (const PlaceError& e) {
    *error = e.what();
    return false;
  }
}

}  // namespace scrutordb
