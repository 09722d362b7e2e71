#include "sim/SimReplyCuts.h"

#include <cstring>
#include <memory>

#include "sim/SimBytes.h"
#include "sim/SimCodes.h"
#include "sim/SimLayouts.h"
#include "sim/SimNvmeController.h"

namespace sim {
namespace {

// Where each request carries its NVMe command, and where a read's data starts.
constexpr std::uint32_t ProtocolCommandAt = 80;
constexpr std::uint32_t ProtocolDataAt = 208;
constexpr std::uint32_t MiniportCommandAt = 52;
constexpr std::uint32_t MiniportDataAt = 152;
// Intel RST's "IntelNvm" request, also sent with IOCTL_SCSI_MINIPORT.
constexpr std::uint32_t RstCommandAt = 32;
constexpr std::uint32_t RstDataAt = 164;
constexpr char RstSignature[8] = {'I', 'n', 't', 'e', 'l', 'N', 'v', 'm'};
// The bridge's "NVME" block: dword 0 at 8, dwords 10 to 15 from 48.
constexpr std::uint32_t BlockOpcodeAt = 8;
constexpr std::uint32_t BlockDword15At = 68;
constexpr std::uint8_t BridgeOpcode = 0xA1;
enum BridgePhase : std::uint8_t { CommandOut = 0, DataIn = 2, ResponseIn = 0x0F };

bool CommandIs(const std::uint8_t* command, std::uint8_t opcode, std::uint32_t subcode) {
    return static_cast<std::uint8_t>(Get32(command)) == opcode && Get32(command + 60) == subcode;
}

}  // namespace

SimReplyCut CutVendorReply(std::uint8_t opcode, std::uint32_t subcode, SimCutPhase phase, std::uint32_t keep) {
    // The bridge names the command in its command phase and answers it in later phases.
    auto bridgeCommandMatches = std::make_shared<bool>(false);
    return [=](std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize) -> std::optional<std::uint32_t> {
        const bool data = phase == SimCutPhase::Data;
        switch (code) {
            case IoctlStorageProtocolCommand:
                if (inSize < ProtocolCommandAt + 64 || !CommandIs(in + ProtocolCommandAt, opcode, subcode))
                    return std::nullopt;
                return (data ? ProtocolDataAt : 0) + keep;
            case IoctlScsiMiniport: {
                const bool rst = inSize >= 12 && std::memcmp(in + 4, RstSignature, sizeof RstSignature) == 0;
                const std::uint32_t commandAt = rst ? RstCommandAt : MiniportCommandAt;
                if (inSize < commandAt + 64 || !CommandIs(in + commandAt, opcode, subcode)) return std::nullopt;
                return (data ? (rst ? RstDataAt : MiniportDataAt) : 0) + keep;
            }
            case IoctlScsiPassThrough: {
                constexpr platform::Layout spt = ScsiPassThroughLayout;
                if (inSize < spt.Size() || in[spt[SimSpt::Cdb]] != BridgeOpcode) return std::nullopt;
                const auto dataAt = static_cast<std::uint32_t>(platform::GetPointerField(in + spt[SimSpt::DataBuffer], spt.Width()));
                const std::uint8_t bridgePhase = in[spt[SimSpt::Cdb] + 1] & 0x0F;
                if (bridgePhase == CommandOut) {
                    *bridgeCommandMatches = std::uint64_t{dataAt} + BlockDword15At + 4 <= inSize &&
                                            static_cast<std::uint8_t>(Get32(in + dataAt + BlockOpcodeAt)) == opcode &&
                                            Get32(in + dataAt + BlockDword15At) == subcode;
                    return std::nullopt;
                }
                if (!*bridgeCommandMatches || bridgePhase != (data ? DataIn : ResponseIn)) return std::nullopt;
                return dataAt + keep;
            }
            default: return std::nullopt;
        }
    };
}

void CutHealthLogReply(SimMachine& machine, std::uint32_t keep, std::uint32_t times) {
    // Get Log Page carries no subcode: dword 15 is 0.
    SimReplyCut commandCut = CutVendorReply(NvmeGetLogPage, 0, SimCutPhase::Data, keep);
    machine.CutReplies(
        L"",
        [commandCut, keep](std::uint32_t code, const std::uint8_t* in,
                           std::uint32_t inSize) -> std::optional<std::uint32_t> {
            // STORAGE_PROPERTY_QUERY with protocol-specific data: the data type at 12, the
            // data right after the 48-byte descriptor of the reply.
            constexpr std::uint32_t DataTypeAt = 12;
            constexpr std::uint32_t LogPageDataType = 2;
            constexpr std::uint32_t ReplyDataAt = 48;
            if (code == IoctlStorageQueryProperty)
                return inSize >= ReplyDataAt && Get32(in + DataTypeAt) == LogPageDataType
                           ? std::optional<std::uint32_t>(ReplyDataAt + keep)
                           : std::nullopt;
            return commandCut(code, in, inSize);
        },
        times);
}

void CutStateReadAfterSignature(SimMachine& machine, std::uint32_t times) {
    machine.CutReplies(L"", CutVendorReply(NvmeVendorRead, SubcodeStateRead, SimCutPhase::Data, 4), times);
}

void EmptyStateWriteReply(SimMachine& machine, std::uint32_t times) {
    machine.CutReplies(L"", CutVendorReply(NvmeVendorWrite, SubcodeStateWrite, SimCutPhase::Response, 0), times);
}

}  // namespace sim
