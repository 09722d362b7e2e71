#include "sim/SimVolumes.h"

#include <algorithm>
#include <cwctype>
#include <limits>

namespace sim {
namespace {

std::wstring Lower(std::wstring_view text) {
    std::wstring lower(text);
    for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return lower;
}

std::uint32_t Clamp32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

std::size_t SimVolumes::Add(SimVolume volume) {
    volumes_.push_back(std::move(volume));
    indexed_ = false;
    return volumes_.size() - 1;
}

void SimVolumes::Reindex() {
    if (indexed_) return;
    byMountPath_.clear();
    byInterface_.clear();
    byName_.clear();
    for (std::size_t i = 0; i < volumes_.size(); ++i) {
        const SimVolume& volume = volumes_[i];
        byInterface_.emplace(Lower(volume.interfacePath + L"\\"), i);
        byName_.emplace(Lower(volume.volumeName), i);
        for (const std::wstring& mount : volume.mountPaths) byMountPath_.emplace(Lower(mount), i);
    }
    indexed_ = true;
}

const SimVolume* SimVolumes::Find(const std::unordered_map<std::wstring, std::size_t>& index, std::wstring_view path) {
    const auto found = index.find(Lower(path));
    return found == index.end() ? nullptr : &volumes_[found->second];
}

void SimVolumes::Refuse(SimVolumeQuery query, std::wstring subject, std::uint32_t error, std::uint32_t times) {
    refusals_.Add(query, subject, error, times);
}

std::uint32_t SimVolumes::TakeRefusal(SimVolumeQuery query, std::wstring_view subject) {
    return refusals_.Take(query, subject);
}

bool SimVolumes::Fail(std::uint32_t error) {
    machine_.SetLastError(error);
    return false;
}

const SimVolume* SimVolumes::AtRoot(std::wstring_view rootPath) {
    Reindex();
    return Find(byMountPath_, rootPath);
}

bool SimVolumes::VolumeNameForMountPoint(std::wstring_view mountPoint, wchar_t* name, std::uint32_t capacity) {
    const std::wstring asked(mountPoint);  // name may overlap mountPoint
    if (const std::uint32_t error = TakeRefusal(SimVolumeQuery::VolumeName, asked)) return Fail(error);
    Reindex();
    const SimVolume* volume = Find(byInterface_, asked);
    if (volume == nullptr) volume = Find(byMountPath_, asked);
    if (volume == nullptr) return Fail(ErrorFileNotFound);
    if (name == nullptr || volume->volumeName.size() + 1 > capacity) return Fail(ErrorInsufficientBuffer);
    std::copy(volume->volumeName.begin(), volume->volumeName.end(), name);
    name[volume->volumeName.size()] = L'\0';
    return true;
}

bool SimVolumes::VolumePathNames(std::wstring_view volumeName, wchar_t* paths, std::uint32_t capacity,
                                 std::uint32_t* length) {
    const std::wstring asked(volumeName);  // paths may overlap volumeName
    if (length != nullptr) *length = 0;
    if (const std::uint32_t error = TakeRefusal(SimVolumeQuery::PathNames, asked)) return Fail(error);
    Reindex();
    const SimVolume* volume = Find(byName_, asked);
    if (volume == nullptr) return Fail(ErrorFileNotFound);
    std::wstring list;
    for (const std::wstring& mount : volume->mountPaths) list += mount + L'\0';
    list += L'\0';
    if (list.size() < 2) list += L'\0';  // no mount path: one empty string, then the end
    if (length != nullptr) *length = static_cast<std::uint32_t>(list.size());
    if (paths == nullptr || list.size() > capacity) return Fail(ErrorMoreData);
    std::copy(list.begin(), list.end(), paths);
    return true;
}

std::uint32_t SimVolumes::DriveTypeOf(std::wstring_view rootPath) {
    if (TakeRefusal(SimVolumeQuery::DriveType, rootPath)) return platform::DriveNoRootDir;
    if (rootPath.empty()) return currentDriveType_;
    const SimVolume* volume = AtRoot(rootPath);
    return volume == nullptr ? platform::DriveNoRootDir : volume->driveType;
}

bool SimVolumes::DiskFreeSpace(std::wstring_view rootPath, platform::ClusterSpace* space) {
    if (const std::uint32_t error = TakeRefusal(SimVolumeQuery::FreeClusters, rootPath)) return Fail(error);
    const SimVolume* volume = AtRoot(rootPath);
    if (volume == nullptr) return Fail(ErrorPathNotFound);
    if (space == nullptr) return Fail(ErrorInvalidParameter);
    const std::uint64_t clusterBytes = std::uint64_t{volume->bytesPerSector} * volume->sectorsPerCluster;
    if (clusterBytes == 0) return Fail(ErrorNotReady);
    space->sectorsPerCluster = volume->sectorsPerCluster;
    space->bytesPerSector = volume->bytesPerSector;
    space->freeClusters = Clamp32(volume->freeBytes / clusterBytes);
    space->totalClusters = Clamp32(volume->totalBytes / clusterBytes);
    return true;
}

bool SimVolumes::DiskFreeSpaceEx(std::wstring_view rootPath, platform::ByteSpace* space) {
    if (const std::uint32_t error = TakeRefusal(SimVolumeQuery::FreeBytes, rootPath)) return Fail(error);
    const SimVolume* volume = AtRoot(rootPath);
    if (volume == nullptr) return Fail(ErrorPathNotFound);
    if (space == nullptr) return Fail(ErrorInvalidParameter);
    space->freeBytesToCaller = volume->freeBytes;
    space->totalBytes = volume->totalBytes;
    space->totalFreeBytes = volume->freeBytes;
    return true;
}

bool SimVolumes::FileSystemName(std::wstring_view rootPath, wchar_t* name, std::uint32_t capacity) {
    if (const std::uint32_t error = TakeRefusal(SimVolumeQuery::FileSystem, rootPath)) return Fail(error);
    const SimVolume* volume = AtRoot(rootPath);
    if (volume == nullptr) return Fail(ErrorPathNotFound);
    if (name == nullptr || volume->fileSystem.size() + 1 > capacity) return Fail(ErrorBadLength);
    std::copy(volume->fileSystem.begin(), volume->fileSystem.end(), name);
    name[volume->fileSystem.size()] = L'\0';
    return true;
}

std::uint32_t SimVolumes::SystemDirectory(wchar_t* buffer, std::uint32_t capacity) {
    if (const std::uint32_t error = TakeRefusal(SimVolumeQuery::SystemDirectory, L"")) {
        Fail(error);
        return 0;
    }
    const auto size = static_cast<std::uint32_t>(systemDirectory_.size());
    if (buffer == nullptr || size + 1 > capacity) return size + 1;  // the room needed
    std::copy(systemDirectory_.begin(), systemDirectory_.end(), buffer);
    buffer[size] = L'\0';
    return size;
}

std::wstring SimVolumes::FromAnsiCodePage(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

}  // namespace sim
