#include "devicecmd/HealthLog.h"

#include <algorithm>
#include <cstring>

#include "devicecmd/IntelRst.h"
#include "devicecmd/Requests.h"

namespace devicecmd {
namespace {

constexpr std::uint32_t LogAttempts = 1;

// The inbox driver: the whole page or nothing. The property query copies what the driver
// names, so a reply that names less than the page would leave part of it unread.
int QueryLogProperty(platform::Device device, std::uint8_t logId, std::uint8_t* out, std::uint32_t size) {
    if (device.io == nullptr) return 0;
    return FailOnAllocationError([&] {
        std::vector<std::uint8_t> query = BuildLogPageQuery(logId, size);
        const auto querySize = static_cast<std::uint32_t>(query.size());
        std::uint32_t returned = 0;
        if (!device.io->IoControl(device.handle, IoctlStorageQueryProperty, query.data(), querySize, query.data(),
                                  querySize, &returned)) {
            return 0;
        }
        const std::optional<ByteRange> data = PropertyReplyData(query.data(), returned, query.size(), size);
        if (!data || data->size != size) {
            device.io->SetLastError(ErrorShortReply);
            return 0;
        }
        std::memcpy(out, query.data() + data->offset, size);
        return 1;
    });
}

}  // namespace

NvmeCommand BuildLogPageCommand(std::uint8_t logId, std::uint32_t size) {
    NvmeCommand command;
    command.dword[0] = NvmeOpcodeGetLogPage;
    command.dword[1] = NamespaceAll;
    command.dword[10] = logId | ((size / 4 - 1) << 16);
    return command;
}

std::vector<std::uint8_t> BuildLogPageQuery(std::uint8_t logId, std::uint32_t size) {
    return BuildPropertyQuery(size, ProtocolDataTypeLogPage, PropertyIdDeviceProtocolSpecific, logId, 0);
}

NvmeCommand BuildHealthLogCommand() { return BuildLogPageCommand(LogPageHealth, HealthLogSize); }

std::vector<std::uint8_t> BuildHealthLogQuery() { return BuildLogPageQuery(LogPageHealth, HealthLogSize); }

int ReadLogPage(platform::Device device, TransportWord transport, std::uint8_t logId, std::uint8_t* out,
                std::uint32_t size) {
    // A page is read in dwords; 16 bits of dword count reach far past any page read here.
    if (out == nullptr || size == 0 || size % 4 != 0 || size / 4 > 0x10000) return 0;
    return FailOnAllocationError([&] {
        std::vector<std::uint8_t> area(size, 0);
        const NvmeCommand command = BuildLogPageCommand(logId, size);
        int result = 0;
        switch (TransportCodeOf(transport)) {
            case TransportNvmeInbox:
                result = QueryLogProperty(device, logId, area.data(), size);
                break;
            case TransportNvmeMiniport: {
                const auto bytes = command.Bytes();
                result = SendMiniportNvmeCommand(device, bytes.data(), NvmeCommandSize, area.data(), size,
                                                 DirectionRead, 0, NvmeTimeoutSeconds, LogAttempts, nullptr);
                break;
            }
            case TransportUsbBridge: {
                const auto block = BuildBridgeBlock(command);
                result = SendBridgeNvmeCommand(device, block.data(), area.data(), size, DirectionRead, 1,
                                               static_cast<std::uint8_t>(NvmeTimeoutSeconds), LogAttempts, nullptr);
                break;
            }
            case TransportIntelRst: {
                const auto bytes = command.Bytes();
                result = SendIntelRstNvmeCommand(device, RstAddressOf(transport), bytes.data(), area.data(), size,
                                                 DirectionRead, 0, NvmeTimeoutSeconds, LogAttempts, nullptr);
                break;
            }
            default:
                return 0;  // ATA paths and unknown codes: the log is an NVMe page
        }
        if (result) std::copy(area.begin(), area.end(), out);
        return result;
    });
}

int ReadHealthLog(platform::Device device, TransportWord transport, HealthLogBytes& log) {
    return ReadLogPage(device, transport, LogPageHealth, log.data(), HealthLogSize);
}

}  // namespace devicecmd
