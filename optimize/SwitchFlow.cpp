#include "optimize/SwitchFlow.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>

#include "devicecmd/Detect.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/PrivateCmd.h"
#include "discovery/Identify.h"
#include "optimize/DriveLock.h"

namespace {

// Where the identify-controller data keeps the texts the record was made from.
constexpr std::size_t SerialNumberOffset = 4;
constexpr std::size_t ModelNumberOffset = 24;

std::wstring FormatError(const wchar_t* format, std::uint32_t errorCode) {
    std::array<wchar_t, 100> text{};
    std::swprintf(text.data(), text.size(), format, static_cast<int>(errorCode));
    return text.data();
}

// A text of the identify data, trimmed as the record's texts were.
template <std::size_t Size>
std::array<char, Size> IdentifyText(const std::uint8_t* identify, std::size_t offset) {
    std::array<char, Size> field{};
    std::memcpy(field.data(), identify + offset, Size - 1);
    discovery::TrimBlanks(Size - 1, field.data());
    return field;
}

template <std::size_t Size>
bool SameText(const std::array<char, Size>& a, const std::array<char, Size>& b) {
    return std::strncmp(a.data(), b.data(), Size) == 0;
}

std::wstring AdapterPathOf(const discovery::DiskInfo& drive) {
    const auto end = std::find(drive.adapterPath.begin(), drive.adapterPath.end(), L'\0');
    return std::wstring(drive.adapterPath.begin(), end);
}

// The drive as its transport reaches it; an unusable handle for a transport that has no path.
platform::UniqueHandle OpenDrive(const discovery::DiskInfo& drive, platform::DeviceIo& io) {
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

enum class Identity { Same, Other, NoAnswer };

// The confirmation box runs a message loop, and device changes are not followed while it
// does: the path may lead to another drive by now. Only the record's drive may get the
// vendor write and the forced shutdown after it.
Identity IdentifyAgain(const discovery::DiskInfo& drive, platform::Device device) {
    // Behind RST the disk's SCSI address leads to the drive: another one than the record's
    // is another drive (or the same one renumbered), never a place to send the write.
    if (drive.busType == devicecmd::TransportIntelRst) {
        const std::optional<devicecmd::ScsiAddress> now = devicecmd::ReadScsiAddress(device);
        if (!now) return Identity::NoAnswer;
        if (!drive.rstAddress || !devicecmd::SameScsiAddress(*now, *drive.rstAddress)) return Identity::Other;
    }
    std::array<std::uint8_t, devicecmd::IdentifyDataSize> identify{};
    if (!devicecmd::IdentifyDevice(device, drive.Transport(), identify.data(), 1, 0)) return Identity::NoAnswer;
    const bool same =
        SameText(IdentifyText<discovery::SerialNumberChars + 1>(identify.data(), SerialNumberOffset),
                 drive.serialNumber) &&
        SameText(IdentifyText<discovery::ModelNumberChars + 1>(identify.data(), ModelNumberOffset), drive.modelNumber);
    return same ? Identity::Same : Identity::Other;
}

}  // namespace

std::uint8_t NewOptimizeState(std::uint8_t optimizeState) {
    return optimizeState == devicecmd::OptimizeStateOptimized ? devicecmd::OptimizeStateOptimizable
                                                              : devicecmd::OptimizeStateOptimized;
}

std::wstring OpenDeviceErrorText(std::uint32_t errorCode) {
    return FormatError(L"Open Device error, error code %d", errorCode);
}

std::wstring SwitchErrorText(std::uint8_t newState, std::uint32_t errorCode) {
    return FormatError(newState == devicecmd::OptimizeStateOptimizable ? L"Close Optimize error, error code %d"
                                                                       : L"Open Optimize error, error code %d",
                       errorCode);
}

std::wstring DriveBusyText() {
    return L"The drive is busy: another Zephra program is talking to it. Try again in a moment.";
}

SwitchResult SwitchDrive(const discovery::DiskInfo& drive, platform::DeviceIo& io, std::uint8_t newState,
                         platform::DriveLockIo* locks) {
    SwitchResult result;
    result.newState = newState;
    // Held to the end: no poll lands between the second identify and the write.
    const DriveLock lock = DriveLock::Take(locks, drive.phyDriveIndex, SwitchLockWaitMs);
    if (!lock.MayProceed()) {
        result.outcome = lock.state() == DriveLock::State::Busy ? SwitchOutcome::DriveBusy : SwitchOutcome::OpenFailed;
        result.errorCode = lock.errorCode();
        return result;
    }
    discovery::TouchFirstSector(io, drive.phyDriveIndex);

    platform::UniqueHandle handle = OpenDrive(drive, io);
    if (!handle.IsUsable()) {
        result.outcome = SwitchOutcome::OpenFailed;
        result.errorCode = io.LastError();
        return result;
    }

    const Identity identity = IdentifyAgain(drive, handle.Ref());
    if (identity != Identity::Same) {
        result.outcome = SwitchOutcome::NotTheSameDrive;
        result.errorCode = identity == Identity::NoAnswer ? io.LastError() : ErrorDeviceNotConnected;
        result.refreshPanel = true;
        result.otherDrive = identity == Identity::Other;
        return result;
    }

    // A record without a command object was never accepted; it cannot be switched.
    const int switched = drive.privateCmd
                             ? drive.privateCmd->SetOptimize(handle.Ref(), drive.Transport(), result.newState)
                             : 0;
    if (!switched) result.errorCode = io.LastError();
    result.outcome = switched ? SwitchOutcome::Switched : SwitchOutcome::CommandFailed;
    return result;
}

SwitchResult RunOptimizeSwitch(const discovery::DiskInfo& drive, platform::DeviceIo& io,
                               platform::ShutdownIo& shutdown, SwitchUser& user, platform::DriveLockIo* locks) {
    SwitchResult result;
    result.newState = NewOptimizeState(drive.optimizeState);
    if (!user.ConfirmSwitch()) return result;

    // The drive's handle is closed by now: no box is shown while it is open.
    result = SwitchDrive(drive, io, result.newState, locks);
    switch (result.outcome) {
        case SwitchOutcome::Switched:
            result.outcome =
                ShutdownComputer(shutdown) ? SwitchOutcome::ShutdownRequested : SwitchOutcome::ShutdownRefused;
            break;
        case SwitchOutcome::CommandFailed:
            user.ShowSwitchError(SwitchErrorText(result.newState, result.errorCode));
            break;
        case SwitchOutcome::DriveBusy:
            user.ShowSwitchError(DriveBusyText());
            break;
        default:  // OpenFailed, NotTheSameDrive
            user.ShowSwitchError(OpenDeviceErrorText(result.errorCode));
            break;
    }
    return result;
}

int ShutdownComputer(platform::ShutdownIo& io) {
    return ShutdownComputer(io, platform::ExitShutdown | platform::ExitForce, platform::ReasonNone);
}

int ShutdownComputer(platform::ShutdownIo& io, std::uint32_t flags, std::uint32_t reason) {
    platform::Handle token = nullptr;
    if (!io.OpenProcessToken(platform::TokenAdjustPrivileges | platform::TokenQuery, &token)) return 0;
    // The token is closed whatever happens; the privilege stays enabled in the process.
    struct TokenCloser {
        platform::ShutdownIo& io;
        platform::Handle token;
        ~TokenCloser() { io.CloseHandle(token); }
    } closer{io, token};

    platform::PrivilegeId shutdownPrivilege;
    io.LookupPrivilege(platform::ShutdownPrivilegeName, &shutdownPrivilege);
    io.AdjustTokenPrivilege(token, shutdownPrivilege, platform::PrivilegeEnabled);
    // The adjustment succeeds even when the privilege is not held; the last error tells.
    if (io.LastError() != 0) return 0;
    return io.ExitSession(flags, reason) ? 1 : 0;
}
