#include "devicecmd/Requests.h"

#include <algorithm>
#include <cstring>

#include "devicecmd/Bytes.h"
#include "devicecmd/Detect.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/ScsiAta.h"

namespace devicecmd {

namespace {

// The head shared by both SCSI requests; DataBuffer is the data area's offset in the
// buffered one and the caller's buffer address in the direct one.
void FillScsiHeader(std::uint8_t* request, const std::uint8_t* cdb, std::uint8_t cdbLength,
                    ScsiDataDirection direction, std::uint32_t length, std::uint8_t timeout,
                    std::uint64_t dataField, PointerWidth width) {
    const platform::Layout spt = ScsiPassThroughLayout(width);
    PutU16(request + spt[Spt::Length], ScsiHeaderLength(width));
    request[spt[Spt::CdbLength]] = cdbLength;
    request[spt[Spt::SenseInfoLength]] = ScsiSenseLength;
    request[spt[Spt::DataIn]] = direction;
    PutU32(request + spt[Spt::DataTransferLength], length);
    PutU32(request + spt[Spt::TimeOutValue], timeout);
    platform::PutPointerField(request + spt[Spt::DataBuffer], dataField, width);
    PutU32(request + spt[Spt::SenseInfoOffset], ScsiSenseOffset(width));
    std::memcpy(request + spt[Spt::Cdb], cdb, cdbLength);
}

}  // namespace

std::vector<std::uint8_t> BuildScsiRequest(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                           ScsiDataDirection direction, const std::uint8_t* data,
                                           std::uint32_t length, std::uint8_t timeout, PointerWidth width) {
    std::vector<std::uint8_t> request(ScsiRequestSize(width), 0);
    FillScsiHeader(request.data(), cdb, cdbLength, direction, length, timeout, ScsiDataOffset(width), width);
    if (direction == ScsiDataOut && data != nullptr && length != 0) {
        std::memcpy(request.data() + ScsiDataOffset(width), data, length);
    }
    return request;
}

std::vector<std::uint8_t> BuildScsiDirectRequest(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                                 ScsiDataDirection direction, std::uint64_t bufferAddress,
                                                 std::uint32_t length, std::uint8_t timeout, PointerWidth width) {
    std::vector<std::uint8_t> request(ScsiDirectRequestSize(width), 0);
    FillScsiHeader(request.data(), cdb, cdbLength, direction, length, timeout, bufferAddress, width);
    return request;
}

bool ScsiReplySucceeded(const std::uint8_t* reply, PointerWidth width) {
    return SenseCode(reply + ScsiSenseOffset(width)) == 0;
}

ReplyVerdict JudgeScsiReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                            bool bufferedDataIn, std::uint32_t length, PointerWidth width) {
    const platform::Layout spt = ScsiPassThroughLayout(width);
    if (returned > bufferSize || returned < spt.Size()) return ReplyVerdict::Short;
    if (GetU32(reply + spt[Spt::DataTransferLength]) < length) return ReplyVerdict::Short;
    // With no data asked for, a reply that stops before the data area lacks nothing.
    if (bufferedDataIn && length != 0 && returned < std::uint64_t{ScsiDataOffset(width)} + length)
        return ReplyVerdict::Short;
    // Sense bytes the driver did not return are no sense at all.
    std::array<std::uint8_t, ScsiSenseRoom> sense{};
    const std::uint32_t senseOffset = ScsiSenseOffset(width);
    if (returned > senseOffset) {
        const std::uint32_t count = std::min<std::uint32_t>({returned - senseOffset, ScsiSenseLength, ScsiSenseRoom});
        std::copy_n(reply + senseOffset, count, sense.begin());
    }
    return SenseCode(sense.data()) == 0 ? ReplyVerdict::Succeeded : ReplyVerdict::Failed;
}

SatRequest BuildSatRequest(std::uint8_t opcode, std::uint16_t subcode, std::uint32_t address,
                           std::uint16_t sectors, std::uint8_t direction, std::uint16_t features,
                           std::uint8_t ataDevice) {
    constexpr std::uint8_t DownloadMicrocode = 0x92;
    constexpr std::uint8_t Extend = 0x01;
    constexpr std::uint8_t NonDataProtocol = 3;
    // T_LENGTH in the sector count, BYT_BLOK 1; T_DIR added for data in.
    constexpr std::uint8_t LengthInSectors = 0x06;
    constexpr std::uint8_t TransferFromDevice = 0x08;
    constexpr std::uint8_t NoTransfer = 0x04;

    SatRequest sat;
    auto& cdb = sat.cdb;
    cdb[0] = 0x85;
    cdb[3] = static_cast<std::uint8_t>(features >> 8);
    cdb[4] = static_cast<std::uint8_t>(features);
    if (opcode == DownloadMicrocode) {
        cdb[6] = static_cast<std::uint8_t>(sectors);
        cdb[8] = static_cast<std::uint8_t>(sectors >> 8);
        cdb[10] = static_cast<std::uint8_t>(address);
        cdb[12] = static_cast<std::uint8_t>(address >> 8);
        cdb[7] = static_cast<std::uint8_t>(address >> 16);
    } else {
        cdb[5] = static_cast<std::uint8_t>(sectors >> 8);
        cdb[6] = static_cast<std::uint8_t>(sectors);
        cdb[7] = static_cast<std::uint8_t>(address >> 24);
        cdb[8] = static_cast<std::uint8_t>(address);
        cdb[9] = static_cast<std::uint8_t>(subcode);
        cdb[10] = static_cast<std::uint8_t>(address >> 8);
        cdb[11] = static_cast<std::uint8_t>(subcode >> 8);
        cdb[12] = static_cast<std::uint8_t>(address >> 16);
    }
    cdb[13] = ataDevice;
    cdb[14] = opcode;

    std::uint8_t protocol = 0;
    if (sectors == 0) {
        protocol = NonDataProtocol;
        cdb[2] = NoTransfer;
        sat.dataDirection = ScsiDataIn;
    } else if (direction == DirectionRead) {
        protocol = SatProtocolFor(opcode, SatDataIn);
        cdb[2] = LengthInSectors | TransferFromDevice;
        sat.dataDirection = ScsiDataIn;
    } else {
        protocol = SatProtocolFor(opcode, SatDataOut);
        cdb[2] = LengthInSectors;
        sat.dataDirection = ScsiDataOut;
    }
    cdb[1] = static_cast<std::uint8_t>((protocol << 1) | Extend);
    sat.length = static_cast<std::uint32_t>(sectors) * SectorSize;
    return sat;
}

AtaCommandClass ClassifyAtaCommand(std::uint8_t opcode) {
    switch (opcode) {
        case 0x24: case 0x2F: case 0x34: case 0x3F: case 0xEA: case 0xFC: case 0xFD:
            return {true, false};
        case 0x25: case 0x35: case 0x3D: case 0x47: case 0x57:
            return {true, true};
        case 0xC8: case 0xCA: case 0xE9: case 0xEB:
            return {false, true};
        default:
            return {false, false};
    }
}

std::vector<std::uint8_t> BuildAtaRequest(std::uint8_t opcode, std::uint16_t subcode, std::uint32_t address,
                                          std::uint64_t bufferAddress, std::uint16_t sectors,
                                          std::uint8_t direction, std::uint16_t features, std::uint8_t ataDevice,
                                          PointerWidth width) {
    const AtaCommandClass kind = ClassifyAtaCommand(opcode);
    const std::uint32_t length = static_cast<std::uint32_t>(sectors) * SectorSize;

    std::uint16_t flags = 0;
    if (direction == DirectionRead || sectors == 0) {
        if (length > 0) flags |= AtaFlagDataIn;
    } else {
        flags |= AtaFlagDataOut;
    }
    if (kind.usesDma) flags |= AtaFlagUseDma;
    if (kind.is48Bit) flags |= AtaFlag48Bit;

    const AtaTaskFiles files = BuildAtaTaskFiles(opcode, subcode, address, sectors, features, ataDevice);

    const platform::Layout apt = AtaPassThroughLayout(width);
    std::vector<std::uint8_t> request(apt.Size(), 0);
    std::uint8_t* r = request.data();
    PutU16(r + apt[Aptd::Length], static_cast<std::uint16_t>(apt.Size()));
    PutU16(r + apt[Aptd::AtaFlags], flags);
    PutU32(r + apt[Aptd::DataTransferLength], length);
    PutU32(r + apt[Aptd::TimeOutValue], AtaTimeoutSeconds);
    platform::PutPointerField(r + apt[Aptd::DataBuffer], bufferAddress, width);
    std::copy(files.previous.begin(), files.previous.end(), r + apt[Aptd::PreviousTaskFile]);
    std::copy(files.current.begin(), files.current.end(), r + apt[Aptd::CurrentTaskFile]);
    return request;
}

bool AtaReplySucceeded(const std::uint8_t* reply, PointerWidth width) {
    return (reply[AtaReplyStatusOffset(width)] & (AtaStatusError | AtaStatusDeviceFault)) == 0;
}

ReplyVerdict JudgeAtaReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                           std::uint32_t length, PointerWidth width) {
    const platform::Layout apt = AtaPassThroughLayout(width);
    constexpr std::uint32_t TaskFileSize = 8;
    if (returned > bufferSize || returned < apt[Aptd::CurrentTaskFile] + TaskFileSize) return ReplyVerdict::Short;
    if (GetU32(reply + apt[Aptd::DataTransferLength]) < length) return ReplyVerdict::Short;
    return AtaReplySucceeded(reply, width) ? ReplyVerdict::Succeeded : ReplyVerdict::Failed;
}

std::optional<std::uint32_t> ProtocolDataAreaSize(std::uint32_t length) {
    const std::uint64_t area =
        (static_cast<std::uint64_t>(length) + ProtocolDataGranule - 1) / ProtocolDataGranule * ProtocolDataGranule;
    if (area + ProtocolDataOffset > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(area);
}

std::vector<std::uint8_t> BuildProtocolCommandRequest(const std::uint8_t* command, std::uint8_t commandLength,
                                                      const std::uint8_t* data, std::uint32_t length,
                                                      std::uint32_t dataAreaSize, std::uint8_t direction,
                                                      std::uint32_t queue, std::uint32_t timeout) {
    constexpr std::uint32_t StructureVersion = 1;
    constexpr std::uint32_t StructureLength = ProtocolCommandLayout.Size();
    constexpr std::uint32_t ProtocolTypeNvme = 3;
    constexpr std::uint32_t AdapterRequest = 0x80000000;
    constexpr std::uint32_t AdminCommand = 1;
    constexpr std::uint32_t NvmCommand = 2;

    std::vector<std::uint8_t> request(ProtocolDataOffset + static_cast<std::size_t>(dataAreaSize), 0);
    std::uint8_t* head = request.data();
    constexpr platform::Layout pc = ProtocolCommandLayout;
    const bool toDevice = direction == DirectionWrite;
    const bool fromDevice = direction == DirectionRead;
    PutU32(head + pc[Spc::Version], StructureVersion);
    PutU32(head + pc[Spc::Length], StructureLength);
    PutU32(head + pc[Spc::ProtocolType], ProtocolTypeNvme);
    PutU32(head + pc[Spc::Flags], AdapterRequest);
    PutU32(head + pc[Spc::CommandLength], NvmeCommandSize);
    PutU32(head + pc[Spc::ErrorInfoLength], ProtocolErrorInfoLength);
    PutU32(head + pc[Spc::DataToDeviceTransferLength], toDevice ? dataAreaSize : 0);
    PutU32(head + pc[Spc::DataFromDeviceTransferLength], fromDevice ? dataAreaSize : 0);
    PutU32(head + pc[Spc::TimeOutValue], timeout);
    PutU32(head + pc[Spc::ErrorInfoOffset], ProtocolErrorInfoOffset);
    PutU32(head + pc[Spc::DataToDeviceBufferOffset], toDevice ? ProtocolDataOffset : 0);
    PutU32(head + pc[Spc::DataFromDeviceBufferOffset], fromDevice ? ProtocolDataOffset : 0);
    PutU32(head + pc[Spc::CommandSpecific], queue == 0 ? AdminCommand : NvmCommand);
    std::memcpy(head + ProtocolCommandOffset, command, commandLength);
    if (toDevice && data != nullptr && length != 0) {
        std::memcpy(head + ProtocolDataOffset, data, length);
    }
    return request;
}

bool ProtocolCommandSucceeded(const std::uint8_t* reply) {
    constexpr std::uint32_t StatusSuccess = 1;
    return GetU32(reply + ProtocolCommandLayout[Spc::ReturnStatus]) == StatusSuccess;
}

ReplyVerdict JudgeProtocolCommandReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                                       std::uint8_t direction, std::uint32_t length) {
    if (returned > bufferSize || returned < ProtocolCommandOffset) return ReplyVerdict::Short;
    if (direction == DirectionRead && returned < std::uint64_t{ProtocolDataOffset} + length) return ReplyVerdict::Short;
    return ProtocolCommandSucceeded(reply) ? ReplyVerdict::Succeeded : ReplyVerdict::Failed;
}

std::vector<std::uint8_t> BuildPropertyQuery(std::uint32_t length, std::uint32_t dataType,
                                             std::uint32_t propertyId, std::uint32_t requestValue,
                                             std::uint32_t requestSubValue) {
    constexpr std::uint32_t ProtocolTypeNvme = 3;
    constexpr platform::Layout query = PropertyQueryLayout;
    constexpr platform::Layout specific = ProtocolSpecificLayout;
    // The protocol data follows the protocol-specific block, counted from its start.
    constexpr std::uint32_t DataOffsetInBlock = specific.Size();

    std::vector<std::uint8_t> bytes(query.Size() + static_cast<std::size_t>(length), 0);
    std::uint8_t* head = bytes.data();
    std::uint8_t* block = head + query[Spq::AdditionalParameters];
    PutU32(head + query[Spq::PropertyId], propertyId);
    PutU32(head + query[Spq::QueryType], PropertyStandardQuery);
    PutU32(block + specific[Psd::ProtocolType], ProtocolTypeNvme);
    PutU32(block + specific[Psd::DataType], dataType);
    PutU32(block + specific[Psd::ProtocolDataRequestValue], requestValue);
    PutU32(block + specific[Psd::ProtocolDataRequestSubValue], requestSubValue);
    PutU32(block + specific[Psd::ProtocolDataOffset], DataOffsetInBlock);
    PutU32(block + specific[Psd::ProtocolDataLength], length);
    return bytes;
}

std::optional<ByteRange> PropertyReplyData(const std::uint8_t* reply, std::uint32_t returned, std::size_t bufferSize,
                                           std::uint32_t requested) {
    constexpr platform::Layout descriptor = ProtocolDescriptorLayout;
    constexpr platform::Layout specific = ProtocolSpecificLayout;
    constexpr std::uint32_t DescriptorSize = descriptor.Size();
    if (returned > bufferSize) return std::nullopt;
    const std::size_t replySize = returned;
    if (replySize < DescriptorSize) return std::nullopt;
    if (GetU32(reply + descriptor[Spdd::Version]) != DescriptorSize ||
        GetU32(reply + descriptor[Spdd::Size]) != DescriptorSize)
        return std::nullopt;
    const std::uint8_t* block = reply + descriptor[Spdd::ProtocolSpecificData];
    const std::uint64_t offset =
        descriptor[Spdd::ProtocolSpecificData] + static_cast<std::uint64_t>(GetU32(block + specific[Psd::ProtocolDataOffset]));
    // Data inside the descriptor would be the descriptor's own fields, and less data than
    // asked for would leave the rest of the caller's area as zeros that look like an answer.
    if (offset < DescriptorSize) return std::nullopt;
    if (GetU32(block + specific[Psd::ProtocolDataLength]) < requested) return std::nullopt;
    const std::uint64_t size = requested;
    // The reply names its own data; a range that leaves the buffer is not trusted.
    if (offset > replySize || size > replySize - offset) return std::nullopt;
    return ByteRange{static_cast<std::size_t>(offset), static_cast<std::size_t>(size)};
}

std::optional<MiniportSizes> MiniportSizesFor(std::uint8_t direction, std::uint32_t length) {
    if (direction > DirectionRead) return std::nullopt;
    if (length > UINT32_MAX - MiniportDataOffset) return std::nullopt;
    const std::uint32_t withData = std::max(MiniportDataOffset + length, MiniportMinimumSize);
    switch (direction) {
        case DirectionWrite: return MiniportSizes{withData, MiniportMinimumSize};
        case DirectionRead: return MiniportSizes{MiniportMinimumSize, withData};
        default: return MiniportSizes{MiniportMinimumSize, MiniportMinimumSize};
    }
}

std::vector<std::uint8_t> BuildMiniportRequest(const std::uint8_t* command, std::uint8_t commandLength,
                                               const std::uint8_t* data, std::uint32_t length,
                                               std::uint8_t direction, std::uint32_t queue,
                                               std::uint32_t timeout, MiniportSizes sizes) {
    static constexpr char Signature[8] = {'N', 'v', 'm', 'e', 'M', 'i', 'n', 'i'};

    constexpr platform::Layout srb = SrbLayout;
    constexpr platform::Layout mp = MiniportLayout;
    std::vector<std::uint8_t> request(sizes.request, 0);
    std::uint8_t* r = request.data();
    PutU32(r + srb[Srb::HeaderLength], MiniportHeaderLength);
    std::memcpy(r + srb[Srb::Signature], Signature, sizeof Signature);
    PutU32(r + srb[Srb::Timeout], timeout);
    PutU32(r + srb[Srb::ControlCode], MiniportControlCode);
    PutU32(r + srb[Srb::Length], sizes.request - MiniportHeaderLength);
    std::memcpy(r + MiniportCommandOffset, command, commandLength);
    PutU32(r + mp[NvmeMini::Direction], direction);
    PutU32(r + mp[NvmeMini::QueueId], queue);
    PutU32(r + mp[NvmeMini::DataBufferLength], length);
    PutU32(r + mp[NvmeMini::ReturnBufferLength], sizes.reply);
    if (direction == DirectionWrite && data != nullptr && length != 0) {
        std::memcpy(r + MiniportDataOffset, data, length);
    }
    return request;
}

bool MiniportReplySucceeded(const std::uint8_t* reply) {
    return GetU32(reply + SrbLayout[Srb::ReturnCode]) == 0 && CompletionStatusClear(GetU32(reply + MiniportCompletionOffset + 12));
}

ReplyVerdict JudgeMiniportReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                                std::uint8_t direction, std::uint32_t length) {
    if (returned > bufferSize || returned < MiniportReplyMinimum) return ReplyVerdict::Short;
    if (direction == DirectionRead && returned < std::uint64_t{MiniportDataOffset} + length) return ReplyVerdict::Short;
    return MiniportReplySucceeded(reply) ? ReplyVerdict::Succeeded : ReplyVerdict::Failed;
}

std::array<std::uint8_t, BridgeCdbLength> BuildBridgeCdb(bool admin, BridgePhase phase,
                                                         std::uint32_t transferLength) {
    std::array<std::uint8_t, BridgeCdbLength> cdb{};
    cdb[0] = 0xA1;
    cdb[1] = static_cast<std::uint8_t>((admin ? 0x80 : 0x00) | (phase & 0x0F));
    cdb[3] = static_cast<std::uint8_t>(transferLength >> 16);
    cdb[4] = static_cast<std::uint8_t>(transferLength >> 8);
    cdb[5] = static_cast<std::uint8_t>(transferLength);
    return cdb;
}

bool BridgeResponseSucceeded(const std::uint8_t* block) {
    return GetU32(block + 0) == BridgeSignature && CompletionStatusClear(GetU32(block + 20));
}

std::uint32_t BridgeResult(const std::uint8_t* block) { return GetU32(block + 8); }

void DecipherVendorRecord(std::uint8_t* record, std::uint8_t vendorLayout) {
    constexpr std::size_t NameRangeSize = 64;
    constexpr std::size_t SecondRangeSize = 32;
    constexpr std::size_t SecondRange7305 = 176;
    constexpr std::size_t SecondRangeAlternate = 400;

    std::size_t secondRange = SecondRange7305;
    if (vendorLayout != VendorLayout7305) {
        if (record[VendorRecordEncipheredFlag] == 0) return;
        secondRange = SecondRangeAlternate;
    }
    std::array<std::uint8_t, TeaKeySize> key{};
    std::copy_n(record + VendorRecordKeyOffset, key.size(), key.begin());
    TeaDecipherBlocks(record, NameRangeSize, key.data());
    TeaDecipherBlocks(record + secondRange, SecondRangeSize, key.data());
}

bool NamesServedController(const std::uint8_t* record) {
    static constexpr char Name[] = "VantorPlus";
    const auto lower = [](std::uint8_t c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<std::uint8_t>(c + ('a' - 'A')) : c;
    };
    for (std::size_t i = 0; i + 1 < sizeof Name; ++i) {
        // A zero byte in the record differs from every letter of the name.
        if (lower(record[i]) != lower(static_cast<std::uint8_t>(Name[i]))) return false;
    }
    return true;
}

std::array<std::uint8_t, 512> BuildStatePayload(std::uint8_t state) {
    std::array<std::uint8_t, 512> payload{};
    PutU32(payload.data(), OPTIMIZE_SIGNATURE);
    payload[4] = state;
    return payload;
}

std::optional<std::uint8_t> StateFromPayload(const std::uint8_t* payload) {
    if (GetU32(payload) != OPTIMIZE_SIGNATURE) return std::nullopt;
    return payload[4];
}

}  // namespace devicecmd
