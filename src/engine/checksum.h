// CRC-32C (Castagnoli), the checksum of every block the engine writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

uint32_t Crc32c(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace engine
