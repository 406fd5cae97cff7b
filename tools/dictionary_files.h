// The four dictionary files as the builder writes them: names, record
// layouts (byte offsets) and key definitions.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace scrutordb {

enum DictionaryKind { kFileDdf, kFieldDdf, kIndexDdf, kAttribDdf, kDictionaryCount };

// Bare file names, in the order the builder writes them.
extern const char* const kDictionaryNames[kDictionaryCount];

// FILE.DDF, 97 bytes: tableId, tableName, location, flags; the rest zero.
namespace file_ddf {
constexpr int kSize = 97, kId = 0, kName = 2, kNameSize = 20, kLocation = 22,
              kLocationSize = 64, kFlags = 86;
}
// FIELD.DDF, 32 bytes.
namespace field_ddf {
constexpr int kSize = 32, kId = 0, kTable = 2, kName = 4, kNameSize = 20, kType = 24,
              kOffset = 25, kFieldSize = 27, kDec = 29, kFlags = 30;
}
// INDEX.DDF, 10 bytes.
namespace index_ddf {
constexpr int kSize = 10, kTable = 0, kField = 2, kNumber = 4, kPart = 6, kFlags = 8;
}
// ATTRIB.DDF: a 5-byte fixed part and up to 2048 bytes of data.
namespace attrib_ddf {
constexpr int kFixed = 5, kMaxData = 2048, kField = 0, kType = 2, kDataSize = 3, kData = 5;
}

// The file definition (record length, keys) of one dictionary file.
engine::FileDef DictionaryDef(DictionaryKind kind);

}  // namespace scrutordb
