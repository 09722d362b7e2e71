#include "demo/TracedSystem.h"

#include <cinttypes>

namespace demo {

std::string TraceHex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIX64, value);
    return text;
}

std::string TraceText(std::wstring_view text) {
    std::string out = "\"";
    for (const wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[12];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c) & 0xFFFF);
            out += escape;
        }
    }
    return out + "\"";
}

std::string TraceGuid(const platform::Guid& g) {
    char text[48];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                  g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

void TraceLog::Write(const std::string& call, const std::string& result) {
    std::lock_guard<std::mutex> lock(write_);
    ++sequence_;
    if (!file_) return;
    const char* thread = std::this_thread::get_id() == uiThread_ ? "ui" : "worker";
    std::fprintf(file_, "%06" PRIu64 " %s %s -> %s\n", sequence_, thread, call.c_str(), result.c_str());
    std::fflush(file_);
}

std::uint64_t TraceLog::Lines() const {
    std::lock_guard<std::mutex> lock(write_);
    return sequence_;
}

namespace {

using platform::Handle;

std::string Num(std::uint64_t value) { return std::to_string(value); }
std::string Ptr(const void* value) { return TraceHex(reinterpret_cast<std::uintptr_t>(value)); }
std::string Bool(bool ok) { return ok ? "true" : "false"; }

class TracedDeviceIo final : public platform::DeviceIo {
public:
    TracedDeviceIo(TraceLog& log, platform::DeviceIo& inner) : log_(log), inner_(inner) {}

    Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                std::uint32_t flags) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const Handle handle = inner_.Open(path, access, share, creation, flags);
        std::string result = platform::IsUsable(handle) ? Ptr(handle) : "INVALID_HANDLE_VALUE" + Error();
        log_.Write("CreateFileW(" + TraceText(path) + ", " + TraceHex(access) + ", " + TraceHex(share) + ", " +
                       Num(creation) + ", " + TraceHex(flags) + ")",
                   result);
        return handle;
    }
    bool Close(Handle handle) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const bool ok = inner_.Close(handle);
        log_.Write("CloseHandle(" + Ptr(handle) + ")", Result(ok));
        return ok;
    }
    bool IoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* bytesReturned) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        std::uint32_t returned = 0;
        const bool ok = inner_.IoControl(handle, code, in, inSize, out, outSize, &returned);
        if (bytesReturned) *bytesReturned = returned;
        log_.Write("DeviceIoControl(" + Ptr(handle) + ", " + TraceHex(code) + ", in " + Num(inSize) + ", out " +
                       Num(outSize) + ")",
                   ok ? "true, " + Num(returned) + " bytes" : Result(false));
        return ok;
    }
    bool Read(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        std::uint32_t read = 0;
        const bool ok = inner_.Read(handle, buffer, size, &read);
        if (bytesRead) *bytesRead = read;
        log_.Write("ReadFile(" + Ptr(handle) + ", " + Num(size) + ")",
                   ok ? "true, " + Num(read) + " bytes" : Result(false));
        return ok;
    }
    std::uint32_t Seek(Handle handle, std::int32_t distance, std::uint32_t origin) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::uint32_t position = inner_.Seek(handle, distance, origin);
        log_.Write("SetFilePointer(" + Ptr(handle) + ", " + std::to_string(distance) + ", " + Num(origin) + ")",
                   position == 0xFFFFFFFF ? "0xFFFFFFFF" + Error() : Num(position));
        return position;
    }
    std::uint32_t LastError() override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::uint32_t error = inner_.LastError();
        log_.Write("GetLastError()", Num(error));
        return error;
    }
    void SetLastError(std::uint32_t error) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        inner_.SetLastError(error);
        log_.Write("SetLastError(" + Num(error) + ")", "void");
    }
    void DebugOutput(std::wstring_view text) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        inner_.DebugOutput(text);
        log_.Write("OutputDebugStringW(" + TraceText(text) + ")", "void");
    }

private:
    // The failure's last error, read without a trace line of its own.
    std::string Error() { return ", error " + Num(inner_.LastError()); }
    std::string Result(bool ok) { return ok ? "true" : "false" + Error(); }

    TraceLog& log_;
    platform::DeviceIo& inner_;
};

class TracedDeviceInstall final : public platform::DeviceInstall {
public:
    TracedDeviceInstall(TraceLog& log, platform::DeviceInstall& inner, platform::DeviceIo& errors)
        : log_(log), inner_(inner), errors_(errors) {}

    platform::DeviceInfoSet GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const platform::DeviceInfoSet set = inner_.GetClassDevs(interfaceClass, flags);
        log_.Write("SetupDiGetClassDevsW(" + TraceGuid(interfaceClass) + ", " + TraceHex(flags) + ")",
                   set == platform::InvalidDeviceInfoSet() ? "INVALID_HANDLE_VALUE" + Error() : Ptr(set));
        return set;
    }
    bool DestroyDeviceInfoList(platform::DeviceInfoSet set) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const bool ok = inner_.DestroyDeviceInfoList(set);
        log_.Write("SetupDiDestroyDeviceInfoList(" + Ptr(set) + ")", Result(ok));
        return ok;
    }
    bool EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& interfaceClass, std::uint32_t index,
                              platform::DeviceInterfaceData* member) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const bool ok = inner_.EnumDeviceInterfaces(set, interfaceClass, index, member);
        log_.Write("SetupDiEnumDeviceInterfaces(" + Ptr(set) + ", " + TraceGuid(interfaceClass) + ", " + Num(index) +
                       ")",
                   Result(ok));
        return ok;
    }
    bool GetDeviceInterfaceDetailSize(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                      std::uint32_t* required) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        std::uint32_t needed = 0;
        const bool ok = inner_.GetDeviceInterfaceDetailSize(set, member, &needed);
        if (required) *required = needed;
        log_.Write("SetupDiGetDeviceInterfaceDetailW(" + Ptr(set) + ", null, 0)",
                   Result(ok) + ", required " + Num(needed));
        return ok;
    }
    bool GetDeviceInterfaceDetail(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                  std::uint32_t detailSize, std::wstring* path,
                                  platform::DeviceInfoData* device) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const bool ok = inner_.GetDeviceInterfaceDetail(set, member, detailSize, path, device);
        std::string result = Result(ok);
        if (ok && path) result += ", " + TraceText(*path);
        if (ok && device) result += ", devinst " + Num(device->devInst);
        log_.Write("SetupDiGetDeviceInterfaceDetailW(" + Ptr(set) + ", " + Num(detailSize) + ")", result);
        return ok;
    }
    bool GetDeviceRegistryProperty(platform::DeviceInfoSet set, const platform::DeviceInfoData& device,
                                   std::uint32_t property, wchar_t* buffer, std::uint32_t capacity,
                                   std::uint32_t* required) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        std::uint32_t needed = 0;
        const bool ok = inner_.GetDeviceRegistryProperty(set, device, property, buffer, capacity, &needed);
        if (required) *required = needed;
        std::string result = Result(ok);
        if (ok && buffer && capacity) result += ", " + TraceText(std::wstring_view(buffer, Terminated(buffer, capacity)));
        log_.Write("SetupDiGetDeviceRegistryPropertyW(" + Ptr(set) + ", devinst " + Num(device.devInst) + ", " +
                       TraceHex(property) + ", " + Num(capacity) + ")",
                   result);
        return ok;
    }
    std::uint32_t GetParent(platform::DevInst* parent, platform::DevInst child) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        platform::DevInst found = 0;
        const std::uint32_t result = inner_.GetParent(&found, child);
        if (parent) *parent = found;
        log_.Write("CM_Get_Parent(" + Num(child) + ")",
                   TraceHex(result) + (result == platform::ConfigSuccess ? ", devinst " + Num(found) : ""));
        return result;
    }
    std::uint32_t GetDevNodeRegistryProperty(platform::DevInst device, std::uint32_t property, wchar_t* buffer,
                                             std::uint32_t* capacity) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::uint32_t asked = capacity ? *capacity : 0;
        const std::uint32_t result = inner_.GetDevNodeRegistryProperty(device, property, buffer, capacity);
        std::string text = TraceHex(result);
        if (result == platform::ConfigSuccess && buffer && asked) {
            // A text list shows each of its texts.
            std::size_t at = 0;
            do {
                const std::size_t length = Terminated(buffer + at, asked - at);
                text += ", " + TraceText(std::wstring_view(buffer + at, length));
                at += length + 1;
            } while (property == platform::CmDrpHardwareId && at < asked && buffer[at] != 0);
        }
        log_.Write("CM_Get_DevNode_Registry_PropertyW(" + Num(device) + ", " + TraceHex(property) + ", " +
                       Num(asked) + ")",
                   text);
        return result;
    }
    std::uint32_t GetDeviceId(platform::DevInst device, wchar_t* buffer, std::uint32_t capacity) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::uint32_t result = inner_.GetDeviceId(device, buffer, capacity);
        std::string text = TraceHex(result);
        if (result == platform::ConfigSuccess && buffer && capacity)
            text += ", " + TraceText(std::wstring_view(buffer, Terminated(buffer, capacity)));
        log_.Write("CM_Get_Device_IDW(" + Num(device) + ", " + Num(capacity) + ")", text);
        return result;
    }

private:
    static std::size_t Terminated(const wchar_t* buffer, std::size_t capacity) {
        std::size_t n = 0;
        while (n < capacity && buffer[n] != 0) ++n;
        return n;
    }
    std::string Error() { return ", error " + Num(errors_.LastError()); }
    std::string Result(bool ok) { return ok ? "true" : "false" + Error(); }

    TraceLog& log_;
    platform::DeviceInstall& inner_;
    platform::DeviceIo& errors_;  // the machine's last error, untraced
};

class TracedVolumes final : public platform::Volumes {
public:
    TracedVolumes(TraceLog& log, platform::Volumes& inner, platform::DeviceIo& errors)
        : log_(log), inner_(inner), errors_(errors) {}

    bool VolumeNameForMountPoint(std::wstring_view mountPoint, wchar_t* name, std::uint32_t capacity) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::string point = TraceText(mountPoint);  // name may overwrite it
        const bool ok = inner_.VolumeNameForMountPoint(mountPoint, name, capacity);
        log_.Write("GetVolumeNameForVolumeMountPointW(" + point + ", " + Num(capacity) + ")",
                   ok ? "true, " + TraceText(Terminated(name, capacity)) : Result(false));
        return ok;
    }
    bool VolumePathNames(std::wstring_view volumeName, wchar_t* paths, std::uint32_t capacity,
                            std::uint32_t* length) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::string volume = TraceText(volumeName);
        std::uint32_t needed = 0;
        const bool ok = inner_.VolumePathNames(volumeName, paths, capacity, &needed);
        if (length) *length = needed;
        log_.Write("GetVolumePathNamesForVolumeNameW(" + volume + ", " + Num(capacity) + ")",
                   (ok ? "true, first " + TraceText(Terminated(paths, capacity)) : Result(false)) + ", length " +
                       Num(needed));
        return ok;
    }
    std::uint32_t DriveTypeOf(std::wstring_view rootPath) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::uint32_t type = inner_.DriveTypeOf(rootPath);
        log_.Write("GetDriveTypeW(" + TraceText(rootPath) + ")", Num(type));
        return type;
    }
    bool DiskFreeSpace(std::wstring_view rootPath, platform::ClusterSpace* space) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        platform::ClusterSpace got;
        const bool ok = inner_.DiskFreeSpace(rootPath, &got);
        if (space) *space = got;
        log_.Write("GetDiskFreeSpaceW(" + TraceText(rootPath) + ")",
                   ok ? "true, " + Num(got.sectorsPerCluster) + " " + Num(got.bytesPerSector) + " " +
                            Num(got.freeClusters) + " " + Num(got.totalClusters)
                      : Result(false));
        return ok;
    }
    bool DiskFreeSpaceEx(std::wstring_view rootPath, platform::ByteSpace* space) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        platform::ByteSpace got;
        const bool ok = inner_.DiskFreeSpaceEx(rootPath, &got);
        if (space) *space = got;
        log_.Write("GetDiskFreeSpaceExW(" + TraceText(rootPath) + ")",
                   ok ? "true, " + Num(got.freeBytesToCaller) + " " + Num(got.totalBytes) + " " +
                            Num(got.totalFreeBytes)
                      : Result(false));
        return ok;
    }
    bool FileSystemName(std::wstring_view rootPath, wchar_t* name, std::uint32_t capacity) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const bool ok = inner_.FileSystemName(rootPath, name, capacity);
        log_.Write("GetVolumeInformationW(" + TraceText(rootPath) + ", " + Num(capacity) + ")",
                   ok ? "true, " + TraceText(Terminated(name, capacity)) : Result(false));
        return ok;
    }
    std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t capacity) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        const std::uint32_t length = inner_.SystemDirectory(buffer, capacity);
        std::string result = Num(length);
        if (length && length < capacity) result += ", " + TraceText(Terminated(buffer, capacity));
        log_.Write("GetSystemDirectoryW(" + Num(capacity) + ")", result);
        return length;
    }
    std::wstring FromAnsiCodePage(std::string_view text) override {
        std::lock_guard<std::recursive_mutex> lock(log_.MachineLock());
        std::wstring wide = inner_.FromAnsiCodePage(text);
        log_.Write("MultiByteToWideChar(CP_ACP, " + Num(text.size()) + " bytes)", TraceText(wide));
        return wide;
    }

private:
    static std::wstring_view Terminated(const wchar_t* buffer, std::size_t capacity) {
        if (!buffer) return {};
        std::size_t n = 0;
        while (n < capacity && buffer[n] != 0) ++n;
        return std::wstring_view(buffer, n);
    }
    std::string Result(bool ok) { return ok ? "true" : "false, error " + Num(errors_.LastError()); }

    TraceLog& log_;
    platform::Volumes& inner_;
    platform::DeviceIo& errors_;
};

class TracedDeviceWatch final : public platform::DeviceWatchIo {
public:
    TracedDeviceWatch(TraceLog& log, platform::DeviceWatchIo& inner) : log_(log), inner_(inner) {}

    std::uint32_t LocateDevNode(platform::DevInst* node, const wchar_t* deviceId, std::uint32_t flags) override {
        platform::DevInst found = 0;
        const std::uint32_t result = inner_.LocateDevNode(&found, deviceId, flags);
        if (node) *node = found;
        log_.Write("CM_Locate_DevNodeW(" + (deviceId ? TraceText(deviceId) : std::string("null")) + ", " +
                       TraceHex(flags) + ")",
                   TraceHex(result) + (result == platform::ConfigSuccess ? ", devinst " + Num(found) : ""));
        return result;
    }
    // The rescan applies due changes and announces them (which runs the windows' handling)
    // before it returns: its line comes after theirs. No lock is held across it.
    std::uint32_t ReenumerateDevNode(platform::DevInst node, std::uint32_t flags) override {
        const std::uint32_t result = inner_.ReenumerateDevNode(node, flags);
        log_.Write("CM_Reenumerate_DevNode(" + Num(node) + ", " + TraceHex(flags) + ")", TraceHex(result));
        return result;
    }
    Handle RegisterNotification(Handle recipient, const void* filter, std::uint32_t flags) override {
        const Handle handle = inner_.RegisterNotification(recipient, filter, flags);
        log_.Write("RegisterDeviceNotificationW(" + Ptr(recipient) + ", disk interfaces, " + TraceHex(flags) + ")",
                   handle ? Ptr(handle) : "null");
        return handle;
    }
    bool UnregisterNotification(Handle notification) override {
        const bool ok = inner_.UnregisterNotification(notification);
        log_.Write("UnregisterDeviceNotification(" + Ptr(notification) + ")", Bool(ok));
        return ok;
    }

private:
    TraceLog& log_;
    platform::DeviceWatchIo& inner_;
};

}  // namespace

struct TracedSystem::Parts {
    TracedDeviceIo io;
    TracedDeviceInstall install;
    TracedVolumes volumes;
    TracedDeviceWatch watch;
};

TracedSystem::TracedSystem(TraceLog& log, const platform::System& machine, platform::DeviceWatchIo& watch)
    : parts_(new Parts{TracedDeviceIo(log, machine.io), TracedDeviceInstall(log, machine.install, machine.io),
                       TracedVolumes(log, machine.volumes, machine.io), TracedDeviceWatch(log, watch)}) {}

TracedSystem::~TracedSystem() = default;

platform::System TracedSystem::Machine() { return platform::System{parts_->io, parts_->install, parts_->volumes}; }

platform::DeviceWatchIo& TracedSystem::Watch() { return parts_->watch; }

}  // namespace demo
