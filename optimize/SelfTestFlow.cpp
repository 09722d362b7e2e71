#include "optimize/SelfTestFlow.h"

#include <algorithm>
#include <array>

#include "devicecmd/Detect.h"

namespace {

std::wstring AdapterPathOf(const discovery::DiskInfo& drive) {
    const auto end = std::find(drive.adapterPath.begin(), drive.adapterPath.end(), L'\0');
    return std::wstring(drive.adapterPath.begin(), end);
}

bool SameResults(const devicecmd::SelfTestLog& a, const devicecmd::SelfTestLog& b) {
    if (a.results.size() != b.results.size()) return false;
    for (std::size_t i = 0; i < a.results.size(); ++i) {
        const devicecmd::SelfTestEntry& x = a.results[i];
        const devicecmd::SelfTestEntry& y = b.results[i];
        if (x.resultCode != y.resultCode || x.testCode != y.testCode || x.segment != y.segment ||
            x.validFlags != y.validFlags || x.powerOnHours != y.powerOnHours || x.nsid != y.nsid ||
            x.failingLba != y.failingLba || x.statusCodeType != y.statusCodeType || x.statusCode != y.statusCode)
            return false;
    }
    return true;
}

}  // namespace

platform::UniqueHandle OpenDriveForNvme(const discovery::DiskInfo& drive, platform::DeviceIo& io) {
    std::wstring path;
    switch (drive.busType) {
        case devicecmd::TransportNvmeInbox:
        case devicecmd::TransportUsbBridge:
        case devicecmd::TransportIntelRst:  // its SCSI address leads to the port
            path = L"\\\\.\\physicaldrive" + std::to_wstring(drive.phyDriveIndex);
            break;
        case devicecmd::TransportNvmeMiniport:
            path = AdapterPathOf(drive);
            break;
        default:
            return {};
    }
    return platform::UniqueHandle::Open(io, path, platform::AccessRead | platform::AccessWrite,
                                        platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                        platform::AttributesNone);
}

SelfTestDrive::SelfTestDrive(const discovery::DiskInfo& drive, platform::DeviceIo& io)
    : drive_(drive), io_(io), handle_(OpenDriveForNvme(drive, io)) {
    if (!handle_.IsUsable()) openError_ = io.LastError();
}

std::optional<SelfTestSupport> SelfTestDrive::Support() {
    std::array<std::uint8_t, devicecmd::IdentifyDataSize> identify{};
    if (!devicecmd::IdentifyDevice(handle_.Ref(), drive_.Transport(), identify.data(), 1, 0)) return std::nullopt;
    return SelfTestSupport{devicecmd::OffersSelfTest(identify.data()), devicecmd::ExtendedTestMinutes(identify.data())};
}

int SelfTestDrive::Send(devicecmd::SelfTestAction action) {
    return devicecmd::SendSelfTest(handle_.Ref(), drive_.Transport(), action);
}

std::optional<devicecmd::SelfTestLog> SelfTestDrive::ReadLog(devicecmd::SelfTestLogBytes* bytes) {
    devicecmd::SelfTestLogBytes log{};
    if (!devicecmd::ReadSelfTestLog(handle_.Ref(), drive_.Transport(), log)) return std::nullopt;
    if (bytes) *bytes = log;
    return devicecmd::DecodeSelfTestLog(log.data(), log.size());
}

FollowResult FollowSelfTest(SelfTestDrive& drive, const std::function<void(std::uint32_t ms)>& wait,
                            const std::function<void(const devicecmd::SelfTestLog&)>& progress,
                            std::uint32_t maxWaits, bool waitFirst, std::uint32_t pollMs) {
    FollowResult result;
    if (waitFirst) wait(pollMs);
    for (std::uint32_t waits = waitFirst ? 1 : 0;; ++waits) {
        result.log = drive.ReadLog();
        ++result.reads;
        if (!result.log) {
            result.end = FollowEnd::LogFailed;
            return result;
        }
        if (!result.log->Running()) return result;
        if (progress) progress(*result.log);
        if (waits == maxWaits) {
            result.end = FollowEnd::TooLong;
            return result;
        }
        wait(pollMs);
    }
}

const devicecmd::SelfTestEntry* NewResult(const devicecmd::SelfTestLog& before, const devicecmd::SelfTestLog& after) {
    if (after.results.empty() || SameResults(before, after)) return nullptr;
    return &after.results.front();
}

std::uint32_t SelfTestMaxWaits(std::uint8_t testCode, std::uint16_t extendedMinutes, std::uint32_t pollMs) {
    constexpr std::uint64_t ShortMinutes = 2;  // the short test's longest time by the NVMe standard
    constexpr std::uint64_t LeastExtendedMinutes = 30;
    const std::uint64_t expected =
        testCode == 1 ? ShortMinutes : std::max<std::uint64_t>(extendedMinutes, LeastExtendedMinutes);
    const std::uint64_t ms = (expected * 3 + 10) * 60 * 1000;
    return static_cast<std::uint32_t>(ms / std::max<std::uint32_t>(pollMs, 1));
}
