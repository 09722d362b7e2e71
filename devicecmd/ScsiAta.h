#pragma once
// SCSI pass-through (buffered and direct) with the sense-code test, and ATA commands
// through SAT or the platform's ATA pass-through.

#include <array>
#include <cstdint>

#include "platform/DeviceIo.h"

namespace devicecmd {

// Transfers above this many bytes go through the direct request.
constexpr std::uint32_t BufferedTransferLimit = 65536;

// Data-out and data-in forms; cdbLength and timeout are one byte; attempts 0 counts as 1.
int ScsiPassThroughOut(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       const std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                       std::uint32_t attempts);
int ScsiPassThroughIn(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                      std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                      std::uint32_t attempts);
int ScsiPassThroughDirectOut(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                             const std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                             std::uint32_t attempts);
int ScsiPassThroughDirectIn(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                            std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                            std::uint32_t attempts);

// Sense key, additional sense code and qualifier of fixed-format sense data; 0 = no error.
std::uint32_t SenseCode(const std::uint8_t* sense);

enum SatKind : std::uint8_t { SatDataOut = 0, SatDataIn = 1, SatNoData = 2 };
std::uint8_t SatProtocolFor(std::uint8_t opcode, SatKind kind);

int SendSatCommand(platform::Device device, std::uint8_t opcode, std::uint16_t subcode,
                   std::uint32_t address, std::uint8_t* buffer, std::uint16_t sectors,
                   std::uint8_t direction, std::uint16_t features, std::uint8_t ataDevice,
                   std::uint8_t timeout, std::uint32_t attempts);

// Takes timeout and attempts like SendSatCommand but uses neither: one call, 10 seconds.
int SendAtaCommand(platform::Device device, std::uint8_t opcode, std::uint16_t subcode,
                   std::uint32_t address, std::uint8_t* buffer, std::uint16_t sectors,
                   std::uint8_t direction, std::uint16_t features, std::uint8_t ataDevice,
                   std::uint8_t timeout, std::uint32_t attempts);

struct AtaTaskFiles {
    std::array<std::uint8_t, 8> current{};
    std::array<std::uint8_t, 8> previous{};  // all zero unless is48Bit
    bool is48Bit = false;
};
AtaTaskFiles BuildAtaTaskFiles(std::uint8_t opcode, std::uint16_t subcode, std::uint32_t address,
                               std::uint16_t sectors, std::uint16_t features, std::uint8_t ataDevice);

}  // namespace devicecmd
