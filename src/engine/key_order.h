// Key values and their order. A key value is the concatenation of the key's
// segments cut from the record; two values compare segment by segment, each
// by its extended type, case folding, collating sequence and direction.
#pragma once

#include <cstdint>
#include <string>

#include "engine/format.h"

namespace engine {

// The value of key k of a record (the record holds at least the fixed part).
std::string ExtractKey(const FileMeta& meta, size_t k, const uint8_t* record);

// <0, 0, >0 as a orders before, with or after b in key k (both key.length bytes).
int CompareKeys(const FileMeta& meta, size_t k, const uint8_t* a, const uint8_t* b);

// Normalized key values: byte strings that memcmp orders exactly as
// CompareKeys orders the values they come from, and equal exactly when the
// values compare equal. Indexes keep these, so searching and sorting are
// plain byte comparisons whatever the key's types, flags and sequences.
size_t NormalizedWidth(const FileMeta& meta, size_t k);
// From a key value (key.length bytes) into out (NormalizedWidth bytes).
void NormalizeKey(const FileMeta& meta, size_t k, const uint8_t* keyValue, uint8_t* out);
// From a record (at least its fixed part) into out.
void NormalizeRecordKey(const FileMeta& meta, size_t k, const uint8_t* record, uint8_t* out);

}  // namespace engine
