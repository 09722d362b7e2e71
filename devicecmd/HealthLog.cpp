#include "devicecmd/HealthLog.h"

#include <algorithm>
#include <cstring>

#include "devicecmd/IntelRst.h"
#include "devicecmd/Requests.h"

namespace devicecmd {
namespace {

constexpr std::uint32_t HealthLogDwords = HealthLogSize / 4;
constexpr std::uint32_t HealthAttempts = 1;

// The inbox driver: the whole log or nothing. The property query copies what the driver
// names, so a reply that names less than 512 bytes would leave part of the log unread.
int QueryHealthProperty(platform::Device device, HealthLogBytes& log) {
    if (device.io == nullptr) return 0;
    return FailOnAllocationError([&] {
        std::vector<std::uint8_t> query = BuildHealthLogQuery();
        const auto size = static_cast<std::uint32_t>(query.size());
        std::uint32_t returned = 0;
        if (!device.io->IoControl(device.handle, IoctlStorageQueryProperty, query.data(), size, query.data(), size,
                                  &returned)) {
            return 0;
        }
        const std::optional<ByteRange> data = PropertyReplyData(query.data(), returned, query.size(), HealthLogSize);
        if (!data || data->size != HealthLogSize) {
            device.io->SetLastError(ErrorShortReply);
            return 0;
        }
        std::memcpy(log.data(), query.data() + data->offset, HealthLogSize);
        return 1;
    });
}

}  // namespace

NvmeCommand BuildHealthLogCommand() {
    NvmeCommand command;
    command.dword[0] = NvmeOpcodeGetLogPage;
    command.dword[1] = NamespaceAll;
    command.dword[10] = LogPageHealth | ((HealthLogDwords - 1) << 16);
    return command;
}

std::vector<std::uint8_t> BuildHealthLogQuery() {
    return BuildPropertyQuery(HealthLogSize, ProtocolDataTypeLogPage, PropertyIdDeviceProtocolSpecific, LogPageHealth,
                              0);
}

int ReadHealthLog(platform::Device device, TransportWord transport, HealthLogBytes& log) {
    HealthLogBytes area{};
    const NvmeCommand command = BuildHealthLogCommand();
    int result = 0;
    switch (TransportCodeOf(transport)) {
        case TransportNvmeInbox:
            result = QueryHealthProperty(device, area);
            break;
        case TransportNvmeMiniport: {
            const auto bytes = command.Bytes();
            result = SendMiniportNvmeCommand(device, bytes.data(), NvmeCommandSize, area.data(), HealthLogSize,
                                             DirectionRead, 0, NvmeTimeoutSeconds, HealthAttempts, nullptr);
            break;
        }
        case TransportUsbBridge: {
            const auto block = BuildBridgeBlock(command);
            result = SendBridgeNvmeCommand(device, block.data(), area.data(), HealthLogSize, DirectionRead, 1,
                                           static_cast<std::uint8_t>(NvmeTimeoutSeconds), HealthAttempts, nullptr);
            break;
        }
        case TransportIntelRst: {
            const auto bytes = command.Bytes();
            result = SendIntelRstNvmeCommand(device, RstAddressOf(transport), bytes.data(), area.data(), HealthLogSize,
                                             DirectionRead, 0, NvmeTimeoutSeconds, HealthAttempts, nullptr);
            break;
        }
        default:
            return 0;  // ATA paths and unknown codes: the log is an NVMe page
    }
    if (result) log = area;
    return result;
}

}  // namespace devicecmd
