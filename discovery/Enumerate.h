#pragma once
// The one pass that decides which drive the program serves: lists the storage adapters,
// disks and fixed volumes, walks the disks in the system's order, and stores the first
// accepted drive, with its logical drives, in slot 0 of the table.

#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "discovery/DiskInfo.h"
#include "discovery/IntelRstAdapters.h"
#include "platform/DeviceIo.h"
#include "platform/System.h"

namespace discovery {

constexpr std::size_t InterfacePathChars = 260;
constexpr std::size_t LocationChars = 260;
constexpr std::size_t InstanceIdChars = 200;
constexpr std::size_t DriverKeyChars = 44;

// Texts below are cut to their field's width less the terminator when copied.
struct StorageAdapterEntry {
    std::wstring interfacePath;
    std::wstring location;
    std::wstring instanceId;
    std::wstring driverKey;
    std::wstring service;  // the driver service (SPDRP_SERVICE); empty when unread
};

struct VolumeEntry {
    wchar_t driveLetter = 0;  // first character of the first mount path; 0 without one
    std::uint32_t partitionNumber = 0;
    std::wstring interfacePath;
};

struct PhysicalDiskEntry {
    std::wstring adapterPath;  // empty when no adapter matched
    std::wstring adapterLocation;
    std::wstring adapterInstanceId;
    std::wstring adapterService;  // the matched adapter's driver service, or empty
    std::uint32_t deviceNumber = 0;
    std::vector<VolumeEntry> volumes;
    platform::DevInst node = 0;  // the disk's device node, for the walk to its USB parent
};

// Lives only for one pass.
struct DiskInventory {
    std::vector<StorageAdapterEntry> adapters;
    std::vector<PhysicalDiskEntry> disks;
    // The system error of the first list (adapters, then disks) that could not be made at
    // all: the lists above are then incomplete, not empty by the machine's word.
    std::optional<std::uint32_t> listingError;
};

// The three lists, in the system's order; a failed query cuts a list short or skips a
// member as the listing rules say. *listed (when given) becomes false when the list could
// not be made at all; the last error then still holds the system's code.
std::vector<StorageAdapterEntry> ListStorageAdapters(platform::DeviceInstall& install, bool* listed = nullptr);
std::vector<PhysicalDiskEntry> ListPhysicalDisks(const platform::System& system,
                                                 const std::vector<StorageAdapterEntry>& adapters,
                                                 bool* listed = nullptr);
void ListFixedVolumes(const platform::System& system, std::vector<PhysicalDiskEntry>& disks);
DiskInventory BuildInventory(const platform::System& system);

// The transport a disk is first identified through, by its adapter's STORAGE_BUS_TYPE:
// NVMe the inbox driver; behind a known USB-to-NVMe bridge the bridge, whatever other bus
// the adapter reports (a UASP enclosure behind a third-party driver may say SCSI) but SATA;
// every other bus (SCSI, SAS, RAID, ...) the "NvmeMini" miniport through the adapter.
// Nothing (no command at all) for SATA, even below a known bridge (the disk interface's
// number then led to another drive), and for USB disks behind no known bridge.
std::optional<std::uint8_t> FirstTransport(std::uint8_t busType, bool behindNvmeBridge);

// On an adapter driven by Intel RST (its service in the table), what FirstTransport gave
// becomes RST's own pass-through, with the miniport after it, for a disk RST presents as an
// NVMe drive; any other disk there (a RAID volume, a SATA drive, or one whose device
// descriptor could not be read: none) gets nothing. Elsewhere it stays as it is.
std::optional<std::uint8_t> TransportBehindRst(std::optional<std::uint8_t> first, bool rstAdapter,
                                               std::optional<RstDisk> disk);

// Fills slot 0 with the accepted drive or leaves every slot null; always returns 1.
int EnumerateDrives(const platform::System& system, DriveTable& table);

// How far a pass goes. The window's pass stops at the first accepted drive and does not
// ask why a drive could not be opened; a survey for a report may do both.
struct PassScope {
    bool everyDisk = false;         // go on past the first accepted drive
    bool askWhyNotOpened = false;   // take the system error of a failed open (one more call)
    // Read the health log of every identified drive, not only of the accepted one (one
    // more command per identified drive).
    bool healthOfEveryDrive = false;
    // Called before the pass sends a disk anything: what it returns is kept until the pass
    // is done with the disk (a lock held around the disk's commands); null skips the disk,
    // which then is not in the result.
    std::function<std::shared_ptr<void>(std::int32_t disk)> holdDisk;
};

// What the pass made of one disk it came to.
enum class DiskVerdict {
    NotOpened,        // the physical drive could not be opened
    BusUnknown,       // the adapter descriptor could not be read
    Sata,             // on a SATA adapter, or no NVMe drive behind Intel RST: no command is sent
    UnknownUsb,       // on USB behind no known USB-to-NVMe bridge: no command is sent
    RaidVolume,       // an Intel RST RAID volume: no command is sent
    NotIdentified,    // identify failed through the drive and through its adapter
    OtherMaker,       // identified; the model does not name the maker
    OtherController,  // the maker's model, but controller detection did not accept it
    Accepted,
};

struct ExaminedDisk {
    std::unique_ptr<DiskInfo> record;  // as far as the pass filled it
    DiskVerdict verdict = DiskVerdict::NotOpened;
    std::uint32_t openError = 0;  // with askWhyNotOpened: the error of the failed open
    // The system error left by a health log read that failed (the call, a refusal or a
    // short reply); none when the log was read or not asked for.
    std::optional<std::uint32_t> healthError;
};

// The pass itself, in the system's disk order: every disk it came to, the accepted ones
// with their logical drives and command objects. EnumerateDrives is this pass with the
// window's scope, keeping the accepted drive. *listingError (when given) gets the
// inventory's listingError: a failed listing is not a machine without drives.
std::vector<ExaminedDisk> ExamineDrives(const platform::System& system, PassScope scope = {},
                                        std::optional<std::uint32_t>* listingError = nullptr);

// Opens "\\.\X:" for reading and writing; the handle is not usable on failure.
platform::UniqueHandle OpenVolumeByLetter(platform::DeviceIo& io, wchar_t letter);

}  // namespace discovery
