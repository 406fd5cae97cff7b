#include "small_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/engine.h"

namespace {

constexpr uint16_t kDuplicates = 0x0001;
constexpr uint16_t kSegmented = 0x0010;
constexpr uint16_t kNoCase = 0x0400;
constexpr uint8_t kString = 0;
constexpr uint8_t kUnsigned = 14;

engine::SegmentDef Segment(uint16_t offset, uint16_t length, uint8_t type, uint16_t flags = 0) {
  engine::SegmentDef s;
  s.position = static_cast<uint16_t>(offset + 1);
  s.length = length;
  s.type = type;
  s.flags = flags;
  return s;
}

engine::KeyDef Key(uint8_t number, std::vector<engine::SegmentDef> segments) {
  for (size_t i = 0; i + 1 < segments.size(); ++i) segments[i].flags |= kSegmented;
  engine::KeyDef key;
  key.number = number;
  key.segments = std::move(segments);
  return key;
}

void Create(const std::string& path, uint16_t recordLength, std::vector<engine::KeyDef> keys,
            bool variable = false, uint16_t maxLength = 0) {
  engine::FileDef def;
  def.recordLength = recordLength;
  def.variable = variable;
  def.maxRecordLength = maxLength;
  def.keys = std::move(keys);
  std::string error;
  ASSERT_EQ(engine::CreateFile(path, def, &error), 0) << path << ": " << error;
}

}  // namespace

void WriteSmallDatabase(const std::string& dir, const std::vector<std::string>& tables) {
  Create(dir + "/FILE.DDF", 97,
         {Key(0, {Segment(0, 2, kUnsigned)}), Key(1, {Segment(2, 20, kString, kNoCase)})});
  Create(dir + "/FIELD.DDF", 32,
         {Key(0, {Segment(0, 2, kUnsigned)}), Key(1, {Segment(2, 2, kUnsigned, kDuplicates)}),
          Key(2, {Segment(4, 20, kString, kNoCase | kDuplicates)}),
          Key(3, {Segment(2, 2, kUnsigned, kDuplicates),
                  Segment(4, 20, kString, kNoCase | kDuplicates)}),
          Key(4, {Segment(2, 2, kUnsigned, kDuplicates), Segment(25, 2, kUnsigned, kDuplicates),
                  Segment(29, 1, kUnsigned, kDuplicates)})});
  Create(dir + "/INDEX.DDF", 10,
         {Key(0, {Segment(0, 2, kUnsigned, kDuplicates)}),
          Key(1, {Segment(2, 2, kUnsigned, kDuplicates)}),
          Key(2, {Segment(0, 2, kUnsigned), Segment(4, 2, kUnsigned), Segment(6, 2, kUnsigned)})});
  Create(dir + "/ATTRIB.DDF", 5, {Key(0, {Segment(0, 2, kUnsigned), Segment(2, 1, kString)})},
         true, 2053);

  uint8_t position[128] = {};
  char owner[16] = {};
  std::string path = dir + "/FILE.DDF";
  char name[512] = {};
  std::strncpy(name, path.c_str(), sizeof name - 1);
  uint32_t length = sizeof owner;
  ASSERT_EQ(engine::Entry(0, position, owner, &length, name, 255, 0), 0);
  for (size_t i = 0; i < tables.size(); i++) {
    uint8_t record[97] = {};
    record[0] = static_cast<uint8_t>((i + 1) & 0xFF);
    record[1] = static_cast<uint8_t>((i + 1) >> 8);
    std::memset(record + 2, ' ', 20);
    std::memcpy(record + 2, tables[i].data(), std::min<size_t>(tables[i].size(), 20));
    std::string location = tables[i] + ".DAT";
    std::memcpy(record + 22, location.data(), std::min<size_t>(location.size(), 64));
    uint8_t key[256] = {};
    length = sizeof record;
    ASSERT_EQ(engine::Entry(2, position, record, &length, key, 255, 0), 0) << tables[i];
  }
  length = 0;
  engine::Entry(1, position, nullptr, &length, nullptr, 255, 0);
}
