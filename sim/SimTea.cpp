#include "sim/SimTea.h"

#include "sim/SimBytes.h"

namespace sim {

void TeaEncipherBlocks(std::uint8_t* data, std::size_t length, const TeaKey& key) {
    constexpr std::uint32_t delta = 0x9E3779B9;
    const std::uint32_t k0 = Get32(&key[0]), k1 = Get32(&key[4]), k2 = Get32(&key[8]), k3 = Get32(&key[12]);
    for (std::size_t block = 0; block + 8 <= length; block += 8) {
        std::uint32_t y = Get32(data + block), z = Get32(data + block + 4), sum = 0;
        for (int cycle = 0; cycle < 32; ++cycle) {
            sum += delta;
            y += ((z << 4) + k0) ^ (z + sum) ^ ((z >> 5) + k1);
            z += ((y << 4) + k2) ^ (y + sum) ^ ((y >> 5) + k3);
        }
        Put32(data + block, y);
        Put32(data + block + 4, z);
    }
}

}  // namespace sim
