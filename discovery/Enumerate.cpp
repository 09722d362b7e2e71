#include "discovery/Enumerate.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "devicecmd/HealthLog.h"
#include "devicecmd/Transport.h"
#include "discovery/DebugLog.h"
#include "discovery/Identify.h"
#include "discovery/IntelRstAdapters.h"
#include "discovery/StorageCodes.h"
#include "discovery/StorageReplies.h"
#include "discovery/UsbBridges.h"

namespace discovery {
namespace {

using platform::DeviceInfoData;
using platform::DeviceInfoSet;
using platform::DeviceInstall;

constexpr std::size_t SystemDirectoryChars = 260;
constexpr std::size_t VolumePathChars = 260;
constexpr std::size_t ServiceChars = 256;
// A device tree is shallow; a walk this long means the system's answers loop.
constexpr int MaxTreeDepth = 256;

// The text of a zero-filled buffer of `capacity` characters, cut to `width` - 1.
std::wstring TextOf(const wchar_t* buffer, std::size_t capacity, std::size_t width) {
    const std::size_t limit = std::min(capacity, width - 1);
    const wchar_t* end = std::find(buffer, buffer + limit, L'\0');
    return std::wstring(buffer, end);
}

std::wstring Cut(const std::wstring& text, std::size_t width) {
    return text.substr(0, std::min(text.find(L'\0'), width - 1));
}

// Destroys a device-information set at the end of a listing.
class InfoSetGuard {
public:
    InfoSetGuard(DeviceInstall& install, DeviceInfoSet set) : install_(install), set_(set) {}
    InfoSetGuard(const InfoSetGuard&) = delete;
    InfoSetGuard& operator=(const InfoSetGuard&) = delete;
    ~InfoSetGuard() {
        if (IsUsable()) install_.DestroyDeviceInfoList(set_);
    }
    bool IsUsable() const { return set_ != nullptr && set_ != platform::InvalidDeviceInfoSet(); }

private:
    DeviceInstall& install_;
    DeviceInfoSet set_;
};

// The listing frame shared by the three classes: members in order until enumeration
// fails, the detail of a member fails, or visit returns false. False when the list could
// not be made at all (the last error says why).
template <typename Visit>
bool ForEachInterface(DeviceInstall& install, const platform::Guid& interfaceClass, std::uint32_t flags,
                      Visit&& visit) {
    const DeviceInfoSet set = install.GetClassDevs(interfaceClass, flags);
    const InfoSetGuard guard(install, set);
    if (!guard.IsUsable()) return false;
    for (std::uint32_t index = 0;; ++index) {
        platform::DeviceInterfaceData member;
        if (!install.EnumDeviceInterfaces(set, interfaceClass, index, &member)) return true;
        std::uint32_t required = 0;
        install.GetDeviceInterfaceDetailSize(set, member, &required);
        std::wstring path;
        DeviceInfoData device;
        if (!install.GetDeviceInterfaceDetail(set, member, required, &path, &device)) return true;
        if (!visit(set, Cut(path, InterfacePathChars), device)) return true;
    }
}

// CM_DRP_DRIVER of a device node; empty when it can't be read.
std::wstring DriverKeyOf(DeviceInstall& install, platform::DevInst device) {
    std::array<wchar_t, DriverKeyChars> key{};
    std::uint32_t capacity = static_cast<std::uint32_t>(key.size());
    if (install.GetDevNodeRegistryProperty(device, platform::CmDrpDriver, key.data(), &capacity) !=
        platform::ConfigSuccess)
        return {};
    return TextOf(key.data(), key.size(), DriverKeyChars);
}

// STORAGE_DEVICE_NUMBER of an interface path opened with no access rights.
bool DeviceNumberOf(platform::DeviceIo& io, const std::wstring& path, std::uint32_t share,
                    std::uint32_t* deviceNumber, std::uint32_t* partitionNumber) {
    const platform::UniqueHandle handle = platform::UniqueHandle::Open(
        io, path, platform::AccessNone, share, platform::OpenExisting, platform::AttributesNone);
    if (!handle.IsUsable()) return false;
    std::array<std::uint8_t, DeviceNumberSize> number{};
    std::uint32_t returned = 0;
    if (!io.IoControl(handle.Get(), IoctlStorageGetDeviceNumber, nullptr, 0, number.data(),
                      static_cast<std::uint32_t>(number.size()), &returned))
        return false;
    const std::optional<DeviceNumber> reply = DeviceNumberFromReply(number.data(), returned, number.size());
    if (!reply) {
        io.SetLastError(devicecmd::ErrorShortReply);
        return false;
    }
    *deviceNumber = reply->device;
    *partitionNumber = reply->partition;
    return true;
}

// The adapter descriptor's STORAGE_BUS_TYPE, asked of the open physical drive.
bool QueryBusType(platform::DeviceIo& io, platform::Handle drive, std::uint8_t* busType) {
    std::array<std::uint8_t, AdapterQueryLayout.Size()> query{};
    PutU32(query.data() + AdapterQueryLayout[devicecmd::Spq::PropertyId], StorageAdapterProperty);
    PutU32(query.data() + AdapterQueryLayout[devicecmd::Spq::QueryType], PropertyStandardQuery);
    std::array<std::uint8_t, AdapterDescriptorSize> descriptor{};
    std::uint32_t returned = 0;
    if (!io.IoControl(drive, IoctlStorageQueryProperty, query.data(), static_cast<std::uint32_t>(query.size()),
                      descriptor.data(), static_cast<std::uint32_t>(descriptor.size()), &returned))
        return false;
    const std::optional<std::uint8_t> reply = BusTypeFromReply(descriptor.data(), returned, descriptor.size());
    if (!reply) {
        io.SetLastError(devicecmd::ErrorShortReply);
        return false;
    }
    *busType = *reply;
    return true;
}

// What RST presents the open disk as, from its storage device descriptor; none when the
// descriptor can't be read.
std::optional<RstDisk> QueryRstDisk(platform::DeviceIo& io, platform::Handle drive) {
    std::array<std::uint8_t, AdapterQueryLayout.Size()> query{};
    PutU32(query.data() + AdapterQueryLayout[devicecmd::Spq::PropertyId], StorageDeviceProperty);
    PutU32(query.data() + AdapterQueryLayout[devicecmd::Spq::QueryType], PropertyStandardQuery);
    std::vector<std::uint8_t> descriptor(DeviceDescriptorSize, 0);
    std::uint32_t returned = 0;
    if (!io.IoControl(drive, IoctlStorageQueryProperty, query.data(), static_cast<std::uint32_t>(query.size()),
                      descriptor.data(), static_cast<std::uint32_t>(descriptor.size()), &returned))
        return std::nullopt;
    const std::optional<DeviceIdentity> identity = DeviceIdentityFromReply(descriptor.data(), returned, descriptor.size());
    if (!identity) {
        io.SetLastError(devicecmd::ErrorShortReply);
        return std::nullopt;
    }
    return ClassifyRstDisk(identity->vendor, identity->product);
}

void GatherLogicalDrives(const platform::System& system, const PhysicalDiskEntry& entry, wchar_t systemLetter,
                         DiskInfo& disk) {
    std::size_t slot = 0;
    for (const VolumeEntry& volume : entry.volumes) {
        // Folder mounts can bring more volumes than slots; those past the last slot are left out.
        if (slot == disk.logicalDrives.size()) break;
        const wchar_t letter = volume.driveLetter;
        if (letter == 0) continue;
        if (!OpenVolumeByLetter(system.io, letter).IsUsable()) continue;

        auto logical = std::make_unique<LogicalDriveInfo>();
        const std::wstring root{letter, L':', L'\\'};
        platform::ClusterSpace clusters;
        if (system.volumes.DiskFreeSpace(root, &clusters)) {
            logical->bytesPerSector = clusters.bytesPerSector;
            logical->freeSectors = std::uint64_t{clusters.freeClusters} * clusters.sectorsPerCluster;
            logical->totalSectors = std::uint64_t{clusters.totalClusters} * clusters.sectorsPerCluster;
        } else {
            platform::ByteSpace bytes;
            if (system.volumes.DiskFreeSpaceEx(root, &bytes)) {
                logical->freeSectors = bytes.freeBytesToCaller >> 9;
                logical->totalSectors = bytes.totalBytes >> 9;
            }
            logical->bytesPerSector = 512;
        }
        logical->driveLetter = letter;
        if (letter == systemLetter) {
            logical->isSystemVolume = 1;
            disk.hasSystemVolume = 1;
        }
        auto& fileSystem = logical->fileSystem;
        if (!system.volumes.FileSystemName(root, fileSystem.data(), static_cast<std::uint32_t>(fileSystem.size())))
            fileSystem.fill(L'\0');
        fileSystem.back() = L'\0';
        disk.logicalDrives[slot++] = std::move(logical);
    }
}

// The accepted drives, each with its logical drives.
void LogSummary(platform::Volumes& volumes, const std::vector<ExaminedDisk>& examined) {
    for (const ExaminedDisk& seen : examined) {
        if (seen.verdict != DiskVerdict::Accepted) continue;
        const DiskInfo* disk = seen.record.get();
        const std::wstring model = volumes.FromAnsiCodePage(disk->modelNumber.data());
        DebugLog(LogDetails, "PhyDisk: %S %d %d %d\n", model.c_str(), disk->phyDriveIndex, disk->isRightDevice,
                 static_cast<int>(disk->busType));
        for (const auto& logical : disk->logicalDrives) {
            if (!logical) continue;
            DebugLog(LogDetails, "LogDisk:%c,%S;", static_cast<int>(logical->driveLetter),
                     logical->fileSystem.data());
        }
        DebugLog(LogDetails, "\n");
    }
}

}  // namespace

std::optional<std::uint8_t> FirstTransport(std::uint8_t busType, bool behindNvmeBridge) {
    // The NVMe driver itself answers for its disks; no bridge stands in front of them.
    if (busType == StorageBusNvme) return devicecmd::TransportNvmeInbox;
    // The disk's own handle says SATA: no bridge is in front of it, whatever the device node
    // that gave its number says. A SAT translator takes the bridge's CDB 0xA1 for a reset.
    if (busType == StorageBusSata) return std::nullopt;
    // The bridge chip, not the adapter's word, says what the disk behind it speaks.
    if (behindNvmeBridge) return devicecmd::TransportUsbBridge;
    switch (busType) {
        // Behind any other USB device there may be a SCSI-to-ATA translator, which takes
        // the bridge's CDB 0xA1 for ATA PASS-THROUGH(12), a reset. SAS and RAID disks
        // may sit behind one too: they get only the adapter's miniport request.
        case StorageBusUsb: return std::nullopt;
        default: return devicecmd::TransportNvmeMiniport;
    }
}

std::optional<std::uint8_t> TransportBehindRst(std::optional<std::uint8_t> first, bool rstAdapter,
                                               std::optional<RstDisk> disk) {
    // SATA and USB stay as they are: RST in AHCI mode reports SATA, and USB is no RST disk.
    if (!rstAdapter || !first || *first == devicecmd::TransportUsbBridge) return first;
    // A volume's PathId need not address one drive, and a vendor write must never reach a
    // member; a SATA drive has no NVMe to speak to.
    if (disk != RstDisk::Nvme) return std::nullopt;
    return devicecmd::TransportIntelRst;
}

std::vector<StorageAdapterEntry> ListStorageAdapters(DeviceInstall& install, bool* listed) {
    std::vector<StorageAdapterEntry> adapters;
    auto visit = [&](DeviceInfoSet set, const std::wstring& path, const DeviceInfoData& device) {
        std::array<wchar_t, LocationChars> location{};
        std::uint32_t required = 0;
        if (!install.GetDeviceRegistryProperty(set, device, platform::SpdrpLocationInformation, location.data(),
                                               static_cast<std::uint32_t>(location.size()), &required))
            return false;  // the listing ends at the first adapter without a location
        std::array<wchar_t, InstanceIdChars> instanceId{};
        if (install.GetDeviceId(device.devInst, instanceId.data(), static_cast<std::uint32_t>(instanceId.size())) !=
            platform::ConfigSuccess)
            instanceId.fill(L'\0');
        // The service decides only whether RST's pass-through is tried; unread, it is not.
        std::array<wchar_t, ServiceChars> service{};
        if (!install.GetDeviceRegistryProperty(set, device, platform::SpdrpService, service.data(),
                                               static_cast<std::uint32_t>(service.size()), &required))
            service.fill(L'\0');
        adapters.push_back({path, TextOf(location.data(), location.size(), LocationChars),
                            TextOf(instanceId.data(), instanceId.size(), InstanceIdChars),
                            DriverKeyOf(install, device.devInst), TextOf(service.data(), service.size(), ServiceChars)});
        return true;
    };
    const bool made = ForEachInterface(install, platform::StoragePortInterface,
                                       platform::ClassDevsInterfaces | platform::ClassDevsAllClasses, visit);
    if (listed) *listed = made;
    return adapters;
}

std::vector<PhysicalDiskEntry> ListPhysicalDisks(const platform::System& system,
                                                 const std::vector<StorageAdapterEntry>& adapters, bool* listed) {
    std::vector<PhysicalDiskEntry> disks;
    DeviceInstall& install = system.install;
    // The first listed adapter whose driver key is that of the node; an unreadable
    // (empty) key matches none.
    auto adapterOf = [&](platform::DevInst node) -> const StorageAdapterEntry* {
        const std::wstring key = DriverKeyOf(install, node);
        if (key.empty()) return nullptr;
        for (const StorageAdapterEntry& adapter : adapters)
            if (adapter.driverKey == key) return &adapter;
        return nullptr;
    };
    auto visit = [&](DeviceInfoSet, const std::wstring& path, const DeviceInfoData& device) {
        PhysicalDiskEntry disk;
        disk.node = device.devInst;
        platform::DevInst node = device.devInst;
        platform::DevInst parent = 0;
        for (int depth = 0; depth < MaxTreeDepth && install.GetParent(&parent, node) == platform::ConfigSuccess;
             ++depth) {
            node = parent;
            if (const StorageAdapterEntry* adapter = adapterOf(node)) {
                disk.adapterPath = adapter->interfacePath;
                disk.adapterLocation = adapter->location;
                disk.adapterInstanceId = adapter->instanceId;
                disk.adapterService = adapter->service;
                break;
            }
        }
        std::uint32_t partition = 0;
        if (DeviceNumberOf(system.io, path, platform::ShareWrite, &disk.deviceNumber, &partition))
            disks.push_back(std::move(disk));
        return true;  // a disk without a number is left out; the listing goes on
    };
    const bool made = ForEachInterface(install, platform::DiskInterface,
                                       platform::ClassDevsInterfaces | platform::ClassDevsPresent, visit);
    if (listed) *listed = made;
    return disks;
}

void ListFixedVolumes(const platform::System& system, std::vector<PhysicalDiskEntry>& disks) {
    platform::Volumes& volumes = system.volumes;
    auto visit = [&](DeviceInfoSet, const std::wstring& path, const DeviceInfoData&) {
        // The interface path with a backslash becomes, in place, the volume's name and then
        // the list of its mount paths. A volume whose names can't be read is left out.
        std::array<wchar_t, VolumePathChars> buffer{};
        const std::wstring mountPoint = Cut(path + L"\\", VolumePathChars);
        std::copy(mountPoint.begin(), mountPoint.end(), buffer.begin());
        const auto capacity = static_cast<std::uint32_t>(buffer.size());
        if (!volumes.VolumeNameForMountPoint(buffer.data(), buffer.data(), capacity)) return true;
        buffer.back() = L'\0';
        std::uint32_t length = 0;
        if (!volumes.VolumePathNames(buffer.data(), buffer.data(), capacity, &length)) return true;
        buffer.back() = L'\0';
        if (volumes.DriveTypeOf(buffer.data()) != platform::DriveFixed) return true;

        std::uint32_t deviceNumber = 0;
        std::uint32_t partition = 0;
        if (!DeviceNumberOf(system.io, path, platform::ShareRead | platform::ShareWrite, &deviceNumber, &partition))
            return true;
        const auto disk = std::find_if(disks.begin(), disks.end(), [&](const PhysicalDiskEntry& candidate) {
            return candidate.deviceNumber == deviceNumber;
        });
        if (disk != disks.end()) disk->volumes.push_back({buffer[0], partition, path});
        return true;
    };
    ForEachInterface(system.install, platform::VolumeInterface,
                     platform::ClassDevsInterfaces | platform::ClassDevsPresent, visit);
}

DiskInventory BuildInventory(const platform::System& system) {
    DiskInventory inventory;
    bool listed = true;
    inventory.adapters = ListStorageAdapters(system.install, &listed);
    if (!listed) inventory.listingError = system.io.LastError();
    inventory.disks = ListPhysicalDisks(system, inventory.adapters, &listed);
    if (!listed && !inventory.listingError) inventory.listingError = system.io.LastError();
    ListFixedVolumes(system, inventory.disks);
    return inventory;
}

platform::UniqueHandle OpenVolumeByLetter(platform::DeviceIo& io, wchar_t letter) {
    std::wstring path = L"\\\\.\\Z:";
    path[4] = letter;
    return platform::UniqueHandle::Open(io, path, platform::AccessRead | platform::AccessWrite,
                                        platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                        platform::AttributeNormal);
}

namespace {

// A refused or short log leaves the drive without health; the pass goes on either way.
// Returns the system error of a failed read, taken at once, before another call.
std::optional<std::uint32_t> ReadHealth(platform::DeviceIo& io, const DevicePair& pair, DiskInfo& disk) {
    devicecmd::HealthLogBytes log{};
    disk.health.reset();
    if (!devicecmd::ReadHealthLog(pair.Ref(), pair.transport, log)) return io.LastError();
    disk.health = devicecmd::DecodeHealthLog(log.data(), log.size());
    return std::nullopt;
}

}  // namespace

int EnumerateDrives(const platform::System& system, DriveTable& table) {
    ReleaseDrives(table);
    for (ExaminedDisk& disk : ExamineDrives(system))
        if (disk.verdict == DiskVerdict::Accepted) table[0] = std::move(disk.record);
    return 1;
}

std::vector<ExaminedDisk> ExamineDrives(const platform::System& system, PassScope scope,
                                        std::optional<std::uint32_t>* listingError) {
    platform::DeviceIo& io = system.io;
    DebugLog(LogProgress, "Get Disk information start..\n");
    std::vector<ExaminedDisk> examined;

    std::array<wchar_t, SystemDirectoryChars> systemDirectory{};
    if (system.volumes.SystemDirectory(systemDirectory.data(), static_cast<std::uint32_t>(systemDirectory.size())) == 0)
        systemDirectory[0] = L'\0';
    const wchar_t systemLetter = systemDirectory[0];

    DebugLog(LogProgress, "Enum device...\n");
    const DiskInventory inventory = BuildInventory(system);
    if (inventory.listingError)
        DebugLog(LogErrors, "Enum device error! The device list could not be made, error code = %d\n",
                 static_cast<int>(*inventory.listingError));
    if (listingError) *listingError = inventory.listingError;

    for (const PhysicalDiskEntry& entry : inventory.disks) {
        // 0xFFFFFFFF is no drive; numbers past the signed range can't be a drive index.
        if (entry.deviceNumber > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) continue;
        const auto number = static_cast<std::int32_t>(entry.deviceNumber);
        std::shared_ptr<void> hold;
        if (scope.holdDisk && !(hold = scope.holdDisk(number))) continue;
        ExaminedDisk& seen = examined.emplace_back();
        seen.record = std::make_unique<DiskInfo>();
        DiskInfo* const disk = seen.record.get();
        disk->phyDriveIndex = number;
        TouchFirstSector(io, number);
        DevicePair pair;
        pair.handle = platform::UniqueHandle::Open(io, PhysicalDrivePath(number),
                                                   platform::AccessRead | platform::AccessWrite,
                                                   platform::ShareRead | platform::ShareWrite,
                                                   platform::OpenExisting, platform::AttributeNormal);
        if (!pair.handle.IsUsable()) {
            if (scope.askWhyNotOpened) seen.openError = io.LastError();
            continue;
        }
        DebugLog(LogProgress, "Enum device find Physicaldrive%d\n", number);

        const std::wstring adapterPath = Cut(entry.adapterPath, AdapterPathChars);
        std::copy(adapterPath.begin(), adapterPath.end(), disk->adapterPath.begin());
        disk->busType = devicecmd::TransportSat;

        std::uint8_t busType = 0;
        seen.verdict = DiskVerdict::BusUnknown;
        if (!QueryBusType(io, pair.handle.Get(), &busType)) {
            DebugLog(LogErrors, "Get Disk bus type error! error code = %d\n", static_cast<int>(io.LastError()));
            continue;
        }
        // Asked of every disk that the NVMe driver does not serve: the USB ancestor decides,
        // whatever bus type the adapter in front of it reports.
        const bool behindBridge =
            busType != StorageBusNvme && NvmeBridgeAbove(system.install, entry.node) != nullptr;
        std::optional<std::uint8_t> transport = FirstTransport(busType, behindBridge);
        seen.verdict = busType == StorageBusUsb ? DiskVerdict::UnknownUsb : DiskVerdict::Sata;
        if (transport && *transport != devicecmd::TransportUsbBridge && IsIntelRstService(entry.adapterService)) {
            const std::optional<RstDisk> rstDisk = QueryRstDisk(io, pair.handle.Get());
            if (rstDisk == RstDisk::RaidVolume) seen.verdict = DiskVerdict::RaidVolume;
            transport = TransportBehindRst(transport, true, rstDisk);
        }
        // SATA, USB behind no known bridge, anything but an NVMe drive behind RST: no command
        if (!transport) continue;
        disk->busType = *transport;
        pair.transport = devicecmd::MakeTransport(disk->busType, 0);

        seen.verdict = DiskVerdict::NotIdentified;
        if (!IdentifyDrive(io, pair, *disk)) continue;
        // The maker's word first: another maker's drive gets no vendor command.
        seen.verdict = DiskVerdict::OtherMaker;
        bool accepted = false;
        if (NamesTheMaker(system.volumes.FromAnsiCodePage(disk->modelNumber.data()))) {
            seen.verdict = DiskVerdict::OtherController;
            accepted = IsRightDevice(pair, *disk) != 0;
        }
        // The standard health log goes over the path identify took, last; only a survey
        // asks drives other than the accepted one.
        if (accepted || scope.healthOfEveryDrive) seen.healthError = ReadHealth(io, pair, *disk);
        if (!accepted) continue;

        pair.handle.Reset();
        GatherLogicalDrives(system, entry, systemLetter, *disk);
        seen.verdict = DiskVerdict::Accepted;
        if (!scope.everyDisk) break;
    }

    LogSummary(system.volumes, examined);
    DebugLog(LogProgress, "Get Disk information end..\n");
    return examined;
}

}  // namespace discovery
