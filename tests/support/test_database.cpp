#include "test_database.h"

#include <gtest/gtest.h>

#include <cstring>

#include "recmgr/bytes.h"

namespace {

constexpr uint16_t kDup = 0x0001;
constexpr uint16_t kSeg = 0x0010;
constexpr uint16_t kNoCase = 0x0400;
constexpr uint8_t kString = 0;
constexpr uint8_t kUnsigned = 14;

engine::SegmentDef Seg(uint16_t offset, uint16_t length, uint8_t type, uint16_t flags = 0) {
  engine::SegmentDef s;
  s.position = static_cast<uint16_t>(offset + 1);
  s.length = length;
  s.type = type;
  s.flags = flags;
  return s;
}

engine::KeyDef Key(uint8_t number, std::vector<engine::SegmentDef> segments) {
  for (size_t i = 0; i + 1 < segments.size(); ++i) segments[i].flags |= kSeg;
  engine::KeyDef key;
  key.number = number;
  key.segments = std::move(segments);
  return key;
}

void Create(const std::string& path, engine::FileDef def) {
  std::string error;
  ASSERT_EQ(engine::CreateFile(path, def, &error), 0) << path << ": " << error;
}

// Inserts the records through the engine's entry, as any client would.
void InsertAll(const std::string& path, const std::optional<std::string>& owner,
               const std::vector<std::vector<uint8_t>>& records) {
  uint8_t position[128] = {};
  char ownerBuf[256] = {};
  if (owner) std::strncpy(ownerBuf, owner->c_str(), sizeof ownerBuf - 1);
  char name[512] = {};
  std::strncpy(name, path.c_str(), sizeof name - 1);
  uint32_t length = sizeof ownerBuf;
  ASSERT_EQ(engine::Entry(0, position, ownerBuf, &length, name, 255, 0), 0) << path;
  for (const auto& record : records) {
    std::vector<uint8_t> data = record;
    uint8_t key[256] = {};
    length = static_cast<uint32_t>(data.size());
    EXPECT_EQ(engine::Entry(2, position, data.data(), &length, key, 255, 0), 0) << path;
  }
  length = 0;
  engine::Entry(1, position, nullptr, &length, nullptr, 255, 0);
}

void PutText(uint8_t* at, const std::string& text, size_t width) {
  std::memset(at, ' ', width);
  std::memcpy(at, text.data(), std::min(text.size(), width));
}

}  // namespace

void TestDatabase::WriteDictionaries() const {
  engine::FileDef file;
  file.recordLength = 97;
  file.keys = {Key(0, {Seg(0, 2, kUnsigned)}), Key(1, {Seg(2, 20, kString, kNoCase)})};
  file.owner = owner_;

  engine::FileDef field;
  field.recordLength = 32;
  field.keys = {Key(0, {Seg(0, 2, kUnsigned)}),
                Key(1, {Seg(2, 2, kUnsigned, kDup)}),
                Key(2, {Seg(4, 20, kString, kNoCase | kDup)}),
                Key(3, {Seg(2, 2, kUnsigned, kDup), Seg(4, 20, kString, kNoCase | kDup)}),
                Key(4, {Seg(2, 2, kUnsigned, kDup), Seg(25, 2, kUnsigned, kDup),
                        Seg(29, 1, kUnsigned, kDup)})};
  field.owner = owner_;

  engine::FileDef index;
  index.recordLength = 10;
  index.keys = {Key(0, {Seg(0, 2, kUnsigned, kDup)}), Key(1, {Seg(2, 2, kUnsigned, kDup)}),
                Key(2, {Seg(0, 2, kUnsigned), Seg(4, 2, kUnsigned), Seg(6, 2, kUnsigned)})};
  index.owner = owner_;

  engine::FileDef attrib;
  attrib.recordLength = 5;
  attrib.variable = true;
  attrib.maxRecordLength = 2053;
  attrib.keys = {Key(0, {Seg(0, 2, kUnsigned), Seg(2, 1, kString)})};
  attrib.owner = owner_;

  Create(PathOf("FILE.DDF"), file);
  Create(PathOf("FIELD.DDF"), field);
  Create(PathOf("INDEX.DDF"), index);
  Create(PathOf("ATTRIB.DDF"), attrib);

  std::vector<std::vector<uint8_t>> rows;
  for (const TableRow& t : tables) {
    std::vector<uint8_t> r(97, 0);
    StoreU16(r.data(), t.id);
    PutText(r.data() + 2, t.name, 20);
    PutText(r.data() + 22, t.location, 64);
    rows.push_back(r);
  }
  InsertAll(PathOf("FILE.DDF"), owner_, rows);

  rows.clear();
  for (const FieldRow& f : fields) {
    std::vector<uint8_t> r(32, 0);
    StoreU16(r.data(), f.id);
    StoreU16(r.data() + 2, f.table);
    PutText(r.data() + 4, f.name, 20);
    r[24] = f.type;
    StoreU16(r.data() + 25, f.offset);
    StoreU16(r.data() + 27, f.size);
    StoreU16(r.data() + 30, f.flags);
    rows.push_back(r);
  }
  InsertAll(PathOf("FIELD.DDF"), owner_, rows);

  rows.clear();
  for (const IndexRow& x : indexes) {
    std::vector<uint8_t> r(10, 0);
    StoreU16(r.data(), x.table);
    StoreU16(r.data() + 2, x.field);
    StoreU16(r.data() + 4, x.number);
    StoreU16(r.data() + 6, x.part);
    StoreU16(r.data() + 8, x.flags);
    rows.push_back(r);
  }
  InsertAll(PathOf("INDEX.DDF"), owner_, rows);
}

void TestDatabase::WriteDataFile(const std::string& path,
                                 const std::vector<std::vector<engine::SegmentDef>>& keys,
                                 std::optional<std::string> owner, uint16_t recordLength) const {
  engine::FileDef def;
  def.recordLength = recordLength;
  for (size_t k = 0; k < keys.size(); ++k) def.keys.push_back(Key(static_cast<uint8_t>(k), keys[k]));
  def.owner = std::move(owner);
  Create(PathOf(path), def);
}
