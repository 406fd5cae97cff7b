// Helpers shared by the scrutor-db tests: running the program, writing
// descriptions, listing what a folder holds.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_process.h"

inline ProcessResult RunDb(std::vector<std::string> args, const std::string& stdinData = "") {
  args.insert(args.begin(), SCRUTOR_DB_BIN);
  return RunProcess(args, "", stdinData, stdinData.empty());
}

inline std::string SamplePath() {
  return std::string(SCRUTOR_SOURCE_DIR) + "/examples/sample/database.json";
}

// Every file and folder under dir, as paths relative to it.
inline std::set<std::string> ListTree(const std::string& dir) {
  std::set<std::string> names;
  if (!std::filesystem::exists(dir)) return names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    names.insert(std::filesystem::relative(e.path(), dir).string());
  return names;
}

// A small valid description: one table with two columns and a data file.
inline nlohmann::json SmallDescription() {
  return nlohmann::json::parse(R"({
    "tables": [{"id": 1, "name": "Part", "location": "PART.DAT"}],
    "fields": [
      {"id": 10, "table": 1, "name": "PartNo", "type": 14, "offset": 0, "size": 4},
      {"id": 11, "table": 1, "name": "Name", "type": 0, "offset": 4, "size": 12, "flags": 1}
    ],
    "indexes": [
      {"table": 1, "field": 10, "number": 0, "part": 0},
      {"table": 1, "field": 11, "number": 1, "part": 0, "flags": "0x0023"}
    ],
    "attributes": [],
    "files": [{
      "path": "PART.DAT", "record_length": 16,
      "keys": [
        {"segments": [{"position": 1, "length": 4, "type": 14}]},
        {"segments": [{"position": 5, "length": 12, "flags": "0x0403"}]}
      ],
      "records": ["0100000042414C4C2020202020202020", "02000000424F4C542020202020202020"]
    }]
  })");
}
