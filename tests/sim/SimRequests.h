#pragma once
// Requests built by hand for the simulator's own tests, independent of the device layer.

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/SimBytes.h"
#include "sim/SimMachine.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

inline platform::Handle OpenReadWrite(sim::SimMachine& machine, const std::wstring& path) {
    return machine.Open(path, platform::AccessRead | platform::AccessWrite, platform::ShareRead | platform::ShareWrite,
                        platform::OpenExisting, platform::AttributeNormal);
}

// SCSI_PASS_THROUGH(_DIRECT) and ATA_PASS_THROUGH_DIRECT as a process of each width
// lays them out, written out from the system's definitions.
struct PassThroughOffsets {
    std::uint32_t sptSize, sptDataBuffer, sptSenseOffset, sptCdb;
    std::uint32_t aptSize, aptDataBuffer, aptPreviousTaskFile, aptCurrentTaskFile;
};
constexpr PassThroughOffsets Offsets32 = {44, 20, 24, 28, 40, 20, 24, 32};
constexpr PassThroughOffsets Offsets64 = {56, 24, 32, 36, 48, 24, 32, 40};
constexpr PassThroughOffsets Here = sizeof(void*) == 8 ? Offsets64 : Offsets32;

inline void PutAddress(std::uint8_t* at, const void* address) {
    const auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(address));
    for (std::size_t i = 0; i < sizeof(void*); ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A SCSI_PASS_THROUGH of this process's width, 4 bytes after it the sense area, and 32
// bytes further the data.
struct ScsiRequest {
    static constexpr std::uint32_t SenseAt = Here.sptSize + 4;
    static constexpr std::uint32_t DataAt = SenseAt + 32;

    Bytes buffer;
    std::uint32_t outSize = 0;

    ScsiRequest(const std::vector<std::uint8_t>& cdb, bool dataIn, std::uint32_t length, const Bytes& dataOut = {})
        : buffer(DataAt + length, 0), outSize(DataAt + length) {
        sim::Put16(&buffer[0], static_cast<std::uint16_t>(Here.sptSize));
        buffer[6] = static_cast<std::uint8_t>(cdb.size());
        buffer[7] = 24;
        buffer[8] = dataIn ? 1 : 0;
        sim::Put32(&buffer[12], length);
        sim::Put32(&buffer[16], 10);
        sim::Put32(&buffer[Here.sptDataBuffer], DataAt);  // the upper half of a 64-bit offset stays 0
        sim::Put32(&buffer[Here.sptSenseOffset], SenseAt);
        std::memcpy(&buffer[Here.sptCdb], cdb.data(), cdb.size());
        if (!dataOut.empty()) std::memcpy(&buffer[DataAt], dataOut.data(), dataOut.size());
    }
    bool Send(sim::SimMachine& machine, platform::Handle handle) {
        std::uint32_t returned = 0;
        return machine.IoControl(handle, sim::IoctlScsiPassThrough, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                 buffer.data(), outSize, &returned);
    }
    std::uint32_t Sense() const {
        return (std::uint32_t{buffer[SenseAt + 2] & 0x0Fu} << 16) | (buffer[SenseAt + 12] << 8) | buffer[SenseAt + 13];
    }
    const std::uint8_t* Data() const { return &buffer[DataAt]; }
};

inline std::vector<std::uint8_t> BridgeCdb(std::uint8_t phase, std::uint32_t length) {
    return {0xA1, static_cast<std::uint8_t>(0x80 | phase), 0, static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0, 0, 0, 0, 0, 0};
}

inline Bytes BridgeBlock(std::uint8_t opcode, std::uint32_t dword10, std::uint32_t dword15) {
    Bytes block(512, 0);
    sim::Put32(&block[0], 0x454D564E);
    sim::Put32(&block[8], opcode);
    sim::Put32(&block[48], dword10);
    sim::Put32(&block[68], dword15);
    return block;
}

inline Bytes StatePayload(std::uint8_t state, std::uint32_t signature = 0x55AA55AA) {
    Bytes payload(512, 0);
    sim::Put32(&payload[0], signature);
    payload[4] = state;
    return payload;
}

// Standard TEA decipherment, for checking what the firmware enciphered.
inline void TeaDecipher(std::uint8_t* data, std::size_t length, const std::array<std::uint8_t, 16>& key) {
    const std::uint32_t k0 = sim::Get32(&key[0]), k1 = sim::Get32(&key[4]), k2 = sim::Get32(&key[8]),
                        k3 = sim::Get32(&key[12]);
    for (std::size_t b = 0; b + 8 <= length; b += 8) {
        std::uint32_t y = sim::Get32(data + b), z = sim::Get32(data + b + 4), sum = 0xC6EF3720;
        for (int i = 0; i < 32; ++i) {
            z -= ((y << 4) + k2) ^ (y + sum) ^ ((y >> 5) + k3);
            y -= ((z << 4) + k0) ^ (z + sum) ^ ((z >> 5) + k1);
            sum -= 0x9E3779B9;
        }
        sim::Put32(data + b, y);
        sim::Put32(data + b + 4, z);
    }
}

}  // namespace simtest
