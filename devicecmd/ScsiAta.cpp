#include "devicecmd/ScsiAta.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "devicecmd/Bytes.h"
#include "devicecmd/Requests.h"
#include "devicecmd/Transport.h"

namespace devicecmd {

namespace {

bool ScsiArgumentsUsable(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                         const void* buffer, std::uint32_t length) {
    if (!device.IsUsable() || cdb == nullptr) return false;
    if (cdbLength > MaxCdbLength) return false;
    return buffer != nullptr || length == 0;
}

// Buffered request: data travels through the request's own data area.
int BufferedPassThrough(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                        ScsiDataDirection direction, const std::uint8_t* dataOut, std::uint8_t* dataIn,
                        std::uint32_t length, std::uint8_t timeout, std::uint32_t attempts) {
    const void* buffer = direction == ScsiDataIn ? static_cast<const void*>(dataIn) : dataOut;
    if (!ScsiArgumentsUsable(device, cdb, cdbLength, buffer, length)) return 0;
    attempts = std::max<std::uint32_t>(attempts, 1);
    return FailOnAllocationError([&] {
        for (std::uint32_t attempt = 0; attempt < attempts; ++attempt) {
            std::vector<std::uint8_t> request = BuildScsiRequest(cdb, cdbLength, direction, dataOut, length, timeout);
            std::uint32_t returned = 0;
            const std::uint32_t replySize = ScsiDataOffset() + length;
            const bool called = device.io->IoControl(device.handle, IoctlScsiPassThrough, request.data(),
                                                     ScsiRequestSize(), request.data(), replySize, &returned);
            if (TakeReply(*device.io, called,
                          JudgeScsiReply(request.data(), returned, replySize, direction == ScsiDataIn, length))) {
                if (direction == ScsiDataIn && length != 0) {
                    std::memcpy(dataIn, request.data() + ScsiDataOffset(), length);
                }
                return 1;
            }
        }
        return 0;
    });
}

// Direct request: the driver moves the data straight to or from the caller's buffer.
int DirectPassThrough(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                      ScsiDataDirection direction, const void* buffer, std::uint32_t length,
                      std::uint8_t timeout, std::uint32_t attempts) {
    if (!ScsiArgumentsUsable(device, cdb, cdbLength, buffer, length)) return 0;
    attempts = std::max<std::uint32_t>(attempts, 1);
    const bool dataIn = direction == ScsiDataIn;
    return FailOnAllocationError([&] {
        for (std::uint32_t attempt = 0; attempt < attempts; ++attempt) {
            std::vector<std::uint8_t> request =
                BuildScsiDirectRequest(cdb, cdbLength, direction, AddressOf(buffer), length, timeout);
            std::uint32_t returned = 0;
            const bool called = device.io->IoControl(device.handle, IoctlScsiPassThroughDirect, request.data(),
                                                     ScsiDirectRequestSize(), request.data(),
                                                     ScsiDirectRequestSize(), &returned);
            if (TakeReply(*device.io, called,
                          JudgeScsiReply(request.data(), returned, ScsiDirectRequestSize(), false, length)))
                return 1;
            std::wstring_view line;
            if (called) {
                line = dataIn ? L"r1 retry 0\n" : L"w1 retry 0\n";
            } else {
                line = dataIn ? L"r1 retry 1\n" : L"w1 retry 1\n";
            }
            device.io->DebugOutput(line);
        }
        return 0;
    });
}

}  // namespace

int ScsiPassThroughOut(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       const std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                       std::uint32_t attempts) {
    if (length > BufferedTransferLimit) {
        return ScsiPassThroughDirectOut(device, cdb, cdbLength, buffer, length, timeout, attempts);
    }
    return BufferedPassThrough(device, cdb, cdbLength, ScsiDataOut, buffer, nullptr, length, timeout, attempts);
}

int ScsiPassThroughIn(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                      std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                      std::uint32_t attempts) {
    if (length > BufferedTransferLimit) {
        return ScsiPassThroughDirectIn(device, cdb, cdbLength, buffer, length, timeout, attempts);
    }
    return BufferedPassThrough(device, cdb, cdbLength, ScsiDataIn, nullptr, buffer, length, timeout, attempts);
}

int ScsiPassThroughDirectOut(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                             const std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                             std::uint32_t attempts) {
    return DirectPassThrough(device, cdb, cdbLength, ScsiDataOut, buffer, length, timeout, attempts);
}

int ScsiPassThroughDirectIn(platform::Device device, const std::uint8_t* cdb, std::uint8_t cdbLength,
                            std::uint8_t* buffer, std::uint32_t length, std::uint8_t timeout,
                            std::uint32_t attempts) {
    return DirectPassThrough(device, cdb, cdbLength, ScsiDataIn, buffer, length, timeout, attempts);
}

std::uint32_t SenseCode(const std::uint8_t* sense) {
    return (static_cast<std::uint32_t>(sense[2] & 0x0F) << 16) | (static_cast<std::uint32_t>(sense[12]) << 8) |
           sense[13];
}

std::uint8_t SatProtocolFor(std::uint8_t opcode, SatKind kind) {
    constexpr std::uint8_t NonData = 3;
    constexpr std::uint8_t PioDataIn = 4;
    constexpr std::uint8_t PioDataOut = 5;
    constexpr std::uint8_t UdmaDataIn = 10;
    constexpr std::uint8_t UdmaDataOut = 11;
    constexpr std::uint8_t Fpdma = 12;

    switch (kind) {
        case SatDataOut:
            switch (opcode) {
                case 0x06: case 0x35: case 0x3D: case 0x57: case 0xCA: case 0xEB: return UdmaDataOut;
                case 0x30: case 0x34: case 0x3F: case 0x92: case 0xE8: case 0xF1: case 0xF4: case 0xFD:
                    return PioDataOut;
                case 0x61: case 0x64: return Fpdma;
                default: break;
            }
            break;
        case SatDataIn:
            switch (opcode) {
                case 0x25: case 0x47: case 0xC8: case 0xE9: return UdmaDataIn;
                case 0x60: case 0x65: return Fpdma;
                default: break;
            }
            break;
        case SatNoData:
            switch (opcode) {
                case 0x37: case 0xB0: case 0xE7: case 0xEA: case 0xF9: return NonData;
                default: break;
            }
            break;
    }
    return PioDataIn;
}

int SendSatCommand(platform::Device device, std::uint8_t opcode, std::uint16_t subcode,
                   std::uint32_t address, std::uint8_t* buffer, std::uint16_t sectors,
                   std::uint8_t direction, std::uint16_t features, std::uint8_t ataDevice,
                   std::uint8_t timeout, std::uint32_t attempts) {
    const SatRequest sat = BuildSatRequest(opcode, subcode, address, sectors, direction, features, ataDevice);
    if (sat.dataDirection == ScsiDataIn) {
        return ScsiPassThroughIn(device, sat.cdb.data(), SatCdbLength, buffer, sat.length, timeout, attempts);
    }
    return ScsiPassThroughOut(device, sat.cdb.data(), SatCdbLength, buffer, sat.length, timeout, attempts);
}

int SendAtaCommand(platform::Device device, std::uint8_t opcode, std::uint16_t subcode,
                   std::uint32_t address, std::uint8_t* buffer, std::uint16_t sectors,
                   std::uint8_t direction, std::uint16_t features, std::uint8_t ataDevice,
                   std::uint8_t /*timeout*/, std::uint32_t /*attempts*/) {
    // The handle itself is left to the platform; a missing buffer for a transfer is not.
    if (device.io == nullptr) return 0;
    if (buffer == nullptr && sectors != 0) return 0;
    return FailOnAllocationError([&] {
        std::vector<std::uint8_t> request = BuildAtaRequest(opcode, subcode, address, AddressOf(buffer), sectors,
                                                            direction, features, ataDevice);
        std::uint32_t returned = 0;
        const bool called = device.io->IoControl(device.handle, IoctlAtaPassThroughDirect, request.data(),
                                                 AtaRequestSize(), request.data(), AtaRequestSize(), &returned);
        // A device that aborts the command still lets the call succeed: only its status says so.
        const std::uint32_t length = static_cast<std::uint32_t>(sectors) * SectorSize;
        return TakeReply(*device.io, called, JudgeAtaReply(request.data(), returned, AtaRequestSize(), length)) ? 1
                                                                                                               : 0;
    });
}

AtaTaskFiles BuildAtaTaskFiles(std::uint8_t opcode, std::uint16_t subcode, std::uint32_t address,
                               std::uint16_t sectors, std::uint16_t features, std::uint8_t ataDevice) {
    AtaTaskFiles files;
    files.is48Bit = ClassifyAtaCommand(opcode).is48Bit;
    files.current = {static_cast<std::uint8_t>(features),
                     static_cast<std::uint8_t>(sectors),
                     static_cast<std::uint8_t>(address),
                     static_cast<std::uint8_t>(address >> 8),
                     static_cast<std::uint8_t>(address >> 16),
                     ataDevice,
                     opcode,
                     0};
    if (files.is48Bit) {
        files.previous = {static_cast<std::uint8_t>(features >> 8),
                          static_cast<std::uint8_t>(sectors >> 8),
                          static_cast<std::uint8_t>(address >> 24),
                          static_cast<std::uint8_t>(subcode),
                          static_cast<std::uint8_t>(subcode >> 8),
                          0,
                          0,
                          0};
    }
    return files;
}

}  // namespace devicecmd
