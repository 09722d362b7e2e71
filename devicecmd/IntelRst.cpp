#include "devicecmd/IntelRst.h"

#include <algorithm>
#include <cstring>

#include "devicecmd/Bytes.h"

namespace devicecmd {
namespace {

constexpr char RstSignature[8] = {'I', 'n', 't', 'e', 'l', 'N', 'v', 'm'};
constexpr TransportWord RstAddressPresent = TransportWord{1} << 16;
constexpr unsigned RstAddressShift = 32;

}  // namespace

std::optional<ScsiAddress> ReadScsiAddress(platform::Device device) {
    if (!device.IsUsable()) return std::nullopt;
    std::array<std::uint8_t, ScsiAddressLayout.Size()> reply{};
    std::uint32_t returned = 0;
    if (!device.io->IoControl(device.handle, IoctlScsiGetAddress, nullptr, 0, reply.data(),
                              static_cast<std::uint32_t>(reply.size()), &returned))
        return std::nullopt;
    const std::optional<ScsiAddress> address = ScsiAddressFromReply(reply.data(), returned, reply.size());
    if (!address) device.io->SetLastError(ErrorShortReply);
    return address;
}

bool SameScsiAddress(const ScsiAddress& a, const ScsiAddress& b) {
    return a.portNumber == b.portNumber && a.pathId == b.pathId && a.targetId == b.targetId && a.lun == b.lun;
}

TransportWord WithRstAddress(TransportWord word, ScsiAddress address) {
    const TransportWord bytes = TransportWord{address.portNumber} | TransportWord{address.pathId} << 8 |
                                TransportWord{address.targetId} << 16 | TransportWord{address.lun} << 24;
    return (word & 0xFFFF) | RstAddressPresent | bytes << RstAddressShift;
}

std::optional<ScsiAddress> RstAddressOf(TransportWord word) {
    if (!(word & RstAddressPresent)) return std::nullopt;
    const auto byte = [&](unsigned n) { return static_cast<std::uint8_t>(word >> (RstAddressShift + 8 * n)); };
    return ScsiAddress{byte(0), byte(1), byte(2), byte(3)};
}

std::optional<ScsiAddress> ScsiAddressFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                                std::size_t bufferSize) {
    constexpr platform::Layout a = ScsiAddressLayout;
    if (returned > bufferSize || returned < a[ScsiAddr::Lun] + 1) return std::nullopt;
    return ScsiAddress{reply[a[ScsiAddr::PortNumber]], reply[a[ScsiAddr::PathId]], reply[a[ScsiAddr::TargetId]],
                       reply[a[ScsiAddr::Lun]]};
}

std::wstring ScsiPortPath(std::uint8_t portNumber) {
    return L"\\\\.\\Scsi" + std::to_wstring(portNumber) + L":";
}

bool RstDirectionAgrees(std::uint8_t opcode, std::uint8_t direction) {
    switch (opcode & 3) {
        case 0: return direction == DirectionNone;
        case 1: return direction == DirectionWrite;
        case 2: return direction == DirectionRead;
        default: return direction == DirectionWrite || direction == DirectionRead;
    }
}

std::optional<std::uint32_t> RstRequestSize(std::uint32_t length) {
    if (length > UINT32_MAX - RstDataOffset) return std::nullopt;
    return RstDataOffset + length;
}

std::vector<std::uint8_t> BuildRstRequest(const std::uint8_t* command, const std::uint8_t* data,
                                          std::uint32_t length, std::uint8_t direction, bool ioCommandSet,
                                          std::uint32_t timeout, ScsiAddress address) {
    constexpr platform::Layout srb = SrbLayout;
    constexpr platform::Layout r = RstRequestLayout;
    std::vector<std::uint8_t> request(static_cast<std::size_t>(RstDataOffset) + length, 0);
    std::uint8_t* q = request.data();
    PutU32(q + srb[Srb::HeaderLength], MiniportHeaderLength);
    std::memcpy(q + srb[Srb::Signature], RstSignature, sizeof RstSignature);
    PutU32(q + srb[Srb::Timeout], timeout);
    PutU32(q + srb[Srb::ControlCode], RstControlCode);
    PutU32(q + srb[Srb::Length], static_cast<std::uint32_t>(request.size()) - MiniportHeaderLength);
    q[r[RstRequest::Version]] = RstPassThroughVersion;
    q[r[RstRequest::PathId]] = address.pathId;
    // TargetId and Lun are reserved: the driver addresses the drive by PathId alone.
    q[r[RstRequest::TargetId]] = 0;
    q[r[RstRequest::Lun]] = 0;
    std::memcpy(q + RstCommandOffset, command, NvmeCommandSize);
    q[RstQueueFlagOffset] = ioCommandSet ? 1 : 0;
    PutU32(q + RstDataOffsetField, RstDataOffset);
    PutU32(q + RstDataLengthField, length);
    if (direction == DirectionWrite && data != nullptr && length != 0) std::memcpy(q + RstDataOffset, data, length);
    return request;
}

ReplyVerdict JudgeRstReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                           std::uint8_t direction, std::uint32_t length) {
    if (returned > bufferSize || returned < RstReplyMinimum) return ReplyVerdict::Short;
    if (direction == DirectionRead && returned < std::uint64_t{RstDataOffset} + length) return ReplyVerdict::Short;
    const bool signed_ = std::memcmp(reply + SrbLayout[Srb::Signature], RstSignature, sizeof RstSignature) == 0;
    // Only SRB_STATUS_SUCCESS: a reply left pending (0) has no data and no completion entry.
    const bool succeeded = GetU32(reply + SrbLayout[Srb::ReturnCode]) == RstSrbSuccess;
    const bool statusClear = CompletionStatusClear(GetU32(reply + RstCompletionOffset + 12));
    return signed_ && succeeded && statusClear ? ReplyVerdict::Succeeded : ReplyVerdict::Failed;
}

std::optional<std::uint32_t> RstReturnCode(const std::uint8_t* reply, std::uint32_t returned,
                                           std::uint32_t bufferSize) {
    constexpr std::uint32_t end = SrbLayout[Srb::ReturnCode] + 4;
    if (returned > bufferSize || returned < end) return std::nullopt;
    return GetU32(reply + SrbLayout[Srb::ReturnCode]);
}

bool LooksLikeIdentifyController(const std::uint8_t* data) {
    constexpr std::size_t ModelOffset = 24;
    constexpr std::size_t ModelLength = 40;
    bool anyText = false;
    for (std::size_t i = ModelOffset; i < ModelOffset + ModelLength; ++i) {
        if (data[i] < 0x20 || data[i] > 0x7E) return false;
        anyText = anyText || data[i] != ' ';
    }
    return anyText;
}

int SendIntelRstNvmeCommand(platform::Device device, const std::uint8_t* command, std::uint8_t* buffer,
                            std::uint32_t length, std::uint8_t direction, std::uint8_t ioCommandSet,
                            std::uint32_t timeout, std::uint32_t attempts, std::uint8_t* completion) {
    return SendIntelRstNvmeCommand(device, std::nullopt, command, buffer, length, direction, ioCommandSet, timeout,
                                   attempts, completion);
}

int SendIntelRstNvmeCommand(platform::Device device, std::optional<ScsiAddress> knownAddress,
                            const std::uint8_t* command, std::uint8_t* buffer, std::uint32_t length,
                            std::uint8_t direction, std::uint8_t ioCommandSet, std::uint32_t timeout,
                            std::uint32_t attempts, std::uint8_t* completion) {
    if (!device.IsUsable() || command == nullptr) return 0;
    if (buffer == nullptr && length != 0) return 0;
    if (length == 0 || direction == DirectionNone) {
        direction = DirectionNone;
        length = 0;
    }
    if (direction > DirectionRead || !RstDirectionAgrees(command[0], direction)) return 0;
    const std::optional<std::uint32_t> size = RstRequestSize(length);
    if (!size) return 0;
    attempts = std::max<std::uint32_t>(attempts, 1);

    return FailOnAllocationError([&] {
        const std::optional<ScsiAddress> address = knownAddress ? knownAddress : ReadScsiAddress(device);
        if (!address) return 0;
        const platform::UniqueHandle port = platform::UniqueHandle::Open(
            *device.io, ScsiPortPath(address->portNumber), platform::AccessRead | platform::AccessWrite,
            platform::ShareRead | platform::ShareWrite, platform::OpenExisting, platform::AttributeNormal);
        if (!port.IsUsable()) return 0;
        for (std::uint32_t attempt = 0; attempt < attempts; ++attempt) {
            std::vector<std::uint8_t> request =
                BuildRstRequest(command, buffer, length, direction, ioCommandSet != 0, timeout, *address);
            std::uint32_t returned = 0;
            const bool called = device.io->IoControl(port.Get(), IoctlScsiMiniport, request.data(), *size,
                                                     request.data(), *size, &returned);
            const ReplyVerdict verdict = JudgeRstReply(request.data(), returned, *size, direction, length);
            if (TakeReply(*device.io, called, verdict)) {
                if (direction == DirectionRead) std::memcpy(buffer, request.data() + RstDataOffset, length);
                if (completion != nullptr)
                    std::memcpy(completion, request.data() + RstCompletionOffset, CompletionEntrySize);
                return 1;
            }
            // Sent again it would be refused again.
            if (called && verdict == ReplyVerdict::Failed &&
                RstReturnCode(request.data(), returned, *size) == std::optional<std::uint32_t>{RstSrbInvalidRequest}) {
                device.io->SetLastError(ErrorRstNotPassed);
                return 0;
            }
        }
        return 0;
    });
}

}  // namespace devicecmd
