// TEA against known-answer vectors from the separate reference (tools/tea_reference.py):
// the device layer's decipherment, and the simulated firmware's encipherment.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "devicecmd/Detect.h"
#include "sim/SimTea.h"

namespace {

struct TeaVector {
    const char* what;
    std::array<std::uint8_t, 16> key;
    std::vector<std::uint8_t> clear;
    std::vector<std::uint8_t> enciphered;
};

const TeaVector Vectors[] = {
#include "tests/tea/TeaVectors.inc"
};

TEST(TeaTest, DeviceLayerDeciphersTheReferenceVectors) {
    for (const auto& vector : Vectors) {
        SCOPED_TRACE(vector.what);
        std::vector<std::uint8_t> data = vector.enciphered;
        devicecmd::TeaDecipherBlocks(data.data(), data.size(), vector.key.data());
        EXPECT_EQ(data, vector.clear);
    }
}

TEST(TeaTest, SimulatedFirmwareEnciphersLikeTheReference) {
    for (const auto& vector : Vectors) {
        SCOPED_TRACE(vector.what);
        std::vector<std::uint8_t> data = vector.clear;
        sim::TeaEncipherBlocks(data.data(), data.size(), vector.key);
        EXPECT_EQ(data, vector.enciphered);
    }
}

}  // namespace
