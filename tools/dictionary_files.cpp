#include "dictionary_files.h"

namespace scrutordb {

const char* const kDictionaryNames[kDictionaryCount] = {"FILE.DDF", "FIELD.DDF", "INDEX.DDF",
                                                        "ATTRIB.DDF"};

namespace {

constexpr uint16_t kDuplicates = 0x0001;
constexpr uint16_t kModifiable = 0x0002;
constexpr uint16_t kSegmented = 0x0010;
constexpr uint16_t kExtendedType = 0x0100;
constexpr uint16_t kCaseInsensitive = 0x0400;
constexpr uint8_t kString = 0;
constexpr uint8_t kUnsigned = 14;

struct Seg {
  int offset;  // 0-based
  int length;
  uint8_t type;
  bool caseInsensitive;
};

// A key over the given segments; 0x0010 on every segment but the last.
engine::KeyDef Key(uint8_t number, bool duplicates, std::initializer_list<Seg> segs) {
  engine::KeyDef key;
  key.number = number;
  size_t i = 0;
  for (const Seg& s : segs) {
    engine::SegmentDef seg;
    seg.position = static_cast<uint16_t>(s.offset + 1);
    seg.length = static_cast<uint16_t>(s.length);
    seg.type = s.type;
    seg.flags = kModifiable | kExtendedType;
    if (duplicates) seg.flags |= kDuplicates;
    if (s.caseInsensitive) seg.flags |= kCaseInsensitive;
    if (++i < segs.size()) seg.flags |= kSegmented;
    key.segments.push_back(seg);
  }
  return key;
}

}  // namespace

engine::FileDef DictionaryDef(DictionaryKind kind) {
  engine::FileDef def;
  const Seg tableId{0, 2, kUnsigned, false};
  switch (kind) {
    case kFileDdf:
      def.recordLength = file_ddf::kSize;
      def.keys = {Key(0, false, {tableId}),
                  Key(1, false, {{file_ddf::kName, file_ddf::kNameSize, kString, true}})};
      break;
    case kFieldDdf: {
      const Seg fieldTable{field_ddf::kTable, 2, kUnsigned, false};
      const Seg name{field_ddf::kName, field_ddf::kNameSize, kString, true};
      def.recordLength = field_ddf::kSize;
      def.keys = {Key(0, false, {{field_ddf::kId, 2, kUnsigned, false}}),
                  Key(1, true, {fieldTable}),
                  Key(2, true, {name}),
                  Key(3, true, {fieldTable, name}),
                  Key(4, true, {fieldTable, {field_ddf::kOffset, 2, kUnsigned, false},
                                {field_ddf::kDec, 1, kUnsigned, false}})};
      break;
    }
    case kIndexDdf:
      def.recordLength = index_ddf::kSize;
      def.keys = {Key(0, true, {tableId}),
                  Key(1, true, {{index_ddf::kField, 2, kUnsigned, false}}),
                  Key(2, false, {tableId, {index_ddf::kNumber, 2, kUnsigned, false},
                                 {index_ddf::kPart, 2, kUnsigned, false}})};
      break;
    case kAttribDdf:
      def.recordLength = attrib_ddf::kFixed;
      def.variable = true;
      def.maxRecordLength = attrib_ddf::kFixed + attrib_ddf::kMaxData;
      def.keys = {Key(0, false, {{attrib_ddf::kField, 2, kUnsigned, false},
                                 {attrib_ddf::kType, 1, kString, false}})};
      break;
    default:
      break;
  }
  return def;
}

}  // namespace scrutordb
