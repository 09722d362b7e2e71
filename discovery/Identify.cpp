#include "discovery/Identify.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "devicecmd/Detect.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/PrivateCmd.h"
#include "discovery/DebugLog.h"
#include "discovery/StorageCodes.h"
#include "discovery/StorageReplies.h"

namespace discovery {
namespace {

// Where the identify-controller data keeps the texts.
enum IdentifyOffset : std::size_t {
    SerialNumberOffset = 4,
    ModelNumberOffset = 24,
    FirmwareRevOffset = 64,
};

template <std::size_t Size>
void TakeIdentifyText(std::array<char, Size>& field, const std::uint8_t* identify, std::size_t offset) {
    constexpr std::size_t length = Size - 1;
    std::memcpy(field.data(), identify + offset, length);
    field[length] = '\0';
    TrimBlanks(length, field.data());
}

std::wstring TextOf(const std::array<wchar_t, AdapterPathChars>& path) {
    const auto end = std::find(path.begin(), path.end(), L'\0');
    return std::wstring(path.begin(), end);
}

// Capacity through the physical drive, whatever path commands take. A failed query (or a
// drive that can't be opened for it) leaves a capacity of 0 sectors of 0 bytes.
void ReadCapacity(platform::DeviceIo& io, DiskInfo& disk) {
    disk.totalSectors = 0;
    disk.bytesPerSector = 0;
    const platform::UniqueHandle drive = platform::UniqueHandle::Open(
        io, PhysicalDrivePath(disk.phyDriveIndex), platform::AccessRead | platform::AccessWrite,
        platform::ShareRead | platform::ShareWrite, platform::OpenExisting, platform::AttributeNormal);
    if (!drive.IsUsable()) return;
    std::array<std::uint8_t, DiskGeometryExSize> geometry{};
    std::uint32_t returned = 0;
    if (!io.IoControl(drive.Get(), IoctlDiskGetDriveGeometryEx, nullptr, 0, geometry.data(),
                      static_cast<std::uint32_t>(geometry.size()), &returned))
        return;
    const std::optional<DiskCapacity> capacity = CapacityFromReply(geometry.data(), returned, geometry.size());
    if (!capacity) {
        io.SetLastError(devicecmd::ErrorShortReply);
        return;
    }
    disk.totalSectors = capacity->totalSectors;
    disk.bytesPerSector = capacity->bytesPerSector;
}

}  // namespace

std::wstring PhysicalDrivePath(std::int32_t driveNumber) {
    return L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(driveNumber);
}

int IdentifyDrive(platform::DeviceIo& io, DevicePair& pair, DiskInfo& disk) {
    using namespace devicecmd;
    auto setTransport = [&](std::uint8_t code) {
        disk.busType = code;
        pair.transport = (pair.transport & ~TransportWord{0xFF}) | code;
    };
    // Which path a drive is tried on first is the caller's to know (the bridge's commands
    // only behind a known bridge); an ATA transport here gets no command.
    if (disk.busType != TransportNvmeInbox && disk.busType != TransportUsbBridge &&
        disk.busType != TransportNvmeMiniport && disk.busType != TransportIntelRst)
        return 0;
    setTransport(disk.busType);
    disk.rstAddress.reset();
    // RST's address is read once, here; every later command to the drive goes to it.
    if (disk.busType == TransportIntelRst) {
        disk.rstAddress = ReadScsiAddress(pair.Ref());
        if (disk.rstAddress) pair.transport = WithRstAddress(pair.transport, *disk.rstAddress);
    }

    std::array<std::uint8_t, IdentifyDataSize> identify{};
    const bool adapterOnly = disk.busType == TransportNvmeMiniport;
    const bool unaddressed = disk.busType == TransportIntelRst && !disk.rstAddress;
    if (adapterOnly || unaddressed || !IdentifyDevice(pair.Ref(), pair.transport, identify.data(), 1, 0)) {
        // An RST driver that has the pass-through but does not pass the command: no NVMe
        // drive answers here, and the miniport request is for drivers without it.
        if (disk.busType == TransportIntelRst && !unaddressed && io.LastError() == ErrorRstNotPassed) {
            DebugLog(LogErrors, "Identify data for phydrive%d error, errcode=%d\n", disk.phyDriveIndex,
                     static_cast<int>(ErrorRstNotPassed));
            return 0;
        }
        // The storage driver (or an RST driver older than its pass-through) refused, or only
        // the adapter speaks: the NVMe miniport through the adapter.
        disk.rstAddress.reset();
        pair.transport = MakeTransport(TransportNvmeMiniport, VendorLayoutOf(pair.transport));
        setTransport(TransportNvmeMiniport);
        pair.handle.Reset();
        pair.handle = platform::UniqueHandle::Open(io, TextOf(disk.adapterPath),
                                                   platform::AccessRead | platform::AccessWrite,
                                                   platform::ShareRead | platform::ShareWrite,
                                                   platform::OpenExisting, platform::AttributeNormal);
        if (!IdentifyDevice(pair.Ref(), pair.transport, identify.data(), 1, 0)) {
            const std::uint32_t error = io.LastError();
            DebugLog(LogDetails, "Identify data error, errcode = %d\n", static_cast<int>(error));
            DebugLog(LogErrors, "Identify data for phydrive%d error, errcode=%d\n", disk.phyDriveIndex,
                     static_cast<int>(error));
            return 0;
        }
    }

    TakeIdentifyText(disk.firmwareRev, identify.data(), FirmwareRevOffset);
    TakeIdentifyText(disk.modelNumber, identify.data(), ModelNumberOffset);
    TakeIdentifyText(disk.serialNumber, identify.data(), SerialNumberOffset);
    ReadCapacity(io, disk);
    return 1;
}

int IsRightDevice(DevicePair& pair, DiskInfo& disk) {
    DebugLog(LogProgress, "Physcialdrive%d is right device start...\n", disk.phyDriveIndex);
    auto command = std::make_unique<devicecmd::CPrivateCMD7305>();
    if (devicecmd::DetectController(pair.Ref(), pair.transport, disk.optimizeState)) {
        disk.isRightDevice = 1;
        disk.privateCmd = std::move(command);
        disk.ctrlFamily = devicecmd::VendorLayout7305;
        return 1;
    }
    command.reset();
    disk.isRightDevice = 0;
    disk.privateCmd.reset();
    DebugLog(LogProgress, "Physcialdrive%d is right device end...\n", disk.phyDriveIndex);
    return 0;
}

void TouchFirstSector(platform::DeviceIo& io, std::int32_t driveNumber) {
    if (driveNumber < 0) return;
    const platform::UniqueHandle drive = platform::UniqueHandle::Open(
        io, L"\\\\.\\PhysicalDrive" + std::to_wstring(driveNumber), platform::AccessRead, platform::ShareRead,
        platform::OpenExisting, platform::AttributesNone);
    if (!drive.IsUsable()) return;
    std::array<std::uint8_t, 512> sector{};
    std::uint32_t read = 0;
    io.Seek(drive.Get(), 0, platform::SeekBegin);
    io.Read(drive.Get(), sector.data(), static_cast<std::uint32_t>(sector.size()), &read);
}

void TrimBlanks(std::size_t length, char* text) {
    if (text == nullptr || length == 0) return;
    std::size_t front = 0;
    std::size_t back = length - 1;
    bool frontStopped = false;
    bool backStopped = false;
    while (!frontStopped || !backStopped) {
        if (!frontStopped) {
            if (front < length && text[front] == ' ')
                ++front;
            else
                frontStopped = true;
        }
        if (!backStopped) {
            if (text[back] == ' ') {
                text[back] = '\0';
                if (back == 0)
                    backStopped = true;
                else
                    --back;
            } else {
                backStopped = true;
            }
        }
    }
    // Move the kept text and its terminator to the front; zero what it leaves behind.
    std::size_t kept = 0;
    while (front + kept < length && text[front + kept] != '\0') ++kept;
    std::memmove(text, text + front, kept);
    std::memset(text + kept, 0, length + 1 - kept);
}

bool NamesTheMaker(const std::wstring& wideModelNumber) {
    return wideModelNumber.find(L"Tavik") != std::wstring::npos;
}

}  // namespace discovery
