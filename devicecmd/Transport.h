#pragma once
// One command, described once in ATA register terms, carried to a drive over any of
// the six pass-through paths. Every operation returns nonzero on success and 0 on
// failure. A failed system call leaves its own last error; where every call succeeded
// but the reply fell short (13) or the drive or driver refused the command (1117), the
// operation sets one, so that a failure never comes with the code of an unrelated call.

#include <array>
#include <cstdint>

#include "platform/DeviceIo.h"

namespace devicecmd {

// Low byte of the transport word: the path to the drive.
enum TransportCode : std::uint8_t {
    TransportSat = 0,           // ATA command inside a 16-byte ATA PASS-THROUGH CDB
    TransportAta = 1,           // platform ATA pass-through
    TransportNvmeInbox = 2,     // inbox NVMe driver: protocol command
    TransportNvmeMiniport = 3,  // "NvmeMini" miniport pass-through
    TransportUsbBridge = 4,     // USB-to-NVMe bridge: vendor CDB 0xA1
    TransportIntelRst = 5,      // Intel RST's "IntelNvm" pass-through at the disk's SCSI port
};

enum Direction : std::uint8_t {
    DirectionNone = 0,
    DirectionWrite = 1,  // host to device
    DirectionRead = 2,   // device to host
};

// Low byte: transport code; second byte: vendor layout code. For Intel RST, bit 16 says
// that bytes 4 to 7 hold the drive's SCSI address (port, PathId, TargetId, Lun), read once
// when the drive was identified (WithRstAddress). Other bits unused.
using TransportWord = std::uint64_t;

constexpr TransportWord MakeTransport(std::uint8_t code, std::uint8_t vendorLayout = 0) {
    return static_cast<TransportWord>(code) | (static_cast<TransportWord>(vendorLayout) << 8);
}
constexpr std::uint8_t TransportCodeOf(TransportWord word) { return static_cast<std::uint8_t>(word & 0xFF); }
constexpr std::uint8_t VendorLayoutOf(TransportWord word) { return static_cast<std::uint8_t>((word >> 8) & 0xFF); }

// The vendor layout of the served controller family.
constexpr std::uint8_t VendorLayout7305 = 5;

constexpr std::size_t NvmeCommandSize = 64;
constexpr std::size_t BridgeBlockSize = 512;
constexpr std::size_t CompletionEntrySize = 16;

// The 64-byte NVMe submission entry: sixteen little-endian dwords.
struct NvmeCommand {
    std::array<std::uint32_t, 16> dword{};

    std::array<std::uint8_t, NvmeCommandSize> Bytes() const;
    static NvmeCommand FromBytes(const std::uint8_t* bytes);  // reads 64 bytes
};

// An admin command with namespace 0: opcode in dword 0, then dwords 10, 14 and 15.
NvmeCommand BuildNvmeCommand(std::uint8_t opcode, std::uint32_t dword10, std::uint32_t dword14,
                             std::uint32_t dword15);

int SendDeviceCommand(platform::Device device, TransportWord transport, std::uint8_t opcode,
                      std::uint16_t subcode, std::uint32_t address, std::uint8_t* buffer,
                      std::uint16_t sectors, std::uint8_t direction, std::uint16_t features,
                      std::uint8_t ataDevice, std::uint8_t timeout, std::uint32_t attempts);

// Inbox NVMe driver. command: commandLength bytes (64 for every caller); length: data bytes.
int SendStorageProtocolCommand(platform::Device device, const std::uint8_t* command,
                               std::uint8_t commandLength, std::uint8_t* buffer, std::uint32_t length,
                               std::uint8_t direction, std::uint32_t queue, std::uint32_t timeout,
                               std::uint32_t attempts);

// Protocol-specific property query; copies the returned data into out.
int QueryProtocolSpecificProperty(platform::Device device, std::uint8_t* out, std::uint32_t length,
                                  std::uint32_t dataType, std::uint32_t propertyId,
                                  std::uint32_t requestValue, std::uint32_t requestSubValue);

// "NvmeMini" miniport. completion: optional 16-byte out area for the completion entry.
int SendMiniportNvmeCommand(platform::Device device, const std::uint8_t* command,
                            std::uint8_t commandLength, std::uint8_t* buffer, std::uint32_t length,
                            std::uint8_t direction, std::uint32_t queue, std::uint32_t timeout,
                            std::uint32_t attempts, std::uint8_t* completion);

// The 512-byte "NVME" block of the bridge's command phase.
std::array<std::uint8_t, BridgeBlockSize> BuildBridgeBlock(const NvmeCommand& command);

// USB-to-NVMe bridge: command block out, data phase, response block in.
// result: optional out area for completion dword 0.
int SendBridgeNvmeCommand(platform::Device device, const std::uint8_t* block, std::uint8_t* buffer,
                          std::uint32_t length, std::uint8_t direction, std::uint8_t admin,
                          std::uint8_t timeout, std::uint32_t attempts, std::uint32_t* result);

}  // namespace devicecmd
