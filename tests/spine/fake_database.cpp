#include "fake_database.h"

#include <cstring>

#include "dictionary/dictionary.h"
#include "recmgr/recmgr.h"

namespace {

int SlotOf(const void* positionBlock) {
  for (int i = 0; i < SLOT_COUNT; i++)
    if (positionBlock == FileSlots[i].positionBlock) return i;
  return -1;
}

std::string Padded(const std::string& name) {
  std::string s = name.substr(0, NAME_WIDTH);
  s.resize(NAME_WIDTH, ' ');
  return s;
}

}  // namespace

FakeDatabase::FakeDatabase() {
  fake_.keyBytesToRecord = 64;
  fake_.dataBytesToRecord = 16;
  fake_.SetHandler([this](FakeCall& call) { return Answer(call); });
}

int FakeDatabase::FillFileRecord(FakeCall& call, size_t index) {
  cursor_ = index;
  memset(call.data, 0, FILE_RECORD_SIZE);
  call.data[FILE_TABLE_ID] = static_cast<uint8_t>(index + 1);
  std::string name = Padded(tables[index]);
  memcpy(call.data + FILE_TABLE_NAME, name.data(), NAME_WIDTH);
  std::string location = "data/" + tables[index] + ".dat";
  memcpy(call.data + FILE_LOCATION, location.data(), location.size());
  memcpy(call.key, name.data(), NAME_WIDTH);
  *call.dataLength = FILE_RECORD_SIZE;
  return 0;
}

int FakeDatabase::Answer(FakeCall& call) {
  int slot = SlotOf(call.positionBlock);
  slotOfCall_.push_back(slot);
  if (onCall) onCall(call.operation, slot);
  switch (call.operation) {
    case OP_OPEN: {
      std::string name(reinterpret_cast<const char*>(call.key));
      auto it = openStatus.find(name);
      if (it != openStatus.end()) return it->second;
      return name.ends_with(".DDF") ? 0 : STATUS_FILE_NOT_FOUND;
    }
    case OP_GET_FIRST:
      if (slot != SLOT_FILE || tables.empty()) return STATUS_END_OF_FILE;
      return FillFileRecord(call, 0);
    case OP_GET_NEXT:
      if (slot != SLOT_FILE || cursor_ + 1 >= tables.size()) return STATUS_END_OF_FILE;
      return FillFileRecord(call, cursor_ + 1);
    case OP_GET_EQUAL: {
      if (slot != SLOT_FILE) return STATUS_KEY_NOT_FOUND;
      if (getEqualStatus >= 0) return getEqualStatus;
      std::string key(reinterpret_cast<const char*>(call.key), NAME_WIDTH);
      for (size_t i = 0; i < tables.size(); i++)
        if (Padded(tables[i]) == key) return FillFileRecord(call, i);
      return STATUS_KEY_NOT_FOUND;
    }
    case OP_STAT:
      memset(call.data, 0, 16);  // a file with no keys
      *call.dataLength = 16;
      return 0;
    default:
      return 0;
  }
}

void FakeDatabase::ClearCalls() {
  fake_.ClearCalls();
  slotOfCall_.clear();
  cursor_ = 0;
}

std::vector<SlotCall> FakeDatabase::SlotCalls() const {
  std::vector<SlotCall> out;
  for (size_t i = 0; i < fake_.calls().size(); i++)
    out.push_back({slotOfCall_[i], fake_.calls()[i].operation});
  return out;
}

std::vector<std::string> FakeDatabase::OpenedNames() const {
  std::vector<std::string> names;
  for (const RecordedCall& c : fake_.calls())
    if (c.operation == OP_OPEN)
      names.emplace_back(reinterpret_cast<const char*>(c.keyBytes.data()));
  return names;
}

std::vector<SlotCall> DictionaryOpens() {
  return {{SLOT_FILE, OP_OPEN}, {SLOT_FIELD, OP_OPEN}, {SLOT_INDEX, OP_OPEN},
          {SLOT_ATTRIB, OP_OPEN}};
}

std::vector<SlotCall> DictionaryClosesAndReset() {
  return {{SLOT_FILE, OP_CLOSE},  {SLOT_FIELD, OP_CLOSE}, {SLOT_INDEX, OP_CLOSE},
          {SLOT_ATTRIB, OP_CLOSE}, {SLOT_FILE, OP_RESET}};
}
