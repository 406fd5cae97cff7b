#include "dictionary_model.h"

#include <algorithm>
#include <cstring>

#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"

namespace {
uint64_t Key4(const std::array<uint8_t, 32>& r) {
  return (uint64_t{LoadU16(r.data() + 2)} << 24) | (uint64_t{LoadU16(r.data() + 25)} << 8) |
         r[29];
}
uint64_t Key4(const uint8_t* k) {
  return (uint64_t{LoadU16(k)} << 24) | (uint64_t{LoadU16(k + 2)} << 8) | k[4];
}
}  // namespace

std::vector<uint8_t> HexBytes(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

DictionaryModel::DictionaryModel(FakeRecordManager& fake) {
  fake.SetHandler([this](FakeCall& call) { return Handle(call); });
}

void DictionaryModel::AddColumn(const ColumnRow& row) {
  std::array<uint8_t, 32> r{};
  StoreU16(r.data(), row.columnId);
  StoreU16(r.data() + 2, row.tableId);
  std::memset(r.data() + 4, ' ', 20);
  std::memcpy(r.data() + 4, row.name.data(), std::min<size_t>(row.name.size(), 20));
  r[24] = row.dataType;
  StoreU16(r.data() + 25, row.offset);
  StoreU16(r.data() + 27, row.size);
  StoreU16(r.data() + 30, row.flags);
  auto at = std::upper_bound(fields_.begin(), fields_.end(), r,
                             [](const auto& a, const auto& b) { return Key4(a) < Key4(b); });
  fields_.insert(at, r);
}

void DictionaryModel::AddIndex(uint16_t tableId, uint16_t columnId, uint16_t keyNumber,
                               uint16_t segment, uint16_t flags) {
  std::array<uint8_t, 10> r{};
  StoreU16(r.data(), tableId);
  StoreU16(r.data() + 2, columnId);
  StoreU16(r.data() + 4, keyNumber);
  StoreU16(r.data() + 6, segment);
  StoreU16(r.data() + 8, flags);
  indexes_[{tableId, keyNumber, segment}] = r;
}

void DictionaryModel::AddAttrib(uint16_t columnId, char type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> r(5);
  StoreU16(r.data(), columnId);
  r[2] = static_cast<uint8_t>(type);
  StoreU16(r.data() + 3, static_cast<uint16_t>(data.size()));
  r.insert(r.end(), data.begin(), data.end());
  attribs_[{columnId, static_cast<uint8_t>(type)}] = r;
}

std::vector<uint8_t> DictionaryModel::Attrib(uint16_t columnId, char type) const {
  auto it = attribs_.find({columnId, static_cast<uint8_t>(type)});
  return it == attribs_.end() ? std::vector<uint8_t>{} : it->second;
}

int DictionaryModel::Handle(FakeCall& call) {
  if (call.positionBlock == FileSlots[SLOT_FIELD].positionBlock) return Field(call);
  if (call.positionBlock == FileSlots[SLOT_INDEX].positionBlock) return Index(call);
  if (call.positionBlock == FileSlots[SLOT_ATTRIB].positionBlock) return Attribute(call);
  return 1;
}

int DictionaryModel::Field(FakeCall& call) {
  // A matcher that stops making progress would search for ever; answer with
  // an I/O error instead so that the test fails rather than hangs.
  if (++fieldCalls_ > kFieldCallLimit) return 2;
  size_t at;
  if (call.operation == OP_GET_GREATER_OR_EQUAL) {
    if (call.keyNumber != 4) return 6;
    const uint64_t key = Key4(call.key);
    at = static_cast<size_t>(
        std::partition_point(fields_.begin(), fields_.end(),
                             [&](const auto& r) { return Key4(r) < key; }) -
        fields_.begin());
  } else if (call.operation == OP_GET_NEXT) {
    at = fieldCursor_ + 1;
  } else {
    return 1;
  }
  if (at >= fields_.size()) return 9;
  if (*call.dataLength < 32) return 22;
  fieldCursor_ = at;
  std::memcpy(call.data, fields_[at].data(), 32);
  *call.dataLength = 32;
  StoreU16(call.key, LoadU16(fields_[at].data() + 2));
  StoreU16(call.key + 2, LoadU16(fields_[at].data() + 25));
  call.key[4] = fields_[at][29];
  return 0;
}

int DictionaryModel::Index(FakeCall& call) {
  if (call.operation != OP_GET_EQUAL || call.keyNumber != 2) return 1;
  ++indexLookups;
  if (indexStatus != 0) return indexStatus;
  auto it = indexes_.find({LoadU16(call.key), LoadU16(call.key + 2), LoadU16(call.key + 4)});
  if (it == indexes_.end()) return 4;
  if (*call.dataLength < 10) return 22;
  std::memcpy(call.data, it->second.data(), 10);
  *call.dataLength = 10;
  return 0;
}

int DictionaryModel::Attribute(FakeCall& call) {
  switch (call.operation) {
    case OP_GET_EQUAL: {
      if (call.keyNumber != 0) return 6;
      if (attribGetStatus != 0) return attribGetStatus;
      auto it = attribs_.find({LoadU16(call.key), call.key[2]});
      if (it == attribs_.end()) return 4;
      if (*call.dataLength < it->second.size()) return 22;
      std::memcpy(call.data, it->second.data(), it->second.size());
      *call.dataLength = static_cast<uint32_t>(it->second.size());
      attribCurrent_ = it->first;
      attribCurrentValid_ = true;
      return 0;
    }
    case OP_DELETE:
      ++deletes;
      if (deleteStatus != 0) return deleteStatus;
      if (!attribCurrentValid_) return 8;
      attribs_.erase(attribCurrent_);
      attribCurrentValid_ = false;
      return 0;
    case OP_INSERT: {
      ++inserts;
      if (insertStatus != 0) return insertStatus;
      if (*call.dataLength < 5 || *call.dataLength > 2053) return 21;
      std::pair<uint16_t, uint8_t> key{LoadU16(call.data), call.data[2]};
      if (attribs_.count(key) != 0) return 5;
      attribs_[key].assign(call.data, call.data + *call.dataLength);
      return 0;
    }
    default:
      return 1;
  }
}
