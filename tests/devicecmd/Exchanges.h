#pragma once
// Scripts for whole exchanges: what one successful NVMe command looks like on each
// transport, with the bytes the drive hands back.

#include <gtest/gtest.h>

#include <cstdint>

#include "ScriptedDeviceIo.h"
#include "devicecmd/Transport.h"

namespace devicecmd_test {

constexpr std::uint32_t IoctlScsiPassThrough = 0x4D004;
constexpr std::uint32_t IoctlScsiMiniport = 0x4D008;
constexpr std::uint32_t IoctlScsiPassThroughDirect = 0x4D014;
constexpr std::uint32_t IoctlAtaPassThroughDirect = 0x4D030;
constexpr std::uint32_t IoctlStorageQueryProperty = 0x2D1400;
constexpr std::uint32_t IoctlStorageProtocolCommand = 0x2DD3C0;

// The SCSI and ATA requests as a process of each width hands them to the system, written
// out here from the system's definitions (not from the device layer's description).
struct PassThroughOffsets {
    std::uint32_t sptLength;        // SCSI_PASS_THROUGH(_DIRECT): its size and Length
    std::uint32_t sptDataBuffer;    // DataBufferOffset / DataBuffer (pointer-sized)
    std::uint32_t sptSenseOffset;   // SenseInfoOffset
    std::uint32_t sptCdb;           // Cdb[16]
    std::uint32_t scsiSense;        // the program's sense area, after 4 zero bytes
    std::uint32_t scsiData;         // the buffered request's data area
    std::uint32_t scsiBufferedSize;
    std::uint32_t scsiDirectSize;
    std::uint32_t ataLength;        // ATA_PASS_THROUGH_DIRECT: its size and Length
    std::uint32_t ataDataBuffer;
    std::uint32_t ataPreviousTaskFile;
    std::uint32_t ataCurrentTaskFile;
};
constexpr PassThroughOffsets Offsets32 = {44, 20, 24, 28, 48, 80, 67664, 80, 40, 20, 24, 32};
constexpr PassThroughOffsets Offsets64 = {56, 24, 32, 36, 60, 92, 67680, 96, 48, 24, 32, 40};
constexpr PassThroughOffsets Here = sizeof(void*) == 8 ? Offsets64 : Offsets32;
constexpr std::size_t PointerSize = sizeof(void*);

// The ATA pass-through hands back the device's status register in the current task file.
constexpr std::size_t AtaStatusAt = Here.ataCurrentTaskFile + 6;
inline const std::vector<std::uint8_t> AtaStatusReady = {0x50};

// Where each path carries the NVMe command and the data.
constexpr std::size_t InboxCommandAt = 80;
constexpr std::size_t InboxDataAt = 208;
constexpr std::size_t MiniportCommandAt = 52;
constexpr std::size_t MiniportDataAt = 152;
constexpr std::size_t ScsiCdbAt = Here.sptCdb;
constexpr std::size_t ScsiSenseAt = Here.scsiSense;
constexpr std::size_t ScsiDataAt = Here.scsiData;

struct NvmeExchange {
    std::uint8_t opcode = 0;
    std::uint32_t dword10 = 0;
    std::uint32_t dword15 = 0;
    std::uint8_t direction = devicecmd::DirectionNone;
    // Read: what the drive hands back. Write: what must reach it.
    Bytes data;
};

// Appends the calls of one successful admin command on transport 2, 3 or 4.
inline void ExpectNvmeExchange(ScriptedDeviceIo& io, std::uint8_t transportCode, const NvmeExchange& x) {
    const bool reads = x.direction == devicecmd::DirectionRead;
    const bool writes = x.direction == devicecmd::DirectionWrite;
    switch (transportCode) {
        case devicecmd::TransportNvmeInbox: {
            auto& step = io.On(IoctlStorageProtocolCommand)
                             .Expect(InboxCommandAt, Le32(x.opcode))
                             .ExpectU32(InboxCommandAt + 40, x.dword10)
                             .ExpectU32(InboxCommandAt + 60, x.dword15)
                             .ReplyU32(16, 1);
            if (writes) step.Expect(InboxDataAt, x.data);
            if (reads) step.Reply(InboxDataAt, x.data);
            break;
        }
        case devicecmd::TransportNvmeMiniport: {
            auto& step = io.On(IoctlScsiMiniport)
                             .Expect(MiniportCommandAt, Le32(x.opcode))
                             .ExpectU32(MiniportCommandAt + 40, x.dword10)
                             .ExpectU32(MiniportCommandAt + 60, x.dword15);
            if (writes) step.Expect(MiniportDataAt, x.data);
            if (reads) step.Reply(MiniportDataAt, x.data);
            break;
        }
        case devicecmd::TransportUsbBridge: {
            io.On(IoctlScsiPassThrough)
                .Expect(ScsiCdbAt, Hex("A1 80 00 00 02 00"))
                .Expect(ScsiDataAt, Hex("4E 56 4D 45"))
                .Expect(ScsiDataAt + 8, Le32(x.opcode))
                .ExpectU32(ScsiDataAt + 48, x.dword10)
                .ExpectU32(ScsiDataAt + 68, x.dword15);
            const auto length = static_cast<std::uint32_t>(x.data.size());
            const Bytes lengthBytes = {static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
                                       static_cast<std::uint8_t>(length)};
            if (reads) {
                io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 82 00")).Expect(ScsiCdbAt + 3, lengthBytes)
                    .Reply(ScsiDataAt, x.data);
            } else if (writes) {
                io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 83 00")).Expect(ScsiCdbAt + 3, lengthBytes)
                    .Expect(ScsiDataAt, x.data);
            } else {
                io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 81"));
            }
            io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 8F 00 00 02 00")).Reply(ScsiDataAt, Hex("4E 56 4D 45"));
            break;
        }
        default:
            ADD_FAILURE() << "no NVMe exchange on transport " << int{transportCode};
    }
}

// The protocol-specific property reply that carries the identify data (transport 2).
inline void ExpectPropertyIdentify(ScriptedDeviceIo& io, const Bytes& data) {
    io.On(IoctlStorageQueryProperty)
        .ExpectU32(0, 49)
        .ExpectU32(12, 1)
        .ReplyU32(0, 48)
        .ReplyU32(4, 48)
        .ReplyU32(24, 40)
        .ReplyU32(28, static_cast<std::uint32_t>(data.size()))
        .Reply(48, data);
}

// Identify on transport 2, 3 or 4, answered with `data` (4096 bytes).
inline void ExpectIdentify(ScriptedDeviceIo& io, std::uint8_t transportCode, const Bytes& data) {
    if (transportCode == devicecmd::TransportNvmeInbox) {
        ExpectPropertyIdentify(io, data);
    } else {
        ExpectNvmeExchange(io, transportCode, {0x06, 1, 0, devicecmd::DirectionRead, data});
    }
}

}  // namespace devicecmd_test
