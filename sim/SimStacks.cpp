#include "sim/SimStacks.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sim/SimBytes.h"
#include "sim/SimLayouts.h"

namespace sim {
namespace {

constexpr std::uint32_t MediaBytes = 64 * 1024;

// STORAGE_PROPERTY_QUERY and its protocol-specific parameters.
enum PropertyOffset : std::uint32_t {
    QueryPropertyId = 0,
    QueryType = 4,
    QueryHeadSize = 12,
    SpecificData = 8,  // STORAGE_PROTOCOL_SPECIFIC_DATA, in the query and in the reply
    SpecificProtocolType = 0,
    SpecificDataType = 4,
    SpecificRequestValue = 8,
    SpecificRequestSubValue = 12,
    SpecificDataOffset = 16,
    SpecificDataLength = 20,
    SpecificSize = 40,
    DescriptorVersion = 0,
    DescriptorSize = 4,
    DescriptorBytes = 48,
};

enum PropertyId : std::uint32_t {
    StorageAdapterProperty = 1,
    AdapterProtocolSpecificProperty = 49,
    DeviceProtocolSpecificProperty = 50,
};
enum QueryTypeValue : std::uint32_t { PropertyStandardQuery = 0, PropertyExistsQuery = 1 };
enum ProtocolTypeValue : std::uint32_t { ProtocolTypeNvme = 3 };
enum NvmeDataTypeValue : std::uint32_t { NvmeDataTypeIdentify = 1, NvmeDataTypeLogPage = 2 };

// STORAGE_PROTOCOL_COMMAND.
enum ProtocolCommandOffset : std::uint32_t {
    PcVersion = 0,
    PcLength = 4,
    PcProtocolType = 8,
    PcFlags = 12,
    PcReturnStatus = 16,
    PcErrorCode = 20,
    PcCommandLength = 24,
    PcErrorInfoLength = 28,
    PcToDeviceLength = 32,
    PcFromDeviceLength = 36,
    PcTimeOutValue = 40,
    PcErrorInfoOffset = 44,
    PcToDeviceOffset = 48,
    PcFromDeviceOffset = 52,
    PcCommandSpecific = 56,
    PcFixedReturnData = 64,
    PcCommand = 80,
    ProtocolCommandHeadSize = 84,
    NvmeCommandBytes = 64,
};
constexpr std::uint32_t AdapterRequestFlag = 0x80000000;
enum ProtocolStatus : std::uint32_t {
    ProtocolStatusSuccess = 1,
    ProtocolStatusError = 2,
    ProtocolStatusInvalidRequest = 3,
    ProtocolStatusBusy = 5,
    ProtocolStatusNotSupported = 0xFF,
};
enum CommandSpecificValue : std::uint32_t { NvmeAdminCommand = 1, NvmeNvmCommand = 2 };

// The "NvmeMini" body after SRB_IO_CONTROL.
enum MiniportOffset : std::uint32_t {
    MpCommand = 52,
    MpCompletion = 116,
    MpDirection = 132,
    MpQueue = 136,
    MpDataLength = 140,
    MpMetadataLength = 144,
    MpReplyLength = 148,
    MpData = 152,
};
constexpr std::uint32_t MiniportControlCode = 0xE0002000;
constexpr char MiniportSignature[8] = {'N', 'v', 'm', 'e', 'M', 'i', 'n', 'i'};

constexpr platform::Layout Apt = AtaPassThroughLayout;
constexpr std::uint32_t AtaPassThroughSize = Apt.Size();
enum AtaFlag : std::uint16_t { AtaFlagDataIn = 0x02, AtaFlagDataOut = 0x04, AtaFlag48Bit = 0x08, AtaFlagDma = 0x10 };

constexpr std::uint32_t BridgeBlockBytes = 512;
constexpr std::uint32_t BridgeSignature = 0x454D564E;  // "NVME"

NvmeCommandDwords ReadCommand(const std::uint8_t* bytes) {
    NvmeCommandDwords command{};
    for (std::size_t i = 0; i < command.size(); ++i) command[i] = Get32(bytes + 4 * i);
    return command;
}

bool DirectionMatches(std::uint8_t opcode, std::uint32_t direction) {
    switch (TransferOf(opcode)) {
        case SimNvmeTransfer::None: return direction == 0;
        case SimNvmeTransfer::ToController: return direction == 1;
        case SimNvmeTransfer::FromController: return direction == 2;
        default: return true;  // bidirectional opcodes: the controller judges
    }
}

}  // namespace

// ---- shared disk stack ----

namespace {

// A protective MBR signature so that sector 0 looks like a disk's; the rest is zeros.
constexpr std::size_t BootSignatureAt = 510;
constexpr std::array<std::uint8_t, 2> BootSignature{0x55, 0xAA};

}  // namespace

SimDiskStack::SimDiskStack(SimBusType busType, std::uint32_t mediaBytes)
    : busType_(busType), mediaBytes_(std::max<std::uint32_t>(mediaBytes, 512)) {}

std::vector<std::uint8_t>* SimDiskStack::Media() {
    if (media_.empty()) {
        media_.assign(mediaBytes_, 0);
        std::copy(BootSignature.begin(), BootSignature.end(), media_.begin() + BootSignatureAt);
    }
    return &media_;
}

bool SimDiskStack::ReadMedia(std::uint64_t position, std::uint8_t* out, std::uint32_t size, std::uint32_t& count) {
    if (!media_.empty()) return SimEndpoint::ReadMedia(position, out, size, count);
    // Not made yet: the medium as built, zeros but for the signature.
    const std::uint64_t available = position < mediaBytes_ ? mediaBytes_ - position : 0;
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, available));
    if (count != 0) std::memset(out, 0, count);
    for (std::size_t i = 0; i < BootSignature.size(); ++i) {
        const std::uint64_t at = BootSignatureAt + i;
        if (at >= position && at - position < count) out[at - position] = BootSignature[i];
    }
    return true;
}

void SimDiskStack::Reset() {
    // Made again as built at the next access.
    std::vector<std::uint8_t>().swap(media_);
    senseFault = SimSenseFault{};
}

SimResult SimDiskStack::AnswerAdapterQueryOnly(const SimCall& call) const {
    if (call.inSize < QueryHeadSize) return SimResult::Failure(ErrorInvalidParameter);
    if (Get32(call.in + QueryPropertyId) == StorageAdapterProperty &&
        Get32(call.in + QueryType) == PropertyStandardQuery)
        return AnswerAdapterProperty(call);
    return SimResult::Failure(ErrorNotSupported);
}

SimResult SimDiskStack::AnswerAdapterProperty(const SimCall& call) const {
    if (call.outSize < 8) return SimResult::Failure(ErrorInsufficientBuffer);
    std::array<std::uint8_t, 32> descriptor{};
    Put32(&descriptor[0], 32);              // Version
    Put32(&descriptor[4], 32);              // Size
    Put32(&descriptor[8], 128 * 1024);      // MaximumTransferLength
    Put32(&descriptor[12], 33);             // MaximumPhysicalPages
    Put32(&descriptor[16], 3);              // AlignmentMask
    descriptor[22] = 1;                     // CommandQueueing
    descriptor[24] = busType_;              // BusType
    const std::uint32_t count = std::min<std::uint32_t>(call.outSize, descriptor.size());
    std::memcpy(call.out, descriptor.data(), count);
    return SimResult::Success(count);
}

SimResult SimDiskStack::DiskIoControl(const SimCall& call) const {
    constexpr std::uint32_t fileDeviceDisk = 7;
    constexpr std::uint32_t fixedMedia = 12;
    constexpr std::uint32_t tracksPerCylinder = 255, sectorsPerTrack = 63;
    switch (call.code) {
        case IoctlStorageGetDeviceNumber:
            if (call.outSize < 12) return SimResult::Failure(ErrorInsufficientBuffer);
            Put32(call.out, fileDeviceDisk);
            Put32(call.out + 4, deviceNumber_);
            Put32(call.out + 8, 0);  // the whole disk
            return SimResult::Success(12);
        case IoctlDiskGetDriveGeometryEx: {
            constexpr std::uint32_t geometryEx = 40, geometryAndSize = 32;
            if (call.outSize < geometryAndSize) return SimResult::Failure(ErrorInsufficientBuffer);
            std::array<std::uint8_t, geometryEx> geometry{};
            Put64(&geometry[0], sectors_ / (tracksPerCylinder * sectorsPerTrack));
            Put32(&geometry[8], fixedMedia);
            Put32(&geometry[12], tracksPerCylinder);
            Put32(&geometry[16], sectorsPerTrack);
            Put32(&geometry[20], sectorBytes_);
            Put64(&geometry[24], sectors_ * sectorBytes_);
            Put32(&geometry[32], 8);  // partition information: its size only
            const std::uint32_t count = std::min<std::uint32_t>(call.outSize, geometryEx);
            std::memcpy(call.out, geometry.data(), count);
            return SimResult::Success(count);
        }
        default: return SimResult::Failure(ErrorInvalidFunction);
    }
}

// ---- inbox NVMe driver ----

SimInboxNvmeStack::SimInboxNvmeStack(std::shared_ptr<SimNvmeController> controller)
    : SimDiskStack(BusTypeNvme, MediaBytes), controller_(std::move(controller)) {}

void SimInboxNvmeStack::Reset() {
    SimDiskStack::Reset();
    busyStatus.Disarm();
    propertyFault = SimPropertyFault::None;
    propertyFaultCount.Disarm();
}

SimResult SimInboxNvmeStack::IoControl(const SimCall& call) {
    switch (call.code) {
        case IoctlStorageProtocolCommand: return ProtocolCommand(call);
        case IoctlStorageQueryProperty: return QueryProperty(call);
        case IoctlScsiPassThrough:
        case IoctlScsiPassThroughDirect: return HandleScsiPassThrough(scsi_, call, senseFault);
        default: return DiskIoControl(call);
    }
}

SimResult SimInboxNvmeStack::QueryProperty(const SimCall& call) {
    if (call.inSize < QueryHeadSize) return SimResult::Failure(ErrorInvalidParameter);
    const std::uint32_t type = Get32(call.in + QueryType);
    if (type != PropertyStandardQuery && type != PropertyExistsQuery) return SimResult::Failure(ErrorInvalidParameter);
    const std::uint32_t id = Get32(call.in + QueryPropertyId);
    const bool known = id == StorageAdapterProperty || id == AdapterProtocolSpecificProperty ||
                       id == DeviceProtocolSpecificProperty;
    if (!known) return SimResult::Failure(ErrorNotSupported);
    if (type == PropertyExistsQuery) return SimResult::Success(0);
    if (id == StorageAdapterProperty) return AnswerAdapterProperty(call);
    return ProtocolSpecificProperty(call);
}

SimResult SimInboxNvmeStack::ProtocolSpecificProperty(const SimCall& call) {
    if (call.inSize < SpecificData + SpecificSize || call.outSize < DescriptorBytes)
        return SimResult::Failure(ErrorInvalidParameter);
    const std::uint8_t* specific = call.in + SpecificData;
    if (Get32(specific + SpecificProtocolType) != ProtocolTypeNvme) return SimResult::Failure(ErrorInvalidParameter);
    const std::uint32_t dataType = Get32(specific + SpecificDataType);
    const std::uint32_t requestValue = Get32(specific + SpecificRequestValue);
    const std::uint32_t requestSubValue = Get32(specific + SpecificRequestSubValue);
    const std::uint32_t dataOffset = Get32(specific + SpecificDataOffset);
    const std::uint32_t dataLength = Get32(specific + SpecificDataLength);

    // The driver turns the query into an admin command: identify, or Get Log Page for the
    // page named by the request value from the offset in the sub-value.
    NvmeCommandDwords command{};
    std::uint32_t size = 0;
    if (dataType == NvmeDataTypeIdentify) {
        size = IdentifyBytes;
        command[0] = NvmeIdentify;
        command[1] = requestSubValue;  // namespace
        command[10] = requestValue;    // CNS
    } else if (dataType == NvmeDataTypeLogPage) {
        if (dataLength == 0 || dataLength % 4 != 0 || dataLength > IdentifyBytes)
            return SimResult::Failure(ErrorInvalidParameter);
        size = dataLength;
        command[0] = NvmeGetLogPage;
        command[1] = 0xFFFFFFFF;
        command[10] = (requestValue & 0xFF) | ((dataLength / 4 - 1) << 16);
        command[12] = requestSubValue;  // offset, low 32 bits
    } else {
        return SimResult::Failure(ErrorNotSupported);
    }
    if (dataOffset < SpecificSize || dataLength < size ||
        std::uint64_t{SpecificData} + dataOffset + dataLength > call.outSize)
        return SimResult::Failure(ErrorInvalidParameter);

    std::vector<std::uint8_t> data(size, 0);
    if (controller_->Execute(SimQueue::Admin, command, data.data(), size).status != NvmeSuccess)
        return SimResult::Failure(ErrorIoDevice);

    // The reply descriptor: version and size, the parameters echoed, then the data.
    std::memset(call.out, 0, call.outSize);
    Put32(call.out + DescriptorVersion, DescriptorBytes);
    Put32(call.out + DescriptorSize, DescriptorBytes);
    std::memcpy(call.out + SpecificData, specific, SpecificSize);
    std::uint8_t* replySpecific = call.out + SpecificData;
    Put32(replySpecific + SpecificDataOffset, SpecificSize);
    Put32(replySpecific + SpecificDataLength, size);
    std::memcpy(replySpecific + SpecificSize, data.data(), size);
    std::uint32_t returned = SpecificData + SpecificSize + size;

    if (propertyFault != SimPropertyFault::None && propertyFaultCount.Fire()) {
        switch (propertyFault) {
            case SimPropertyFault::WrongDescriptorSize:
                Put32(call.out + DescriptorVersion, 40);
                Put32(call.out + DescriptorSize, 40);
                break;
            case SimPropertyFault::ShortData:
                Put32(replySpecific + SpecificDataLength, size / 2);
                std::memset(replySpecific + SpecificSize + size / 2, 0, size / 2);
                returned -= size / 2;
                break;
            case SimPropertyFault::OversizedData:
                Put32(replySpecific + SpecificDataLength, dataLength + 4096);
                break;
            case SimPropertyFault::DataOutsideBuffer:
                Put32(replySpecific + SpecificDataOffset, call.outSize);
                break;
            case SimPropertyFault::NoData:
                Put32(replySpecific + SpecificDataLength, 0);
                std::memset(replySpecific + SpecificSize, 0, IdentifyBytes);
                break;
            case SimPropertyFault::FirstBytesOnly: {
                constexpr std::uint32_t kept = 64;
                Put32(replySpecific + SpecificDataLength, kept);
                std::memset(replySpecific + SpecificSize + kept, 0, IdentifyBytes - kept);
                break;
            }
            case SimPropertyFault::DataInsideDescriptor:
                Put32(replySpecific + SpecificDataOffset, 8);
                break;
            case SimPropertyFault::None: break;
        }
    }
    return SimResult::Success(returned);
}

SimResult SimInboxNvmeStack::ProtocolCommand(const SimCall& call) {
    if (call.inSize < ProtocolCommandHeadSize || call.outSize < ProtocolCommandHeadSize)
        return SimResult::Failure(ErrorInvalidParameter);
    const std::uint8_t* in = call.in;
    const std::uint32_t toLength = Get32(in + PcToDeviceLength);
    const std::uint32_t fromLength = Get32(in + PcFromDeviceLength);
    const std::uint32_t toOffset = Get32(in + PcToDeviceOffset);
    const std::uint32_t fromOffset = Get32(in + PcFromDeviceOffset);
    const std::uint32_t errorOffset = Get32(in + PcErrorInfoOffset);
    const std::uint32_t errorLength = Get32(in + PcErrorInfoLength);
    const std::uint32_t commandSpecific = Get32(in + PcCommandSpecific);
    constexpr std::uint32_t commandEnd = PcCommand + NvmeCommandBytes;

    const bool headValid =
        Get32(in + PcVersion) == 1 && Get32(in + PcLength) == ProtocolCommandHeadSize &&
        Get32(in + PcProtocolType) == ProtocolTypeNvme && (Get32(in + PcFlags) & AdapterRequestFlag) != 0 &&
        Get32(in + PcCommandLength) == NvmeCommandBytes && call.inSize >= commandEnd &&
        Get32(in + PcTimeOutValue) != 0 &&
        (commandSpecific == NvmeAdminCommand || commandSpecific == NvmeNvmCommand) &&
        !(toLength != 0 && fromLength != 0) &&
        (errorLength == 0 || (errorOffset >= commandEnd && std::uint64_t{errorOffset} + errorLength <= call.outSize)) &&
        (toLength == 0 || (toOffset >= commandEnd && std::uint64_t{toOffset} + toLength <= call.inSize)) &&
        (fromLength == 0 || (fromOffset >= commandEnd && std::uint64_t{fromOffset} + fromLength <= call.outSize));
    if (!headValid) return SimResult::Failure(ErrorInvalidParameter);

    const NvmeCommandDwords command = ReadCommand(in + PcCommand);
    const std::uint8_t opcode = static_cast<std::uint8_t>(command[0]);
    const std::uint32_t direction = toLength != 0 ? 1 : fromLength != 0 ? 2 : 0;

    std::uint32_t status = ProtocolStatusSuccess;
    std::vector<std::uint8_t> data(std::max(toLength, fromLength), 0);
    SimCompletion completion;
    if (commandSpecific == NvmeAdminCommand && opcode < 0xC0 && opcode != NvmeDeviceSelfTest) {
        // Only vendor-specific admin commands and the device self-test pass through.
        status = ProtocolStatusNotSupported;
    } else if (!DirectionMatches(opcode, direction)) {
        status = ProtocolStatusInvalidRequest;
    } else if (busyStatus.Fire()) {
        status = ProtocolStatusBusy;
    } else {
        if (toLength != 0) std::memcpy(data.data(), in + toOffset, toLength);
        const SimQueue queue = commandSpecific == NvmeAdminCommand ? SimQueue::Admin : SimQueue::Io;
        completion = controller_->Execute(queue, command, data.empty() ? nullptr : data.data(),
                                          static_cast<std::uint32_t>(data.size()));
        status = completion.status == NvmeSuccess ? ProtocolStatusSuccess : ProtocolStatusError;
    }

    std::memcpy(call.out, in, std::min(call.inSize, call.outSize));
    Put32(call.out + PcReturnStatus, status);
    Put32(call.out + PcErrorCode, completion.status);
    Put32(call.out + PcFixedReturnData, completion.dword0);
    if (status == ProtocolStatusError && errorLength >= 16) {
        const auto entry = completion.Entry();
        std::memcpy(call.out + errorOffset, entry.data(), entry.size());
    }
    if (status == ProtocolStatusSuccess && fromLength != 0) std::memcpy(call.out + fromOffset, data.data(), fromLength);
    return SimResult::Success(call.outSize);
}

// ---- NvmeMini miniport ----

SimMiniportStack::SimMiniportStack(std::shared_ptr<SimNvmeController> controller)
    : SimDiskStack(BusTypeNvme, MediaBytes), controller_(std::move(controller)) {}

void SimMiniportStack::Reset() {
    SimDiskStack::Reset();
    badReturnCode.Disarm();
}

SimResult SimMiniportStack::IoControl(const SimCall& call) {
    switch (call.code) {
        case IoctlScsiMiniport: return Miniport(call);
        case IoctlStorageQueryProperty:
            return AnswerAdapterQueryOnly(call);  // the miniport knows no protocol properties
        case IoctlStorageProtocolCommand: return SimResult::Failure(ErrorNotSupported);
        case IoctlScsiPassThrough:
        case IoctlScsiPassThroughDirect: return HandleScsiPassThrough(scsi_, call, senseFault);
        default: return DiskIoControl(call);
    }
}

SimResult SimMiniportStack::Miniport(const SimCall& call) {
    // The port driver's checks of the SRB_IO_CONTROL head.
    if (call.inSize < SrbHeadSize) return SimResult::Failure(ErrorInvalidParameter);
    const std::uint8_t* in = call.in;
    const std::uint32_t headerLength = Get32(in + SrbHeaderLength);
    const std::uint32_t length = Get32(in + SrbLength);
    if (headerLength != SrbHeadSize || std::uint64_t{headerLength} + length > std::max(call.inSize, call.outSize) ||
        call.outSize < SrbHeadSize || Get32(in + SrbTimeout) == 0)
        return SimResult::Failure(ErrorInvalidParameter);
    if (std::memcmp(in + SrbSignature, MiniportSignature, sizeof MiniportSignature) != 0)
        return SimResult::Failure(ErrorInvalidFunction);  // not a request this miniport knows

    std::memcpy(call.out, in, std::min({call.inSize, call.outSize, std::uint32_t{MpData}}));
    auto reply = [&call](std::uint32_t returnCode) {
        Put32(call.out + SrbReturnCode, returnCode);
        return SimResult::Success(call.outSize);
    };
    if (Get32(in + SrbControlCode) != MiniportControlCode) return reply(MiniportInvalidControlCode);
    if (call.inSize < MpData) return reply(MiniportInsufficientInBuffer);
    if (call.outSize < MpData) return reply(MiniportInsufficientOutBuffer);

    const std::uint32_t direction = Get32(in + MpDirection);
    const std::uint32_t queue = Get32(in + MpQueue);
    const std::uint32_t dataLength = Get32(in + MpDataLength);
    const std::uint32_t replyLength = Get32(in + MpReplyLength);
    if (direction > 2 || (direction == 0 && dataLength != 0)) return reply(MiniportInvalidDirection);
    // The port hands the miniport HeaderLength + Length bytes of the request: the body,
    // and the data of a write, must lie within them.
    const std::uint64_t handed = std::uint64_t{headerLength} + length;
    if (handed < MpData || (direction == 1 && handed < std::uint64_t{MpData} + dataLength))
        return reply(MiniportInsufficientInBuffer);
    if (Get32(in + MpMetadataLength) != 0) return reply(MiniportInvalidParameter);
    if (direction == 1 && std::uint64_t{MpData} + dataLength > call.inSize) return reply(MiniportInsufficientInBuffer);
    if (replyLength > call.outSize || replyLength < MpData ||
        (direction == 2 && std::uint64_t{MpData} + dataLength > replyLength))
        return reply(MiniportInsufficientOutBuffer);

    const NvmeCommandDwords command = ReadCommand(in + MpCommand);
    const std::uint8_t opcode = static_cast<std::uint8_t>(command[0]);
    if (!DirectionMatches(opcode, direction)) return reply(MiniportInvalidDirection);
    if (badReturnCode.Fire()) return reply(MiniportInternalError);

    std::vector<std::uint8_t> data(dataLength, 0);
    if (direction == 1 && dataLength != 0) std::memcpy(data.data(), in + MpData, dataLength);
    const SimQueue simQueue = queue == 0 ? SimQueue::Admin : SimQueue::Io;
    const SimCompletion completion =
        controller_->Execute(simQueue, command, data.empty() ? nullptr : data.data(), dataLength);
    const auto entry = completion.Entry();
    std::memcpy(call.out + MpCompletion, entry.data(), entry.size());
    if (direction == 2 && dataLength != 0) std::memcpy(call.out + MpData, data.data(), dataLength);
    return reply(MiniportSuccess);
}

// ---- USB-to-NVMe bridge ----

void SimUsbBridge::Reset() {
    phase_ = Phase::Idle;
    admin_ = true;
    command_ = NvmeCommandDwords{};
    completion_ = SimCompletion{};
}

SimScsiOutcome SimUsbBridge::Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataIn, std::uint8_t* data,
                                     std::uint32_t length) {
    constexpr std::uint8_t bridgeOpcode = 0xA1;
    if (cdb[0] != bridgeOpcode) {
        SimPlainScsiTarget plain;
        return plain.Execute(cdb, cdbLength, dataIn, data, length);
    }
    if (cdbLength < 12) return SimScsiOutcome::Check(SenseIllegalRequest, AscInvalidFieldInCdb);
    return Exchange(cdb, dataIn, data, length);
}

SimScsiOutcome SimUsbBridge::Exchange(const std::uint8_t* cdb, bool dataIn, std::uint8_t* data, std::uint32_t length) {
    enum BridgePhase : std::uint8_t { CommandOut = 0, NoData = 1, DataIn = 2, DataOut = 3, ResponseIn = 0x0F };
    const auto invalidField = SimScsiOutcome::Check(SenseIllegalRequest, AscInvalidFieldInCdb);
    const auto outOfSequence = SimScsiOutcome::Check(SenseIllegalRequest, AscCommandSequenceError);
    const bool admin = (cdb[1] & 0x80) != 0;
    const std::uint8_t phase = cdb[1] & 0x0F;
    const std::uint32_t cdbLength = (std::uint32_t{cdb[3]} << 16) | (std::uint32_t{cdb[4]} << 8) | cdb[5];
    if ((cdb[1] & 0x70) != 0 || cdbLength != length) return invalidField;

    switch (phase) {
        case CommandOut: {
            if (dataIn || length != BridgeBlockBytes || Get32(data) != BridgeSignature) return invalidField;
            command_ = NvmeCommandDwords{};
            command_[0] = Get32(data + 8);
            command_[1] = Get32(data + 12);
            for (std::size_t i = 10; i < 16; ++i) command_[i] = Get32(data + 48 + 4 * (i - 10));
            admin_ = admin;
            phase_ = Phase::CommandReceived;
            return SimScsiOutcome::Good(length);
        }
        case NoData:
        case DataIn:
        case DataOut: {
            if (phase_ != Phase::CommandReceived) return outOfSequence;
            const std::uint8_t opcode = static_cast<std::uint8_t>(command_[0]);
            const std::uint32_t direction = phase == NoData ? 0 : phase == DataOut ? 1 : 2;
            const bool phaseAgrees = phase == NoData ? length == 0 : (phase == DataIn) == dataIn;
            if (!phaseAgrees || !DirectionMatches(opcode, direction)) {
                phase_ = Phase::Idle;
                return invalidField;
            }
            completion_ = controller_->Execute(admin_ ? SimQueue::Admin : SimQueue::Io, command_,
                                               length == 0 ? nullptr : data, length);
            phase_ = Phase::Completed;
            return SimScsiOutcome::Good(length);
        }
        case ResponseIn: {
            if (phase_ != Phase::Completed) return outOfSequence;
            if (!dataIn || length != BridgeBlockBytes) return invalidField;
            std::memset(data, 0, length);
            Put32(data, BridgeSignature);
            const auto entry = completion_.Entry();
            std::memcpy(data + 8, entry.data(), entry.size());
            phase_ = Phase::Idle;
            return SimScsiOutcome::Good(length);
        }
        default: return invalidField;
    }
}

SimUsbBridgeStack::SimUsbBridgeStack(std::shared_ptr<SimNvmeController> controller)
    : SimDiskStack(BusTypeUsb, MediaBytes), controller_(controller), bridge_(std::move(controller)) {}

void SimUsbBridgeStack::Reset() {
    SimDiskStack::Reset();
    bridge_.Reset();
}

SimResult SimUsbBridgeStack::IoControl(const SimCall& call) {
    switch (call.code) {
        case IoctlScsiPassThrough:
        case IoctlScsiPassThroughDirect: return HandleScsiPassThrough(bridge_, call, senseFault);
        case IoctlStorageQueryProperty: return AnswerAdapterQueryOnly(call);
        case IoctlStorageProtocolCommand: return SimResult::Failure(ErrorNotSupported);
        default: return DiskIoControl(call);
    }
}

// ---- SATA: SAT and the ATA pass-through ----

SimScsiOutcome SimSatTranslator::Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataIn,
                                         std::uint8_t* data, std::uint32_t length) {
    constexpr std::uint8_t ataPassThrough16 = 0x85;
    constexpr std::uint8_t ataPassThrough12 = 0xA1;
    const auto invalidField = SimScsiOutcome::Check(SenseIllegalRequest, AscInvalidFieldInCdb);
    if (cdb[0] == ataPassThrough12) {
        // Only the two reset protocols are modelled: whatever reads them resets the drive.
        enum : std::uint8_t { HardReset = 0, SoftReset = 1 };
        const std::uint8_t protocol = (cdb[1] >> 1) & 0x0F;
        if (cdbLength < 12 || (protocol != HardReset && protocol != SoftReset)) return invalidField;
        device_->Reset();
        return SimScsiOutcome::Good(0);
    }
    if (cdb[0] != ataPassThrough16) return plain_.Execute(cdb, cdbLength, dataIn, data, length);
    if (cdbLength != 16) return invalidField;

    const std::uint8_t protocolField = (cdb[1] >> 1) & 0x0F;
    const bool extend = (cdb[1] & 1) != 0;
    const std::uint8_t tLength = cdb[2] & 3;
    const bool byteBlock = (cdb[2] & 4) != 0;
    const bool toHost = (cdb[2] & 8) != 0;

    SimAtaProtocol protocol;
    switch (protocolField) {
        case 3: protocol = SimAtaProtocol::NonData; break;
        case 4: protocol = SimAtaProtocol::PioIn; break;
        case 5: protocol = SimAtaProtocol::PioOut; break;
        case 10: protocol = SimAtaProtocol::DmaIn; break;
        case 11: protocol = SimAtaProtocol::DmaOut; break;
        default: return invalidField;
    }
    SimAtaCommand command;
    command.features = extend ? static_cast<std::uint16_t>((cdb[3] << 8) | cdb[4]) : cdb[4];
    command.count = extend ? static_cast<std::uint16_t>((cdb[5] << 8) | cdb[6]) : cdb[6];
    command.lba = std::uint64_t{cdb[8]} | (std::uint64_t{cdb[10]} << 8) | (std::uint64_t{cdb[12]} << 16);
    if (extend)
        command.lba |= (std::uint64_t{cdb[7]} << 24) | (std::uint64_t{cdb[9]} << 32) | (std::uint64_t{cdb[11]} << 40);
    command.device = cdb[13];
    command.command = cdb[14];

    // The transfer the CDB describes must be the one the request carries.
    const bool moves = protocol != SimAtaProtocol::NonData;
    if (tLength == 0) {
        if (moves || length != 0) return invalidField;
    } else if (tLength == 2) {
        const bool protocolIn = protocol == SimAtaProtocol::PioIn || protocol == SimAtaProtocol::DmaIn;
        const std::uint64_t expected = std::uint64_t{command.count} * (byteBlock ? AtaSectorBytes : 1);
        if (!moves || expected != length || toHost != dataIn || protocolIn != toHost) return invalidField;
    } else {
        return invalidField;
    }

    const SimAtaOutcome outcome = device_->Execute(command, protocol, data, length);
    if (outcome.Failed()) return SimScsiOutcome::Check(SenseAbortedCommand, 0, 0);
    return SimScsiOutcome::Good(length);
}

SimAtaStack::SimAtaStack(std::shared_ptr<SimAtaDevice> device)
    : SimDiskStack(BusTypeSata, MediaBytes), device_(device), sat_(std::move(device)) {}

SimResult SimAtaStack::IoControl(const SimCall& call) {
    switch (call.code) {
        case IoctlAtaPassThroughDirect: return AtaPassThrough(call);
        case IoctlScsiPassThrough:
        case IoctlScsiPassThroughDirect: return HandleScsiPassThrough(sat_, call, senseFault);
        case IoctlStorageQueryProperty: return AnswerAdapterQueryOnly(call);
        default: return DiskIoControl(call);
    }
}

SimResult SimAtaStack::AtaPassThrough(const SimCall& call) {
    if (call.inSize < AtaPassThroughSize || call.outSize < AtaPassThroughSize)
        return SimResult::Failure(ErrorInvalidParameter);
    const std::uint8_t* in = call.in;
    const std::uint16_t flags = Get16(in + Apt[SimAptd::AtaFlags]);
    const std::uint32_t length = Get32(in + Apt[SimAptd::DataTransferLength]);
    auto* data = reinterpret_cast<std::uint8_t*>(
        static_cast<std::uintptr_t>(platform::GetPointerField(in + Apt[SimAptd::DataBuffer], Apt.Width())));
    const bool dataIn = (flags & AtaFlagDataIn) != 0;
    const bool dataOut = (flags & AtaFlagDataOut) != 0;
    if (Get16(in + Apt[SimAptd::Length]) != AtaPassThroughSize || (dataIn && dataOut) || Get32(in + Apt[SimAptd::TimeOutValue]) == 0 ||
        (length != 0 && (!(dataIn || dataOut) || data == nullptr)))
        return SimResult::Failure(ErrorInvalidParameter);

    const std::uint8_t* current = in + Apt[SimAptd::CurrentTaskFile];
    const std::uint8_t* previous = in + Apt[SimAptd::PreviousTaskFile];
    const bool is48 = (flags & AtaFlag48Bit) != 0;
    SimAtaCommand command;
    command.features = current[0];
    command.count = current[1];
    command.lba = std::uint64_t{current[2]} | (std::uint64_t{current[3]} << 8) | (std::uint64_t{current[4]} << 16);
    command.device = current[5];
    command.command = current[6];
    if (is48) {
        command.features = static_cast<std::uint16_t>(command.features | (previous[0] << 8));
        command.count = static_cast<std::uint16_t>(command.count | (previous[1] << 8));
        command.lba |= (std::uint64_t{previous[2]} << 24) | (std::uint64_t{previous[3]} << 32) |
                       (std::uint64_t{previous[4]} << 40);
    } else {
        command.lba |= std::uint64_t{current[5] & 0x0Fu} << 24;
    }
    const bool dma = (flags & AtaFlagDma) != 0;
    SimAtaProtocol protocol = SimAtaProtocol::NonData;
    if (length != 0) {
        protocol = dataIn ? (dma ? SimAtaProtocol::DmaIn : SimAtaProtocol::PioIn)
                          : (dma ? SimAtaProtocol::DmaOut : SimAtaProtocol::PioOut);
    }
    const SimAtaOutcome outcome = device_->Execute(command, protocol, data, length);

    // The registers come back in the task files; the call itself succeeds.
    std::memcpy(call.out, in, AtaPassThroughSize);
    call.out[Apt[SimAptd::CurrentTaskFile] + 0] = outcome.error;
    call.out[Apt[SimAptd::CurrentTaskFile] + 6] = outcome.status;
    return SimResult::Success(AtaPassThroughSize);
}

}  // namespace sim
