// An in-memory FIELD.DDF, INDEX.DDF and ATTRIB.DDF answering the calls the
// checker makes through the scripted record manager: Get Greater or Equal and
// Get Next on FIELD.DDF key 4, Get Equal on INDEX.DDF key 2, and Get Equal,
// Delete and Insert on ATTRIB.DDF key 0. Failures can be injected.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fake_entry.h"

struct ColumnRow {
  uint16_t columnId;
  uint16_t tableId;
  std::string name;
  uint8_t dataType;
  uint16_t offset;
  uint16_t size;
  uint16_t flags = 0;
};

class DictionaryModel {
 public:
  // Installs this model as the fake's handler.
  explicit DictionaryModel(FakeRecordManager& fake);

  void AddColumn(const ColumnRow& row);
  void AddIndex(uint16_t tableId, uint16_t columnId, uint16_t keyNumber, uint16_t segment,
                uint16_t flags);
  void AddAttrib(uint16_t columnId, char type, const std::vector<uint8_t>& data);

  // The stored ATTRIB.DDF record for (column, type), or empty when absent.
  std::vector<uint8_t> Attrib(uint16_t columnId, char type) const;
  size_t AttribCount() const { return attribs_.size(); }

  // Non-zero: the status that the next such operations answer instead.
  int indexStatus = 0;
  int attribGetStatus = 0;
  int deleteStatus = 0;
  int insertStatus = 0;
  // Operations that reached ATTRIB.DDF.
  int deletes = 0;
  int inserts = 0;
  int indexLookups = 0;

 private:
  int Handle(FakeCall& call);
  int Field(FakeCall& call);
  int Index(FakeCall& call);
  int Attribute(FakeCall& call);

  // FIELD.DDF records in key-4 order; equal keys keep insertion order.
  std::vector<std::array<uint8_t, 32>> fields_;
  size_t fieldCursor_ = 0;
  static constexpr int kFieldCallLimit = 200000;
  int fieldCalls_ = 0;
  std::map<std::tuple<uint16_t, uint16_t, uint16_t>, std::array<uint8_t, 10>> indexes_;
  std::map<std::pair<uint16_t, uint8_t>, std::vector<uint8_t>> attribs_;
  bool attribCurrentValid_ = false;
  std::pair<uint16_t, uint8_t> attribCurrent_;
};

std::vector<uint8_t> HexBytes(const std::string& hex);
