#pragma once
// The seam to what KERNEL32 tells about volumes and the system: volume names and mount
// paths, drive types, free space, file-system names, the system directory, and text in
// the system's ANSI code page. One call through per system call; the Windows binding
// (WinVolumes.cpp) calls KERNEL32, the simulated machine (sim/SimVolumes.h) answers from
// its own volumes.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// GetDriveTypeW results.
enum DriveType : std::uint32_t {
    DriveUnknown = 0,
    DriveNoRootDir = 1,
    DriveRemovable = 2,
    DriveFixed = 3,
    DriveRemote = 4,
    DriveCdRom = 5,
    DriveRamDisk = 6,
};

struct ClusterSpace {  // GetDiskFreeSpaceW
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t freeClusters = 0;
    std::uint32_t totalClusters = 0;
};

struct ByteSpace {  // GetDiskFreeSpaceExW
    std::uint64_t freeBytesToCaller = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t totalFreeBytes = 0;
};

class Volumes {
public:
    virtual ~Volumes() = default;

    // GetVolumeNameForVolumeMountPointW: mountPoint ends in a backslash; the name
    // ("\\?\Volume{...}\") goes into `capacity` wide characters of name. name may be the
    // very buffer that holds mountPoint.
    virtual bool VolumeNameForMountPoint(std::wstring_view mountPoint, wchar_t* name,
                                            std::uint32_t capacity) = 0;
    // GetVolumePathNamesForVolumeNameW: the volume's mount paths, each terminated, the
    // list ended by an empty one; *length gets the characters needed. paths may be the
    // very buffer that holds volumeName.
    virtual bool VolumePathNames(std::wstring_view volumeName, wchar_t* paths, std::uint32_t capacity,
                                    std::uint32_t* length) = 0;
    virtual std::uint32_t DriveTypeOf(std::wstring_view rootPath) = 0;
    virtual bool DiskFreeSpace(std::wstring_view rootPath, ClusterSpace* space) = 0;
    virtual bool DiskFreeSpaceEx(std::wstring_view rootPath, ByteSpace* space) = 0;
    // GetVolumeInformationW asked only for the file-system name.
    virtual bool FileSystemName(std::wstring_view rootPath, wchar_t* name, std::uint32_t capacity) = 0;
    // GetSystemDirectoryW: the characters written without the terminator, 0 on failure
    // (or the size needed when capacity is too small).
    virtual std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t capacity) = 0;
    // MultiByteToWideChar with the ANSI code page.
    virtual std::wstring FromAnsiCodePage(std::string_view text) = 0;
};

// The real system's volumes (Windows build only).
Volumes& SystemVolumes();

}  // namespace platform
