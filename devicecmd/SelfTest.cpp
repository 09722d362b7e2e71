#include "devicecmd/SelfTest.h"

#include "devicecmd/Bytes.h"
#include "devicecmd/HealthLog.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/Requests.h"

namespace devicecmd {
namespace {

// A start sent again after a lost reply could abort or restart the test it began.
constexpr std::uint32_t SelfTestAttempts = 1;
constexpr std::uint32_t AdminQueue = 0;

}  // namespace

NvmeCommand BuildSelfTestCommand(SelfTestAction action) {
    NvmeCommand command;
    command.dword[0] = NvmeOpcodeDeviceSelfTest;
    command.dword[1] = NamespaceAll;
    command.dword[10] = static_cast<std::uint32_t>(action);
    return command;
}

NvmeCommand BuildSelfTestLogCommand() { return BuildLogPageCommand(LogPageSelfTest, SelfTestLogSize); }

std::vector<std::uint8_t> BuildSelfTestLogQuery() { return BuildLogPageQuery(LogPageSelfTest, SelfTestLogSize); }

int SendSelfTest(platform::Device device, TransportWord transport, SelfTestAction action) {
    const NvmeCommand command = BuildSelfTestCommand(action);
    const auto bytes = command.Bytes();
    switch (TransportCodeOf(transport)) {
        case TransportNvmeInbox:
            return SendStorageProtocolCommand(device, bytes.data(), NvmeCommandSize, nullptr, 0, DirectionNone,
                                              AdminQueue, NvmeTimeoutSeconds, SelfTestAttempts);
        case TransportNvmeMiniport:
            return SendMiniportNvmeCommand(device, bytes.data(), NvmeCommandSize, nullptr, 0, DirectionNone,
                                           AdminQueue, NvmeTimeoutSeconds, SelfTestAttempts, nullptr);
        case TransportUsbBridge: {
            const auto block = BuildBridgeBlock(command);
            return SendBridgeNvmeCommand(device, block.data(), nullptr, 0, DirectionNone, 1,
                                         static_cast<std::uint8_t>(NvmeTimeoutSeconds), SelfTestAttempts, nullptr);
        }
        case TransportIntelRst:
            return SendIntelRstNvmeCommand(device, RstAddressOf(transport), bytes.data(), nullptr, 0, DirectionNone,
                                           0, NvmeTimeoutSeconds, SelfTestAttempts, nullptr);
        default:
            return 0;  // an ATA path has no NVMe self-test
    }
}

int ReadSelfTestLog(platform::Device device, TransportWord transport, SelfTestLogBytes& log) {
    return ReadLogPage(device, transport, LogPageSelfTest, log.data(), SelfTestLogSize);
}

bool OffersSelfTest(const std::uint8_t* identifyController) {
    return (GetU16(identifyController + IdentifyOacsOffset) & OacsDeviceSelfTest) != 0;
}

std::uint16_t ExtendedTestMinutes(const std::uint8_t* identifyController) {
    return GetU16(identifyController + IdentifyEdsttOffset);
}

SelfTestVerdict VerdictOf(std::uint8_t resultCode) {
    switch (static_cast<SelfTestResult>(resultCode)) {
        case SelfTestResult::Passed: return SelfTestVerdict::Passed;
        case SelfTestResult::FatalError:
        case SelfTestResult::FailedSegmentUnknown:
        case SelfTestResult::FailedSegment: return SelfTestVerdict::Failed;
        case SelfTestResult::AbortedByCommand:
        case SelfTestResult::AbortedByReset:
        case SelfTestResult::AbortedByNamespaceRemoval:
        case SelfTestResult::AbortedByFormat:
        case SelfTestResult::AbortedUnknown:
        case SelfTestResult::AbortedBySanitize: return SelfTestVerdict::Aborted;
        default: return SelfTestVerdict::Unknown;
    }
}

std::optional<SelfTestLog> DecodeSelfTestLog(const std::uint8_t* log, std::size_t size) {
    if (log == nullptr || size < SelfTestLogSize) return std::nullopt;
    SelfTestLog decoded;
    decoded.currentOperation = log[0] & 0x0F;
    decoded.completionPercent = log[1] & 0x7F;
    for (std::size_t n = 0; n < SelfTestResultCount; ++n) {
        const std::uint8_t* r = log + SelfTestResultsOffset + n * SelfTestResultSize;
        SelfTestEntry entry;
        entry.resultCode = r[0] & 0x0F;
        if (entry.Result() == SelfTestResult::Unused) continue;
        entry.testCode = r[0] >> 4;
        entry.segment = r[1];
        entry.validFlags = r[2];
        entry.powerOnHours = GetU64(r + 4);
        if (entry.validFlags & SelfTestNsidValid) entry.nsid = GetU32(r + 12);
        if (entry.validFlags & SelfTestLbaValid) entry.failingLba = GetU64(r + 16);
        if (entry.validFlags & SelfTestStatusTypeValid) entry.statusCodeType = r[24] & 0x07;
        if (entry.validFlags & SelfTestStatusCodeValid) entry.statusCode = r[25];
        decoded.results.push_back(entry);
    }
    return decoded;
}

}  // namespace devicecmd
