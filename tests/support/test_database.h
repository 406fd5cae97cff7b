// Test databases for the end-to-end tests, written straight through the
// embedded record manager: the four dictionary files with their keys, their
// rows, and data files with given key definitions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

struct TableRow {
  uint16_t id;
  std::string name;
  std::string location;  // blank-padded to 64 bytes; longer is cut
};

struct FieldRow {
  uint16_t id;
  uint16_t table;
  std::string name;
  uint8_t type;
  uint16_t offset;
  uint16_t size;
  uint16_t flags = 0;
};

struct IndexRow {
  uint16_t table;
  uint16_t field;
  uint16_t number;
  uint16_t part;
  uint16_t flags = 0;
};

class TestDatabase {
 public:
  explicit TestDatabase(std::string dir, std::optional<std::string> owner = std::nullopt)
      : dir_(std::move(dir)), owner_(std::move(owner)) {}

  std::vector<TableRow> tables;
  std::vector<FieldRow> fields;
  std::vector<IndexRow> indexes;

  // Creates the four dictionary files in the directory and inserts the rows.
  void WriteDictionaries() const;

  // Creates a data file (path relative to the directory) with one-byte-wide
  // keys as given; each inner vector holds one key's segments, and the
  // segmented flag is set on every segment but a key's last.
  void WriteDataFile(const std::string& path, const std::vector<std::vector<engine::SegmentDef>>& keys,
                     std::optional<std::string> owner = std::nullopt, uint16_t recordLength = 64) const;

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
  std::optional<std::string> owner_;
};
