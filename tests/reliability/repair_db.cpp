#include "repair_db.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <nlohmann/json.hpp>

#include "engine/engine.h"
#include "run_process.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace reliability {
namespace {

// A collating sequence: signature, name, table mapping byte i to i + shift.
std::string Acs(int shift) {
  std::string bytes(1, static_cast<char>(0xAC));
  bytes += "UPPER   ";
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>((i + shift) & 0xFF));
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

// An ATTRIB.DDF "O" record: column id, type, size, the 265-byte ACS.
std::string AttribRecord(int columnId, const std::string& acs) {
  std::string r;
  r.push_back(static_cast<char>(columnId & 0xFF));
  r.push_back(static_cast<char>(columnId >> 8));
  r.push_back('O');
  r.push_back(static_cast<char>(acs.size() & 0xFF));
  r.push_back(static_cast<char>(acs.size() >> 8));
  return r + acs;
}

}  // namespace

std::string AttribKey(int columnId) {
  std::string k;
  k.push_back(static_cast<char>(columnId & 0xFF));
  k.push_back(static_cast<char>(columnId >> 8));
  k.push_back('O');
  return k;
}

RepairDatabase::RepairDatabase(int tableCount, const std::string& owner) {
  root_ = std::make_unique<TempDir>();
  templateDir_ = root_->path() + "/db";

  json d;
  d["owner"] = owner.empty() ? json(nullptr) : json(owner);
  d["tables"] = json::array();
  d["fields"] = json::array();
  d["indexes"] = json::array();
  d["attributes"] = json::array();
  d["files"] = json::array();
  const Repair kinds[] = {Repair::kInsert, Repair::kDeleteExtra, Repair::kDeleteInvalid,
                          Repair::kNone};
  for (int i = 0; i < tableCount; ++i) {
    const Repair kind = kinds[i % 4];
    const int tableId = 100 + i;
    const int idColumn = 1000 + 10 * i;
    const int nameColumn = idColumn + 1;
    std::string name = std::to_string(i);
    name.insert(name.begin(), 'T');
    std::string location = "DATA\\";
    location.append(name).append(".DAT");
    tables_.push_back({name, nameColumn, kind});

    const bool keyAcs = kind == Repair::kInsert || kind == Repair::kNone;
    const int nameType = kind == Repair::kDeleteInvalid ? 1 : 0;  // 1: integer, no ACS
    d["tables"].push_back({{"id", tableId}, {"name", name}, {"location", location}});
    d["fields"].push_back({{"id", idColumn}, {"table", tableId}, {"name", "Id"}, {"type", 14},
                           {"offset", 0}, {"size", 4}});
    d["fields"].push_back({{"id", nameColumn}, {"table", tableId}, {"name", "Name"},
                           {"type", nameType}, {"offset", 4}, {"size", 20}});
    d["indexes"].push_back({{"table", tableId}, {"field", idColumn}, {"number", 0}, {"part", 0}});
    d["indexes"].push_back({{"table", tableId}, {"field", nameColumn}, {"number", 1}, {"part", 0},
                            {"flags", keyAcs ? 0x0007 : 0x0003}});
    const std::string fileAcs = Acs(i + 1);
    const std::string staleAcs = Acs(i + 101);
    if (kind != Repair::kInsert) {
      d["attributes"].push_back({{"field", nameColumn}, {"type", "O"}, {"data", Hex(staleAcs)}});
      original_[AttribKey(nameColumn)] = AttribRecord(nameColumn, staleAcs);
    }
    if (kind == Repair::kInsert) repaired_[AttribKey(nameColumn)] = AttribRecord(nameColumn, fileAcs);
    if (kind == Repair::kNone) repaired_[AttribKey(nameColumn)] = AttribRecord(nameColumn, staleAcs);

    std::string filePath = "DATA/";
    filePath.append(name).append(".DAT");
    json file = {{"path", filePath}, {"record_length", 24}};
    file["keys"] = json::array(
        {{{"segments", json::array({{{"position", 1}, {"length", 4}, {"type", 14}}})}},
         {{"segments", json::array({{{"position", 5}, {"length", 20},
                                     {"flags", keyAcs ? 0x0023 : 0x0003},
                                     {"type", nameType}}})}}});
    file["acs"] = keyAcs ? json::array({Hex(fileAcs)}) : json::array();
    d["files"].push_back(file);
  }

  const std::string path = root_->path() + "/description.json";
  WriteFileBytes(path, d.dump());
  ProcessResult r = RunProcess({SCRUTOR_DB_BIN, "build", path, templateDir_}, "", "", true);
  ok_ = r.exitCode == 0;
  if (!ok_) error_ = "scrutor-db build failed: " + r.err;
}

void RepairDatabase::CopyTo(const std::string& dir) const {
  fs::create_directories(dir);
  fs::copy(templateDir_, dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

std::string ReadAttrib(const std::string& dir, AttribState* state, const std::string& owner) {
  const std::string path = dir + "/ATTRIB.DDF";
  std::string problem;
  int st = engine::VerifyFile(path, owner, &problem);
  if (st != 0) return "VerifyFile: status " + std::to_string(st) + ": " + problem;
  std::vector<std::vector<uint8_t>> records;
  st = engine::ReadAllRecords(path, owner, &records);
  if (st != 0) return "ReadAllRecords: status " + std::to_string(st);
  state->clear();
  for (const auto& r : records) {
    std::string record(r.begin(), r.end());
    if (record.size() < 3) return "a record shorter than its key";
    if (!state->emplace(record.substr(0, 3), record).second) return "a key held twice";
  }
  return "";
}

std::string CheckOriginalOrRepaired(const AttribState& state, const AttribState& original,
                                    const AttribState& repaired) {
  auto lookup = [](const AttribState& s, const std::string& k) {
    auto it = s.find(k);
    return it == s.end() ? std::string("<absent>") : it->second;
  };
  std::map<std::string, int> keys;
  for (const auto* s : {&state, &original, &repaired}) {
    for (const auto& [k, v] : *s) keys[k] = 0;
  }
  for (const auto& [k, unused] : keys) {
    const std::string now = lookup(state, k);
    if (now != lookup(original, k) && now != lookup(repaired, k)) {
      int column = static_cast<unsigned char>(k[0]) | (static_cast<unsigned char>(k[1]) << 8);
      return "column " + std::to_string(column) + " holds neither its original nor its repair";
    }
  }
  return "";
}

std::map<std::string, std::string> OtherFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::string rel = fs::relative(e.path(), dir).string();
    if (rel == "ATTRIB.DDF") continue;
    files[rel] = ReadFileBytes(e.path().string());
  }
  return files;
}

std::set<std::string> TablesWithErrorLines(const std::string& out) {
  static const std::regex header("Inconsistency Found: Key 1, Segment 0 for (T[0-9]+)\\.Name\\.");
  std::set<std::string> tables;
  std::string current;
  for (const std::string& line : Lines(out)) {
    std::smatch m;
    if (std::regex_match(line, m, header)) current = m[1];
    if (line.rfind(" Error", 0) == 0) tables.insert(current);
  }
  return tables;
}

AttribState ExpectedAfterFailures(const RepairDatabase& db, const std::set<std::string>& failed,
                                  bool oneFailure) {
  AttribState expected = db.repaired();
  for (const auto& t : db.tables()) {
    if (!failed.count(t.name)) continue;
    if (oneFailure && t.repair == Repair::kDeleteInvalid) continue;
    const std::string key = AttribKey(t.columnId);
    expected.erase(key);
    auto it = db.original().find(key);
    if (it != db.original().end()) expected[key] = it->second;
  }
  return expected;
}

int Rounds(int defaultRounds) {
  const char* v = std::getenv("SCRUTOR_RELIABILITY_ROUNDS");
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : defaultRounds;
}

int SpawnQuiet(const std::vector<std::string>& argv, const std::string& cwd) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

long TimeWholeRepair(const RepairDatabase& db, const std::string& dir, ProcessResult* result) {
  db.CopyTo(dir);
  const auto start = std::chrono::steady_clock::now();
  *result = RunProcess({SCRUTOR_BIN, "*", "/A", "/F"}, dir, "", true);
  return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

}  // namespace reliability
