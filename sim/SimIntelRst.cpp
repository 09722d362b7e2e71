#include "sim/SimIntelRst.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "sim/SimBytes.h"
#include "sim/SimLayouts.h"

namespace sim {
namespace {

// The "IntelNvm" request as RST documents it: SRB_IO_CONTROL, then version and address,
// then NVME_PASS_THROUGH_PARAMETERS, then the data. No pointer: one layout for both widths.
enum RstOffset : std::uint32_t {
    RstVersion = 28,
    RstPathId = 29,
    RstTargetId = 30,
    RstLun = 31,
    RstCommand = 32,             // 16 dwords
    RstIsIoCommandSet = 96,      // BOOLEAN; the completion entry's dwords align after it
    RstCompletion = 100,         // 4 dwords
    RstDataBufferOffset = 116,
    RstDataBufferLength = 120,
    RstReserved = 124,           // 10 dwords
    RstParametersEnd = 164,
};
constexpr char RstSignature[8] = {'I', 'n', 't', 'e', 'l', 'N', 'v', 'm'};
constexpr char MiniportSignature[8] = {'N', 'v', 'm', 'e', 'M', 'i', 'n', 'i'};
constexpr std::uint32_t RstControlCode = 0xF0002808;  // CTL_CODE(0xF000, 0xA02, METHOD_BUFFERED, FILE_ANY_ACCESS)
constexpr std::uint8_t RstPassThroughVersion = 1;

// Admin commands the pass-through does not carry (queue management, firmware, format,
// namespace management): the driver answers them with an invalid-request status.
bool PassedThrough(bool admin, std::uint8_t opcode) {
    if (!admin) return true;
    switch (opcode) {
        case 0x00: case 0x01: case 0x04: case 0x05:  // I/O queues
        case 0x08: case 0x0C:                        // abort, asynchronous events
        case 0x0D: case 0x15:                        // namespace management, attachment
        case 0x10: case 0x11:                        // firmware commit, image download
        case 0x80:                                   // format NVM
            return false;
        default: return true;
    }
}

NvmeCommandDwords ReadCommand(const std::uint8_t* bytes) {
    NvmeCommandDwords command{};
    for (std::size_t i = 0; i < command.size(); ++i) command[i] = Get32(bytes + 4 * i);
    return command;
}

}  // namespace

std::wstring ScsiPortPath(std::uint8_t portNumber) { return L"\\\\.\\Scsi" + std::to_wstring(portNumber) + L":"; }

// The driver addresses a drive by PathId alone: TargetId and Lun are reserved.
void SimRstPort::AddNvmeTarget(const SimScsiAddress& address, std::shared_ptr<SimNvmeController> controller) {
    targets_[Key{address.pathId, 0, 0}] = std::move(controller);
}

void SimRstPort::AddOtherTarget(const SimScsiAddress& address) {
    targets_[Key{address.pathId, 0, 0}] = nullptr;
}

SimResult SimRstPort::IoControl(const SimCall& call) {
    if (call.code == IoctlScsiMiniport) return PassThrough(call);
    return SimResult::Failure(ErrorInvalidFunction);
}

SimResult SimRstPort::PassThrough(const SimCall& call) {
    const auto invalidParameter = SimResult::Failure(ErrorInvalidParameter);
    // The port's checks of the SRB_IO_CONTROL head: the buffers must hold what it names.
    if (call.inSize < SrbHeadSize || call.outSize < SrbHeadSize) return invalidParameter;
    const std::uint8_t* in = call.in;
    const std::uint32_t headerLength = Get32(in + SrbHeaderLength);
    const std::uint64_t handed = std::uint64_t{headerLength} + Get32(in + SrbLength);
    if (headerLength != SrbHeadSize || handed > call.inSize || handed > call.outSize || Get32(in + SrbTimeout) == 0)
        return invalidParameter;
    // RST's port refuses the "NvmeMini" miniport request as a device error (1117).
    if (std::memcmp(in + SrbSignature, MiniportSignature, sizeof MiniportSignature) == 0)
        return SimResult::Failure(ErrorIoDevice);
    // The driver's: a signature and control code it knows.
    if (!knowsPassThrough_ || std::memcmp(in + SrbSignature, RstSignature, sizeof RstSignature) != 0 ||
        Get32(in + SrbControlCode) != RstControlCode)
        return SimResult::Failure(ErrorInvalidFunction);

    // From here the driver completes the request and says how in ReturnCode; the reply is
    // the request as handed back, with the driver's fields filled in.
    const auto returned = static_cast<std::uint32_t>(handed);
    std::memcpy(call.out, in, returned);
    const auto complete = [&](std::uint32_t returnCode) {
        Put32(call.out + SrbReturnCode, returnCode);
        return SimResult::Success(returned);
    };
    // The body, every field as documented: the whole request is named by Length, version
    // 1, TargetId and Lun reserved (0), the data right after the parameters (its offset
    // 0xA4; a request without data may leave it 0) and filling the rest, a queue flag, and
    // reserved dwords left 0.
    if (handed < RstParametersEnd || handed != call.inSize || in[RstVersion] != RstPassThroughVersion ||
        in[RstTargetId] != 0 || in[RstLun] != 0)
        return complete(RstSrbInvalidRequest);
    const std::uint32_t dataOffset = Get32(in + RstDataBufferOffset);
    const std::uint32_t dataLength = Get32(in + RstDataBufferLength);
    const bool dataPlaced = dataOffset == RstParametersEnd || (dataLength == 0 && dataOffset == 0);
    if (!dataPlaced || std::uint64_t{RstParametersEnd} + dataLength != handed) return complete(RstSrbInvalidRequest);
    const std::uint8_t queueFlag = in[RstIsIoCommandSet];
    if (queueFlag > 1) return complete(RstSrbInvalidRequest);
    for (std::uint32_t at = RstReserved; at < RstParametersEnd; ++at)
        if (in[at] != 0) return complete(RstSrbInvalidRequest);

    const auto target = targets_.find(Key{in[RstPathId], 0, 0});
    if (target == targets_.end()) return complete(RstSrbInvalidPathId);
    if (target->second == nullptr) return complete(RstSrbInvalidRequest);  // no NVMe drive there

    const NvmeCommandDwords command = ReadCommand(in + RstCommand);
    const std::uint8_t opcode = static_cast<std::uint8_t>(command[0]);
    const bool admin = queueFlag == 0;
    if (!PassedThrough(admin, opcode) || passesNothing.Fire()) return complete(RstSrbInvalidRequest);
    // The driver moves the data the way the opcode says.
    const SimNvmeTransfer transfer = TransferOf(opcode);
    if ((transfer == SimNvmeTransfer::None) != (dataLength == 0)) return complete(RstSrbInvalidRequest);
    if (badReturnCode.Fire()) return complete(RstSrbError);

    std::vector<std::uint8_t> data(dataLength, 0);
    if (transfer == SimNvmeTransfer::ToController || transfer == SimNvmeTransfer::Both)
        std::memcpy(data.data(), in + RstParametersEnd, dataLength);
    const SimCompletion completion = target->second->Execute(admin ? SimQueue::Admin : SimQueue::Io, command,
                                                             data.empty() ? nullptr : data.data(), dataLength);
    const auto entry = completion.Entry();
    std::memcpy(call.out + RstCompletion, entry.data(), entry.size());
    if (transfer == SimNvmeTransfer::FromController || transfer == SimNvmeTransfer::Both)
        std::memcpy(call.out + RstParametersEnd, data.data(), dataLength);
    return complete(RstSrbSuccess);
}

SimRstNvmeDiskStack::SimRstNvmeDiskStack() : SimDiskStack(BusTypeNvme, 64 * 1024) {}

SimResult SimRstNvmeDiskStack::IoControl(const SimCall& call) {
    switch (call.code) {
        case IoctlStorageQueryProperty: {
            // RST knows the adapter property but none of the NVMe protocol properties.
            const SimResult answer = AnswerAdapterQueryOnly(call);
            return answer.ok ? answer : SimResult::Failure(ErrorInvalidFunction);
        }
        case IoctlScsiPassThrough:
        case IoctlScsiPassThroughDirect: return HandleScsiPassThrough(scsi_, call, senseFault);
        case IoctlStorageProtocolCommand:
        case IoctlScsiMiniport: return SimResult::Failure(ErrorInvalidFunction);
        default: return DiskIoControl(call);
    }
}

SimResult SimScsiAddressed::IoControl(const SimCall& call) {
    if (call.code != IoctlScsiGetAddress) return inner_->IoControl(call);
    constexpr std::uint32_t AddressSize = 8;  // SCSI_ADDRESS
    if (call.outSize < AddressSize) return SimResult::Failure(ErrorInsufficientBuffer);
    Put32(call.out, AddressSize);
    call.out[4] = address_.portNumber;
    call.out[5] = address_.pathId;
    call.out[6] = address_.targetId;
    call.out[7] = address_.lun;
    return SimResult::Success(AddressSize);
}

}  // namespace sim
