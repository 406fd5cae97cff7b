// A database description, read from JSON and checked, ready to be written:
// every dictionary row already encoded as its record's bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dictionary_files.h"
#include "hex.h"

namespace scrutordb {

// One record to insert, with the JSON place it came from (for messages).
struct PlacedRecord {
  std::string place;
  Bytes bytes;
};

struct DataFile {
  std::string place;  // "files[2]"
  std::string path;   // relative, '/'-separated, normalized
  engine::FileDef def;
  std::vector<PlacedRecord> records;
};

struct Description {
  std::optional<std::string> owner;
  std::vector<PlacedRecord> rows[kDictionaryCount];
  std::vector<DataFile> files;
};

// Checks a parsed JSON description and encodes it. On failure returns false
// and *error is one line "<place>: <what is wrong>".
bool ReadDescription(const nlohmann::json& json, Description* out, std::string* error);

// A data file's path as build and export read it: relative, without "..",
// backslashes read as separators. Returns it '/'-separated, or an empty
// string with *why set.
std::string NormalizeRelativePath(const std::string& path, std::string* why);

}  // namespace scrutordb
