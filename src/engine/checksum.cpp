#include "engine/checksum.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <nmmintrin.h>
#define ENGINE_CRC_INSTRUCTION 1
#endif

namespace engine {
namespace {

// Slicing-by-8: table t[j][b] is the CRC of byte b followed by j zero
// bytes, so eight input bytes are folded in with eight lookups and no
// dependency between them. About five times the speed of one lookup per
// byte; dictionaries are checked entry by entry when they are loaded.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (size_t j = 1; j < 8; ++j) t[j][i] = (t[j - 1][i] >> 8) ^ t[0][t[j - 1][i] & 0xFF];
  return t;
}

constexpr Tables kTables = MakeTables();

#ifdef ENGINE_CRC_INSTRUCTION
// SSE4.2's crc32 instruction computes CRC-32C eight bytes at a time, about
// six times the speed of the tables; loading a large dictionary checks every
// byte of it.
__attribute__((target("sse4.2"))) uint32_t Crc32cInstruction(const uint8_t* data, size_t size,
                                                             uint32_t crc) {
  uint64_t c = ~crc;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t v;
    std::memcpy(&v, data + i, 8);
    c = _mm_crc32_u64(c, v);
  }
  uint32_t c32 = static_cast<uint32_t>(c);
  for (; i < size; ++i) c32 = _mm_crc32_u8(c32, data[i]);
  return ~c32;
}

bool HasCrcInstruction() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}
#endif

}  // namespace

uint32_t Crc32c(const uint8_t* data, size_t size, uint32_t crc) {
#ifdef ENGINE_CRC_INSTRUCTION
  if (HasCrcInstruction()) return Crc32cInstruction(data, size, crc);
#endif
  return Crc32cPortable(data, size, crc);
}

uint32_t Crc32cPortable(const uint8_t* data, size_t size, uint32_t crc) {
  crc = ~crc;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    // The low four bytes, little-endian, combined with the running CRC.
    uint32_t lo = crc ^ (uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 |
                         uint32_t{data[i + 2]} << 16 | uint32_t{data[i + 3]} << 24);
    crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
          kTables[4][lo >> 24] ^ kTables[3][data[i + 4]] ^ kTables[2][data[i + 5]] ^
          kTables[1][data[i + 6]] ^ kTables[0][data[i + 7]];
  }
  for (; i < size; ++i) crc = kTables[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace engine
