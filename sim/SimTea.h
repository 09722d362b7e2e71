#pragma once
// TEA encipherment, as the drive's firmware applies it to its vendor identify record.

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

using TeaKey = std::array<std::uint8_t, 16>;

// Enciphers the whole 8-byte blocks of data in place (words little-endian).
void TeaEncipherBlocks(std::uint8_t* data, std::size_t length, const TeaKey& key);

}  // namespace sim
