#include "devicecmd/Transport.h"

#include <algorithm>
#include <cstring>

#include "devicecmd/Bytes.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/Requests.h"
#include "devicecmd/ScsiAta.h"

namespace devicecmd {

std::array<std::uint8_t, NvmeCommandSize> NvmeCommand::Bytes() const {
    std::array<std::uint8_t, NvmeCommandSize> bytes{};
    for (std::size_t i = 0; i < dword.size(); ++i) PutU32(bytes.data() + 4 * i, dword[i]);
    return bytes;
}

NvmeCommand NvmeCommand::FromBytes(const std::uint8_t* bytes) {
    NvmeCommand command;
    for (std::size_t i = 0; i < command.dword.size(); ++i) command.dword[i] = GetU32(bytes + 4 * i);
    return command;
}

NvmeCommand BuildNvmeCommand(std::uint8_t opcode, std::uint32_t dword10, std::uint32_t dword14,
                             std::uint32_t dword15) {
    NvmeCommand command;
    command.dword[0] = opcode;
    command.dword[10] = dword10;
    command.dword[14] = dword14;
    command.dword[15] = dword15;
    return command;
}

int SendDeviceCommand(platform::Device device, TransportWord transport, std::uint8_t opcode,
                      std::uint16_t subcode, std::uint32_t address, std::uint8_t* buffer,
                      std::uint16_t sectors, std::uint8_t direction, std::uint16_t features,
                      std::uint8_t ataDevice, std::uint8_t timeout, std::uint32_t attempts) {
    const std::uint8_t code = TransportCodeOf(transport);
    switch (code) {
        case TransportSat:
            return SendSatCommand(device, opcode, subcode, address, buffer, sectors, direction, features,
                                  ataDevice, timeout, attempts);
        case TransportAta:
            return SendAtaCommand(device, opcode, subcode, address, buffer, sectors, direction, features,
                                  ataDevice, timeout, attempts);
        case TransportNvmeInbox:
        case TransportNvmeMiniport:
        case TransportUsbBridge:
        case TransportIntelRst:
            break;
        default:
            return 0;
    }

    // In NVMe the opcode's two low bits give the transfer direction: the vendor read
    // goes out as 0xFE.
    const std::uint8_t nvmeOpcode = opcode == VendorOpcodeRead ? std::uint8_t{NvmeOpcodeVendorRead} : opcode;
    const std::uint32_t length = static_cast<std::uint32_t>(sectors) * SectorSize;
    const NvmeCommand command = BuildNvmeCommand(nvmeOpcode, length / 4, address, subcode);
    constexpr std::uint32_t AdminQueue = 0;

    if (code == TransportNvmeInbox) {
        const auto bytes = command.Bytes();
        return SendStorageProtocolCommand(device, bytes.data(), NvmeCommandSize, buffer, length, direction,
                                          AdminQueue, NvmeTimeoutSeconds, NvmeAttempts);
    }
    if (code == TransportNvmeMiniport) {
        const auto bytes = command.Bytes();
        return SendMiniportNvmeCommand(device, bytes.data(), NvmeCommandSize, buffer, length, direction,
                                       AdminQueue, NvmeTimeoutSeconds, NvmeAttempts, nullptr);
    }
    if (code == TransportIntelRst) {
        const auto bytes = command.Bytes();
        return SendIntelRstNvmeCommand(device, RstAddressOf(transport), bytes.data(), buffer, length, direction, 0,
                                       NvmeTimeoutSeconds, NvmeAttempts, nullptr);
    }
    const auto block = BuildBridgeBlock(command);
    return SendBridgeNvmeCommand(device, block.data(), buffer, length, direction, 1,
                                 static_cast<std::uint8_t>(NvmeTimeoutSeconds), NvmeAttempts, nullptr);
}

int SendStorageProtocolCommand(platform::Device device, const std::uint8_t* command,
                               std::uint8_t commandLength, std::uint8_t* buffer, std::uint32_t length,
                               std::uint8_t direction, std::uint32_t queue, std::uint32_t timeout,
                               std::uint32_t attempts) {
    if (!device.IsUsable()) return 0;
    if (command == nullptr || commandLength > NvmeCommandSize) return 0;
    if (buffer == nullptr && length != 0) return 0;
    const std::optional<std::uint32_t> dataAreaSize = ProtocolDataAreaSize(length);
    if (!dataAreaSize) return 0;
    const std::uint32_t requestSize = ProtocolDataOffset + *dataAreaSize;
    attempts = std::max<std::uint32_t>(attempts, 1);

    return FailOnAllocationError([&] {
        for (std::uint32_t attempt = 0; attempt < attempts; ++attempt) {
            std::vector<std::uint8_t> request = BuildProtocolCommandRequest(
                command, commandLength, buffer, length, *dataAreaSize, direction, queue, timeout);
            std::uint32_t returned = 0;
            const bool called = device.io->IoControl(device.handle, IoctlStorageProtocolCommand, request.data(),
                                                     requestSize, request.data(), requestSize, &returned);
            if (TakeReply(*device.io, called,
                          JudgeProtocolCommandReply(request.data(), returned, requestSize, direction, length))) {
                if (direction == DirectionRead && length != 0) {
                    std::memcpy(buffer, request.data() + ProtocolDataOffset, length);
                }
                return 1;
            }
        }
        return 0;
    });
}

int QueryProtocolSpecificProperty(platform::Device device, std::uint8_t* out, std::uint32_t length,
                                  std::uint32_t dataType, std::uint32_t propertyId,
                                  std::uint32_t requestValue, std::uint32_t requestSubValue) {
    // The handle is left to the platform, which refuses a bad one.
    if (device.io == nullptr) return 0;
    if (out == nullptr && length != 0) return 0;
    if (length > UINT32_MAX - PropertyQueryHeadSize) return 0;
    const std::uint32_t querySize = PropertyQueryHeadSize + length;

    return FailOnAllocationError([&] {
        std::vector<std::uint8_t> query =
            BuildPropertyQuery(length, dataType, propertyId, requestValue, requestSubValue);
        std::uint32_t returned = 0;
        if (!device.io->IoControl(device.handle, IoctlStorageQueryProperty, query.data(), querySize,
                                  query.data(), querySize, &returned)) {
            return 0;
        }
        const std::optional<ByteRange> data = PropertyReplyData(query.data(), returned, query.size(), length);
        if (!data) {
            device.io->SetLastError(ErrorShortReply);
            return 0;
        }
        if (data->size != 0) std::memcpy(out, query.data() + data->offset, data->size);
        return 1;
    });
}

int SendMiniportNvmeCommand(platform::Device device, const std::uint8_t* command,
                            std::uint8_t commandLength, std::uint8_t* buffer, std::uint32_t length,
                            std::uint8_t direction, std::uint32_t queue, std::uint32_t timeout,
                            std::uint32_t attempts, std::uint8_t* completion) {
    if (!device.IsUsable()) return 0;
    if (buffer == nullptr && length != 0) return 0;
    if (command == nullptr || commandLength > NvmeCommandSize) return 0;
    if (length == 0) direction = DirectionNone;
    const std::optional<MiniportSizes> sizes = MiniportSizesFor(direction, length);
    if (!sizes) return 0;
    attempts = std::max<std::uint32_t>(attempts, 1);

    return FailOnAllocationError([&] {
        std::vector<std::uint8_t> reply(sizes->reply);
        for (std::uint32_t attempt = 0; attempt < attempts; ++attempt) {
            std::vector<std::uint8_t> request =
                BuildMiniportRequest(command, commandLength, buffer, length, direction, queue, timeout, *sizes);
            std::fill(reply.begin(), reply.end(), std::uint8_t{0});
            std::uint32_t returned = 0;
            const bool called = device.io->IoControl(device.handle, IoctlScsiMiniport, request.data(),
                                                     sizes->request, reply.data(), sizes->reply, &returned);
            if (TakeReply(*device.io, called,
                          JudgeMiniportReply(reply.data(), returned, sizes->reply, direction, length))) {
                if (direction == DirectionRead) {
                    std::memcpy(buffer, reply.data() + MiniportDataOffset, length);
                }
                if (completion != nullptr) {
                    std::memcpy(completion, reply.data() + MiniportCompletionOffset, CompletionEntrySize);
                }
                return 1;
            }
        }
        return 0;
    });
}

std::array<std::uint8_t, BridgeBlockSize> BuildBridgeBlock(const NvmeCommand& command) {
    std::array<std::uint8_t, BridgeBlockSize> block{};
    PutU32(block.data() + 0, BridgeSignature);
    PutU32(block.data() + 8, command.dword[0]);
    PutU32(block.data() + 12, command.dword[1]);
    for (std::size_t i = 10; i <= 15; ++i) PutU32(block.data() + 48 + 4 * (i - 10), command.dword[i]);
    return block;
}

int SendBridgeNvmeCommand(platform::Device device, const std::uint8_t* block, std::uint8_t* buffer,
                          std::uint32_t length, std::uint8_t direction, std::uint8_t admin,
                          std::uint8_t timeout, std::uint32_t attempts, std::uint32_t* result) {
    if (block == nullptr) return 0;
    // The CDB carries the data length in 24 bits; a longer one cannot be described.
    if (length > MaxBridgeTransfer) return 0;
    // Refused before the command phase, so the bridge is never left waiting for data.
    const bool movesData = direction == DirectionRead || direction == DirectionWrite;
    if (movesData && buffer == nullptr && length != 0) return 0;
    const bool isAdmin = admin != 0;

    std::array<std::uint8_t, BridgeBlockSize> commandBlock{};
    std::copy_n(block, BridgeBlockSize, commandBlock.begin());
    auto cdb = BuildBridgeCdb(isAdmin, BridgePhaseCommandOut, BridgeBlockSize);
    if (!ScsiPassThroughOut(device, cdb.data(), BridgeCdbLength, commandBlock.data(), BridgeBlockSize, timeout,
                            attempts)) {
        return 0;
    }

    int dataPhase = 1;
    switch (direction) {
        case DirectionRead:
            cdb = BuildBridgeCdb(isAdmin, BridgePhaseDataIn, length);
            dataPhase = ScsiPassThroughIn(device, cdb.data(), BridgeCdbLength, buffer, length, timeout, attempts);
            break;
        case DirectionWrite:
            cdb = BuildBridgeCdb(isAdmin, BridgePhaseDataOut, length);
            dataPhase = ScsiPassThroughOut(device, cdb.data(), BridgeCdbLength, buffer, length, timeout, attempts);
            break;
        case DirectionNone:
            cdb = BuildBridgeCdb(isAdmin, BridgePhaseNoData, length);
            dataPhase = ScsiPassThroughIn(device, cdb.data(), BridgeCdbLength, nullptr, 0, timeout, attempts);
            break;
        default:
            break;  // no data phase
    }
    if (!dataPhase) return 0;

    std::array<std::uint8_t, BridgeBlockSize> response{};
    cdb = BuildBridgeCdb(isAdmin, BridgePhaseResponseIn, BridgeBlockSize);
    if (!ScsiPassThroughIn(device, cdb.data(), BridgeCdbLength, response.data(), BridgeBlockSize, timeout,
                           attempts)) {
        return 0;
    }
    if (result != nullptr) *result = BridgeResult(response.data());
    if (BridgeResponseSucceeded(response.data())) return 1;
    // Every call succeeded: only the response block says why the command did not.
    device.io->SetLastError(GetU32(response.data()) == BridgeSignature ? ErrorRefused : ErrorShortReply);
    return 0;
}

}  // namespace devicecmd
