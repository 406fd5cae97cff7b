// Hex strings for record and collating-sequence bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scrutordb {

using Bytes = std::vector<uint8_t>;

// Upper-case hex, two digits per byte.
std::string ToHex(const uint8_t* data, size_t size);
inline std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }

// Parses hex digits (either case). On failure returns false and *error says
// what is wrong, without the place.
bool FromHex(const std::string& text, Bytes* out, std::string* error);

// Whether the bytes are well-formed UTF-8 (JSON strings must be).
bool IsUtf8(const uint8_t* data, size_t size);

}  // namespace scrutordb
