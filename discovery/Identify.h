#pragma once
// Identification and acceptance of one physical drive: the transport it answers on, its
// identify texts and capacity, and whether its controller is the served family.

#include <cstddef>
#include <cstdint>
#include <string>

#include "devicecmd/Transport.h"
#include "discovery/DiskInfo.h"
#include "platform/DeviceIo.h"

namespace discovery {

// The open device and the transport word a drive is talked to through. IdentifyDrive may
// replace the handle (by one on the adapter path) and change the transport.
struct DevicePair {
    platform::UniqueHandle handle;
    devicecmd::TransportWord transport = 0;

    platform::Device Ref() const { return handle.Ref(); }
};

// "\\.\PHYSICALDRIVEN" as the pass and identification open it.
std::wstring PhysicalDrivePath(std::int32_t driveNumber);

// Identifies the drive through busType's path (2, 4 or 5 through the pair, falling back to
// the adapter path with 3 when that fails; 3 through the adapter path at once), settles
// busType and reads the capacity from the physical drive. 1 or 0; any other busType is 0
// without a command.
int IdentifyDrive(platform::DeviceIo& io, DevicePair& pair, DiskInfo& disk);

// Runs controller detection; on success attaches the command object and sets ctrlFamily
// to 5. 1 or 0.
int IsRightDevice(DevicePair& pair, DiskInfo& disk);

// A plain 512-byte read of sector 0 of \\.\PhysicalDriveN; nothing is looked at or reported.
void TouchFirstSector(platform::DeviceIo& io, std::int32_t driveNumber);

// Trims blanks (0x20 only) at both ends of a fixed-width text in place; text holds
// length characters and a terminator.
void TrimBlanks(std::size_t length, char* text);

// True when the model number, read in the ANSI code page, contains "Tavik".
bool NamesTheMaker(const std::wstring& wideModelNumber);

}  // namespace discovery
