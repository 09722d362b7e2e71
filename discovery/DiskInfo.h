#pragma once
// The record of the accepted drive, its logical drives, and the table that owns them.
// Only slot 0 of the table is ever filled; a null slot 0 means no drive was found.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "devicecmd/HealthDecode.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Transport.h"

namespace discovery {

constexpr std::size_t FileSystemChars = 8;
constexpr std::size_t FirmwareRevChars = 8;
constexpr std::size_t SerialNumberChars = 20;
constexpr std::size_t ModelNumberChars = 40;
constexpr std::size_t AdapterPathChars = 260;  // terminator included
constexpr std::size_t LogicalDriveSlots = 32;
constexpr std::size_t DriveTableSlots = 16;

// One volume of the accepted drive that carries a drive letter.
struct LogicalDriveInfo {
    wchar_t driveLetter = 0;                                // upper-case letter
    std::array<wchar_t, FileSystemChars + 1> fileSystem{};  // e.g. NTFS; terminated
    std::uint32_t bytesPerSector = 0;                       // 512 when sized from the byte counts
    std::uint64_t totalSectors = 0;
    std::uint64_t freeSectors = 0;
    std::int32_t isSystemVolume = 0;  // 1 when it holds the system directory
};

// One physical drive, found, identified and accepted. Holds no open handle: users open
// the physical drive (busType 2 and 4) or adapterPath (busType 3) again.
struct DiskInfo {
    std::int32_t isRightDevice = 0;  // 1 once controller detection accepted the drive
    std::int32_t phyDriveIndex = 0;  // the N of \\.\PHYSICALDRIVEN
    // Identify texts, blanks trimmed at both ends, always terminated.
    std::array<char, FirmwareRevChars + 1> firmwareRev{};
    std::array<char, SerialNumberChars + 1> serialNumber{};
    std::array<char, ModelNumberChars + 1> modelNumber{};
    std::uint64_t totalSectors = 0;
    std::uint32_t bytesPerSector = 0;
    // Filled from slot 0 on without gaps; empty slots null.
    std::array<std::unique_ptr<LogicalDriveInfo>, LogicalDriveSlots> logicalDrives;
    std::unique_ptr<devicecmd::CPrivateCmd> privateCmd;  // set only on an accepted drive
    std::uint8_t ctrlFamily = 0;                         // vendor layout code: 5 once accepted
    std::uint8_t busType = 0;                            // devicecmd::TransportCode
    std::array<wchar_t, AdapterPathChars> adapterPath{};  // storage adapter's interface path, or empty
    std::int32_t hasSystemVolume = 0;
    std::uint8_t optimizeState = 0;  // as controller detection read it; 0xFF when unread
    // The drive's health log as the pass read it; none when it was not asked for, was
    // refused or came back short.
    std::optional<devicecmd::DriveHealth> health;
    // Behind Intel RST: the SCSI address read when the drive was identified. Every later
    // command goes there; a disk that reports another one is no longer this drive.
    std::optional<devicecmd::ScsiAddress> rstAddress;

    // The transport word every device command for this drive takes.
    devicecmd::TransportWord Transport() const {
        const devicecmd::TransportWord word = devicecmd::MakeTransport(busType, ctrlFamily);
        return rstAddress ? devicecmd::WithRstAddress(word, *rstAddress) : word;
    }
};

// 16 slots, of which only slot 0 is used; owns its records.
using DriveTable = std::array<std::unique_ptr<DiskInfo>, DriveTableSlots>;

// Frees, slot by slot, each record's logical drives, then its command object, then the
// record, nulling each pointer as it goes. Harmless on an empty table and when repeated.
void ReleaseDrives(DriveTable& table);

}  // namespace discovery
