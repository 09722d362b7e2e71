// Binds the volume seam to KERNEL32.
#include "platform/Volumes.h"

#include <windows.h>

namespace platform {
namespace {

class WinVolumes final : public Volumes {
public:
    // Inputs are copied first: the program passes the output buffer as the input too.
    bool VolumeNameForMountPoint(std::wstring_view mountPoint, wchar_t* name, std::uint32_t capacity) override {
        const std::wstring input(mountPoint);
        return ::GetVolumeNameForVolumeMountPointW(input.c_str(), name, capacity) != FALSE;
    }
    bool VolumePathNames(std::wstring_view volumeName, wchar_t* paths, std::uint32_t capacity,
                            std::uint32_t* length) override {
        const std::wstring input(volumeName);
        DWORD needed = 0;
        const BOOL ok = ::GetVolumePathNamesForVolumeNameW(input.c_str(), paths, capacity, &needed);
        if (length) *length = needed;
        return ok != FALSE;
    }
    std::uint32_t DriveTypeOf(std::wstring_view rootPath) override {
        const std::wstring input(rootPath);
        return ::GetDriveTypeW(input.c_str());
    }
    bool DiskFreeSpace(std::wstring_view rootPath, ClusterSpace* space) override {
        const std::wstring input(rootPath);
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
        if (!::GetDiskFreeSpaceW(input.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
            return false;
        *space = ClusterSpace{sectorsPerCluster, bytesPerSector, freeClusters, totalClusters};
        return true;
    }
    bool DiskFreeSpaceEx(std::wstring_view rootPath, ByteSpace* space) override {
        const std::wstring input(rootPath);
        ULARGE_INTEGER toCaller{}, total{}, totalFree{};
        if (!::GetDiskFreeSpaceExW(input.c_str(), &toCaller, &total, &totalFree)) return false;
        *space = ByteSpace{toCaller.QuadPart, total.QuadPart, totalFree.QuadPart};
        return true;
    }
    bool FileSystemName(std::wstring_view rootPath, wchar_t* name, std::uint32_t capacity) override {
        const std::wstring input(rootPath);
        return ::GetVolumeInformationW(input.c_str(), nullptr, 0, nullptr, nullptr, nullptr, name, capacity) != FALSE;
    }
    std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t capacity) override {
        return ::GetSystemDirectoryW(buffer, capacity);
    }
    std::wstring FromAnsiCodePage(std::string_view text) override {
        if (text.empty()) return {};
        const int size = static_cast<int>(text.size());
        const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
        if (length <= 0) return {};
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], length);
        return wide;
    }
};

}  // namespace

Volumes& SystemVolumes() {
    static WinVolumes volumes;  // stateless: every call goes straight to the system
    return volumes;
}

}  // namespace platform
