// CRC-32C (Castagnoli), the checksum of every block the engine writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// By the processor's CRC-32C instruction where it has one, else by tables.
uint32_t Crc32c(const uint8_t* data, size_t size, uint32_t crc = 0);
// Always by tables (tests compare the two).
uint32_t Crc32cPortable(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace engine
