#pragma once
// The simulated machine's volumes and system directory, behind the volume seam: each
// volume has a name, mount paths, a drive type, sizes and a file system; a root path
// "X:\" is answered by the volume mounted at it.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Volumes.h"
#include "sim/SimFault.h"
#include "sim/SimMachine.h"

namespace sim {

enum SimVolumeError : std::uint32_t {
    ErrorPathNotFound = 3,
    ErrorNotReady = 21,
    ErrorBadLength = 24,
    ErrorMoreData = 234,
};

// The queries of the seam, each of which can be made to fail.
enum class SimVolumeQuery {
    VolumeName,      // subject: the mount point asked about
    PathNames,       // subject: the volume name
    DriveType,       // subject: the root path (fails as "no root directory")
    FreeClusters,    // subject: the root path
    FreeBytes,       // subject: the root path
    FileSystem,      // subject: the root path
    SystemDirectory  // subject: empty
};

struct SimVolume {
    std::wstring interfacePath;  // "\\?\STORAGE#Volume#...#{53f5630d-...}"
    std::wstring volumeName;     // "\\?\Volume{...}\"
    std::vector<std::wstring> mountPaths;  // "C:\", "D:\data\"; none: no mount path
    std::uint32_t driveType = platform::DriveFixed;
    std::wstring fileSystem = L"NTFS";
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 8;
};

class SimVolumes : public platform::Volumes {
public:
    explicit SimVolumes(SimMachine& machine) : machine_(machine) {}

    // Returns the volume's place; volumes are asked about in the order they were added.
    std::size_t Add(SimVolume volume);
    SimVolume& Volume(std::size_t index) {
        indexed_ = false;  // the caller may change names or mount paths
        return volumes_[index];
    }
    void SetSystemDirectory(std::wstring directory) { systemDirectory_ = std::move(directory); }
    // What GetDriveTypeW of an empty path reports: the current directory's drive.
    void SetCurrentDriveType(std::uint32_t type) { currentDriveType_ = type; }

    void Refuse(SimVolumeQuery query, std::wstring subject, std::uint32_t error, std::uint32_t times = Forever);
    // No refusal; the volumes stay as they were added.
    void Reset() { refusals_ = {}; }

    // platform::Volumes
    bool VolumeNameForMountPoint(std::wstring_view mountPoint, wchar_t* name, std::uint32_t capacity) override;
    bool VolumePathNames(std::wstring_view volumeName, wchar_t* paths, std::uint32_t capacity,
                         std::uint32_t* length) override;
    std::uint32_t DriveTypeOf(std::wstring_view rootPath) override;
    bool DiskFreeSpace(std::wstring_view rootPath, platform::ClusterSpace* space) override;
    bool DiskFreeSpaceEx(std::wstring_view rootPath, platform::ByteSpace* space) override;
    bool FileSystemName(std::wstring_view rootPath, wchar_t* name, std::uint32_t capacity) override;
    std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t capacity) override;
    std::wstring FromAnsiCodePage(std::string_view text) override;  // Windows-1252's first 256 as Latin-1

private:
    std::uint32_t TakeRefusal(SimVolumeQuery query, std::wstring_view subject);
    bool Fail(std::uint32_t error);
    // The volume mounted at exactly this root ("X:\"), or null.
    const SimVolume* AtRoot(std::wstring_view rootPath);
    // Lookups by lower-cased path, rebuilt after any change; the first volume wins.
    void Reindex();
    const SimVolume* Find(const std::unordered_map<std::wstring, std::size_t>& index, std::wstring_view path);

    SimMachine& machine_;
    std::vector<SimVolume> volumes_;
    std::wstring systemDirectory_ = L"C:\\Windows\\system32";
    std::uint32_t currentDriveType_ = platform::DriveFixed;
    SimRefusals<SimVolumeQuery> refusals_;
    bool indexed_ = false;
    std::unordered_map<std::wstring, std::size_t> byMountPath_;
    std::unordered_map<std::wstring, std::size_t> byInterface_;  // interface path and a backslash
    std::unordered_map<std::wstring, std::size_t> byName_;
};

}  // namespace sim
