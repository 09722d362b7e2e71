#pragma once
// What a drive says about itself, and whether it carries the served controller.

#include <cstddef>
#include <cstdint>

#include "devicecmd/Transport.h"

namespace devicecmd {

constexpr std::size_t IdentifyDataSize = 4096;       // NVMe identify data
constexpr std::size_t AtaIdentifyDataSize = 512;     // ATA IDENTIFY DEVICE data
constexpr std::size_t VendorIdentifySize = 512;      // vendor identify record
constexpr std::size_t TeaKeySize = 16;

// buffer receives 4096 bytes on the NVMe transports (512 on the ATA ones); may be null.
int IdentifyDevice(platform::Device device, TransportWord transport, std::uint8_t* buffer,
                   std::uint8_t cns, std::uint32_t nsid);

// Reads the vendor identify record, copies length bytes into buffer and deciphers the
// enciphered ranges there.
int ReadVendorIdentify(platform::Device device, TransportWord transport, std::uint8_t* buffer,
                       std::uint32_t length);

// Standard TEA decipherment, in place, of the whole 8-byte blocks of data.
void TeaDecipherBlocks(std::uint8_t* data, std::size_t length, const std::uint8_t* key);

// 1 when the drive carries the served controller; then optimizeState holds the drive's
// optimize state (0xFF when it could not be read). On 0 optimizeState is untouched.
int DetectController(platform::Device device, TransportWord transport, std::uint8_t& optimizeState);

}  // namespace devicecmd
