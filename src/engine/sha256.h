// SHA-256, used for the salted digest of a file's owner name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace engine {

std::array<uint8_t, 32> Sha256(const uint8_t* data, size_t size);

}  // namespace engine
