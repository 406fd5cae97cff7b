// build: check the whole description, write every file into a temporary
// folder beside the target, and move the files into place only when all of
// them were written. On any failure nothing is left behind.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "commands.h"
#include "description.h"
#include "engine_file.h"

namespace fs = std::filesystem;

namespace scrutordb {

namespace {

bool ReadText(const std::string& path, std::string* text, std::string* error) {
  if (path == "-") {
    std::ostringstream s;
    s << std::cin.rdbuf();
    *text = s.str();
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = path + ": cannot be read";
    return false;
  }
  return true;
}

// Names the unique key that a record rejected with status 5 collides on:
// the first key without duplicates on which the file already holds its value.
std::string DuplicateMessage(EngineFile& file, const Bytes& record) {
  Bytes stat;
  StatInfo info;
  std::string ignored;
  if (file.Stat(&stat) == 0 && DecodeStat(stat, &info, &ignored)) {
    size_t first = 0;
    for (int key = 0; first < info.segments.size(); key++) {
      size_t last = first;
      while (last < info.segments.size() && (info.segments[last].flags & 0x0010)) last++;
      std::vector<StatSegment> segs(info.segments.begin() + first,
                                    info.segments.begin() + std::min(last + 1, info.segments.size()));
      bool unique = !(segs.front().flags & 0x0001);
      if (unique && file.GetEqual(static_cast<uint8_t>(key), KeyValue(segs, record)) == 0)
        return "duplicate value on unique key " + std::to_string(key);
      first = last + 1;
    }
  }
  return "duplicate value on a unique key";
}

// Inserts records one at a time, to name the record and key a batch failed on.
bool InsertOneByOne(const std::string& path, const std::string& place, const std::string& owner,
                    const std::vector<PlacedRecord>& records, std::string* error) {
  EngineFile file;
  int status = file.Open(path, owner);
  if (status != 0) {
    *error = place + ": cannot be opened after creation (status " + std::to_string(status) + ")";
    return false;
  }
  for (const PlacedRecord& r : records) {
    status = file.Insert(r.bytes);
    if (status == kStatusDuplicate) {
      *error = r.place + ": " + DuplicateMessage(file, r.bytes);
      return false;
    }
    if (status != 0) {
      *error = r.place + ": not inserted (status " + std::to_string(status) + ")";
      return false;
    }
  }
  return true;
}

// Creates one file (path relative to the current folder) and inserts its
// records as one batch: one synced change however many records there are.
bool WriteFile(const std::string& path, const std::string& place, const engine::FileDef& def,
               const std::vector<PlacedRecord>& records, std::string* error) {
  std::string why;
  int status = engine::CreateFile(path, def, &why);
  if (status != 0) {
    *error = place + ": " + (why.empty() ? "cannot be created" : why) + " (status " +
             std::to_string(status) + ")";
    return false;
  }
  if (records.empty()) return true;
  std::vector<std::vector<uint8_t>> batch;
  batch.reserve(records.size());
  for (const PlacedRecord& r : records) batch.push_back(r.bytes);
  size_t failed = 0;
  status = engine::InsertRecords(path, def.owner.value_or(""), batch, &failed);
  if (status == 0) return true;
  // The batch changed nothing; inserting one by one finds the record and,
  // for a duplicate, the key. The file is in the temporary folder anyway.
  if (!InsertOneByOne(path, place, def.owner.value_or(""), records, error)) return false;
  *error = (failed < records.size() ? records[failed].place : place) +
           ": not inserted (status " + std::to_string(status) + ")";
  return false;
}

// Restores the working folder when it goes out of scope.
class WorkingFolder {
 public:
  WorkingFolder() : saved_(fs::current_path()) {}
  ~WorkingFolder() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }

 private:
  fs::path saved_;
};

// Writes everything into `temp`. Paths are relative so that the engine's
// limit on path length does not depend on where the target lies.
bool WriteAll(const Description& d, const fs::path& temp, std::string* error) {
  WorkingFolder restore;
  std::error_code ec;
  fs::current_path(temp, ec);
  if (ec) {
    *error = temp.string() + ": " + ec.message();
    return false;
  }
  for (int k = 0; k < kDictionaryCount; k++) {
    engine::FileDef def = DictionaryDef(static_cast<DictionaryKind>(k));
    def.owner = d.owner;
    if (!WriteFile(kDictionaryNames[k], kDictionaryNames[k], def, d.rows[k], error))
      return false;
  }
  for (const DataFile& f : d.files) {
    fs::path parent = fs::path(f.path).parent_path();
    if (!parent.empty()) {
      fs::create_directories(parent, ec);
      if (ec) {
        *error = f.place + ".path: " + ec.message();
        return false;
      }
    }
    if (!WriteFile(f.path, f.place, f.def, f.records, error)) return false;
  }
  return true;
}

// Folders created in the target, removed again (when empty) on failure.
struct CreatedFolders {
  std::vector<fs::path> list;  // parents before children

  bool Make(const fs::path& dir, std::string* error) {
    std::vector<fs::path> missing;
    for (fs::path p = dir; !p.empty() && !fs::exists(p); p = p.parent_path()) {
      missing.push_back(p);
      if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      std::error_code ec;
      if (!fs::create_directory(*it, ec) && ec) {
        *error = it->string() + ": " + ec.message();
        return false;
      }
      list.push_back(*it);
    }
    return true;
  }

  void Undo() {
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      std::error_code ec;
      fs::remove(*it, ec);  // only succeeds when empty
    }
  }
};

}  // namespace

int RunBuild(const std::string& descriptionPath, const std::string& directory, bool force) {
  std::string text, error;
  if (!ReadText(descriptionPath, &text, &error)) return Error(error);
  nlohmann::json json;
  try {
    json = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    // Drop the library's "[json.exception.parse_error.101] " prefix.
    std::string what = e.what();
    size_t cut = what.find("] ");
    return Error((descriptionPath == "-" ? "standard input" : descriptionPath) + ": " +
                 (cut == std::string::npos ? what : what.substr(cut + 2)));
  }
  Description d;
  if (!ReadDescription(json, &d, &error)) return Error(error);

  // Every file the build writes, relative to the target.
  std::vector<std::string> outputs(kDictionaryNames, kDictionaryNames + kDictionaryCount);
  for (const DataFile& f : d.files) outputs.push_back(f.path);

  const fs::path target(directory);
  std::error_code ec;
  if (fs::exists(target, ec) && !fs::is_directory(target, ec))
    return Error(directory + ": exists and is not a folder");
  for (const std::string& out : outputs) {
    fs::path p = target / out;
    auto st = fs::symlink_status(p, ec);
    if (!fs::exists(st)) continue;
    if (fs::is_directory(st)) return Error(p.string() + ": exists and is a folder");
    if (!force) return Error(p.string() + ": exists (--force overwrites it)");
  }

  CreatedFolders folders;
  if (!folders.Make(target, &error)) {
    folders.Undo();
    return Error(error);
  }
  std::string pattern = (target / ".scrutor-db-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    int err = errno;
    folders.Undo();
    return Error(directory + ": cannot make a temporary folder: " + std::strerror(err));
  }
  const fs::path temp(pattern);

  bool ok = WriteAll(d, temp, &error);
  std::vector<fs::path> moved;
  for (size_t i = 0; ok && i < outputs.size(); i++) {
    fs::path to = target / outputs[i];
    ok = folders.Make(to.parent_path(), &error);
    if (!ok) break;
    fs::rename(temp / outputs[i], to, ec);
    if (ec) {
      error = to.string() + ": " + ec.message();
      ok = false;
    } else {
      moved.push_back(to);
    }
  }
  if (!ok)
    for (const fs::path& p : moved) fs::remove(p, ec);
  fs::remove_all(temp, ec);
  if (!ok) {
    folders.Undo();
    return Error(error);
  }
  return 0;
}

}  // namespace scrutordb
