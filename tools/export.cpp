// export and dump: read files through the engine and print them as JSON.
#include <filesystem>
#include <iostream>
#include <set>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "description.h"
#include "engine_file.h"
#include "json_print.h"
#include "recmgr/bytes.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace scrutordb {

namespace {

// A text field without its trailing blanks: a string when it is UTF-8,
// otherwise {"hex": ...} so that its bytes survive the round trip.
Json TextField(const uint8_t* field, size_t width) {
  while (width > 0 && field[width - 1] == ' ') width--;
  if (IsUtf8(field, width)) return std::string(field, field + width);
  return Json{{"hex", ToHex(field, width)}};
}

Json AttribType(uint8_t type) {
  if (type < 0x80) return std::string(1, static_cast<char>(type));
  return type;
}

// Reads every record of a file, trying no owner name first, then `owner`.
// *used tells which one opened it.
int ReadRecords(const std::string& path, const std::optional<std::string>& owner,
                std::vector<Bytes>* records, std::optional<std::string>* used) {
  int status = engine::ReadAllRecords(path, "", records);
  *used = std::nullopt;
  if (status == kStatusOwner && owner) {
    records->clear();
    status = engine::ReadAllRecords(path, *owner, records);
    *used = owner;
  }
  return status;
}

std::string StatusText(int status) {
  std::string text = "status " + std::to_string(status);
  if (status == kStatusOwner) text += ", owner name wrong or missing (--owner)";
  if (status == 12) text += ", file not found";
  return text;
}

Json Segment(const StatSegment& s, bool all) {
  Json j;
  j["position"] = s.position;
  j["length"] = s.length;
  j["flags"] = s.flags;
  if (all) j["distinct"] = s.distinct;
  j["type"] = s.type;
  j["null"] = s.nullValue;
  if (all) j["key"] = s.keyNumber;
  j["acs"] = s.acs;
  return j;
}

// Opens a data file and reads its Stat result.
int StatFile(const std::string& path, const std::string& owner, StatInfo* info,
             std::string* error) {
  EngineFile file;
  int status = file.Open(path, owner);
  if (status != 0) {
    *error = path + ": cannot be opened (" + StatusText(status) + ")";
    return 1;
  }
  Bytes stat;
  status = file.Stat(&stat);
  if (status != 0) {
    *error = path + ": Stat failed (" + StatusText(status) + ")";
    return 1;
  }
  if (!DecodeStat(stat, info, error)) {
    *error = path + ": " + *error;
    return 1;
  }
  return 0;
}

// One files[] entry; false with *error when the file cannot be read.
bool ExportFile(const std::string& path, const std::optional<std::string>& owner,
                bool withRecords, Json* out, std::string* error) {
  std::vector<Bytes> records;
  std::optional<std::string> used;
  int status = ReadRecords(path, owner, &records, &used);
  if (status != 0) {
    *error = path + ": cannot be read (" + StatusText(status) + ")";
    return false;
  }
  StatInfo info;
  if (StatFile(path, used.value_or(""), &info, error) != 0) return false;

  Json f;
  f["path"] = path;
  f["owner"] = used ? Json(*used) : Json(nullptr);
  f["record_length"] = info.recordLength;
  f["variable"] = (info.fileFlags & 0x0001) != 0;
  f["page_size"] = info.pageSize;
  Json keys = Json::array();
  for (size_t i = 0; i < info.segments.size();) {
    Json key;
    key["number"] = info.segments[i].keyNumber;
    key["segments"] = Json::array();
    bool more = true;
    for (; more && i < info.segments.size(); i++) {
      key["segments"].push_back(Segment(info.segments[i], false));
      more = (info.segments[i].flags & 0x0010) != 0;
    }
    keys.push_back(key);
  }
  f["keys"] = keys;
  f["acs"] = Json::array();
  for (const Bytes& a : info.acs) f["acs"].push_back(ToHex(a));
  f["records"] = Json::array();
  if (withRecords)
    for (const Bytes& r : records) f["records"].push_back(ToHex(r));
  *out = std::move(f);
  return true;
}

// The data file a FILE.DDF location names: up to a zero byte, trailing
// blanks cut, backslashes read as separators.
std::string LocationPath(const Bytes& row) {
  const uint8_t* loc = &row[file_ddf::kLocation];
  size_t n = 0;
  while (n < file_ddf::kLocationSize && loc[n] != 0) n++;
  while (n > 0 && loc[n - 1] == ' ') n--;
  return std::string(loc, loc + n);
}

bool IsDictionaryName(const std::string& path) {
  for (const char* name : kDictionaryNames)
    if (path == name) return true;
  return false;
}

}  // namespace

int RunExport(const std::string& directory, const std::optional<std::string>& owner,
              bool withRecords) {
  std::error_code ec;
  fs::path saved = fs::current_path();
  fs::current_path(directory, ec);
  if (ec) return Error(directory + ": " + ec.message());
  struct Restore {
    fs::path p;
    ~Restore() {
      std::error_code e;
      fs::current_path(p, e);
    }
  } restore{saved};

  std::vector<Bytes> rows[kDictionaryCount];
  std::optional<std::string> dictOwner;
  for (int k = 0; k < kDictionaryCount; k++) {
    std::optional<std::string> used;
    int status = ReadRecords(kDictionaryNames[k], owner, &rows[k], &used);
    if (status != 0)
      return Error(directory + "/" + kDictionaryNames[k] + ": cannot be read (" +
                   StatusText(status) + ")");
    if (used) dictOwner = used;
  }

  Json d;
  d["owner"] = dictOwner ? Json(*dictOwner) : Json(nullptr);
  d["tables"] = Json::array();
  for (const Bytes& r : rows[kFileDdf]) {
    if (r.size() < file_ddf::kSize) return Error("FILE.DDF: a record of " + std::to_string(r.size()) + " bytes");
    Json t;
    t["id"] = LoadU16(&r[file_ddf::kId]);
    t["name"] = TextField(&r[file_ddf::kName], file_ddf::kNameSize);
    t["location"] = TextField(&r[file_ddf::kLocation], file_ddf::kLocationSize);
    t["flags"] = r[file_ddf::kFlags];
    d["tables"].push_back(t);
  }
  d["fields"] = Json::array();
  for (const Bytes& r : rows[kFieldDdf]) {
    if (r.size() < field_ddf::kSize) return Error("FIELD.DDF: a record of " + std::to_string(r.size()) + " bytes");
    Json f;
    f["id"] = LoadU16(&r[field_ddf::kId]);
    f["table"] = LoadU16(&r[field_ddf::kTable]);
    f["name"] = TextField(&r[field_ddf::kName], field_ddf::kNameSize);
    f["type"] = r[field_ddf::kType];
    f["offset"] = LoadU16(&r[field_ddf::kOffset]);
    f["size"] = LoadU16(&r[field_ddf::kFieldSize]);
    f["dec"] = r[field_ddf::kDec];
    f["flags"] = LoadU16(&r[field_ddf::kFlags]);
    d["fields"].push_back(f);
  }
  d["indexes"] = Json::array();
  for (const Bytes& r : rows[kIndexDdf]) {
    if (r.size() < index_ddf::kSize) return Error("INDEX.DDF: a record of " + std::to_string(r.size()) + " bytes");
    Json i;
    i["table"] = LoadU16(&r[index_ddf::kTable]);
    i["field"] = LoadU16(&r[index_ddf::kField]);
    i["number"] = LoadU16(&r[index_ddf::kNumber]);
    i["part"] = LoadU16(&r[index_ddf::kPart]);
    i["flags"] = LoadU16(&r[index_ddf::kFlags]);
    d["indexes"].push_back(i);
  }
  d["attributes"] = Json::array();
  for (const Bytes& r : rows[kAttribDdf]) {
    if (r.size() < attrib_ddf::kFixed) return Error("ATTRIB.DDF: a record of " + std::to_string(r.size()) + " bytes");
    Json a;
    a["field"] = LoadU16(&r[attrib_ddf::kField]);
    a["type"] = AttribType(r[attrib_ddf::kType]);
    // The stored data whole: the build sets the size field from its length.
    a["data"] = ToHex(r.data() + attrib_ddf::kData, r.size() - attrib_ddf::kData);
    d["attributes"].push_back(a);
  }

  d["files"] = Json::array();
  std::set<std::string> seen;
  for (const Bytes& r : rows[kFileDdf]) {
    std::string location = LocationPath(r);
    if (location.empty()) continue;
    std::string why;
    std::string path = NormalizeRelativePath(location, &why);
    if (path.empty() || !IsUtf8(reinterpret_cast<const uint8_t*>(path.data()), path.size())) {
      std::cerr << "scrutor-db: skipping location " << location << ": "
                << (path.empty() ? why : "not UTF-8") << "\n";
      continue;
    }
    // The dictionaries are written as such, whatever table names them.
    if (!seen.insert(path).second || IsDictionaryName(path)) continue;
    auto st = fs::status(path, ec);
    if (!fs::is_regular_file(st)) continue;
    Json f;
    std::string error;
    if (!ExportFile(path, owner, withRecords, &f, &error)) return Error(error);
    d["files"].push_back(f);
  }
  std::cout << PrintJson(d);
  return 0;
}

int RunDump(const std::string& file, const std::optional<std::string>& owner) {
  StatInfo info;
  std::string error;
  if (StatFile(file, owner.value_or(""), &info, &error) != 0) return Error(error);
  std::vector<Bytes> records;
  int status = engine::ReadAllRecords(file, owner.value_or(""), &records);
  if (status != 0) return Error(file + ": cannot be read (" + StatusText(status) + ")");

  Json d;
  d["file"] = file;
  d["record_length"] = info.recordLength;
  d["page_size"] = info.pageSize;
  d["key_count"] = info.keyCount;
  d["version"] = info.version;
  d["record_count"] = info.recordCount;
  d["file_flags"] = info.fileFlags;
  d["variable"] = (info.fileFlags & 0x0001) != 0;
  d["segments"] = Json::array();
  for (const StatSegment& s : info.segments) d["segments"].push_back(Segment(s, true));
  d["acs"] = Json::array();
  for (const Bytes& a : info.acs) d["acs"].push_back(ToHex(a));
  d["records"] = Json::array();
  for (const Bytes& r : records) d["records"].push_back(ToHex(r));
  std::cout << PrintJson(d);
  return 0;
}

}  // namespace scrutordb
