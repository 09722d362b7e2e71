// Binds the device-installation seam to SETUPAPI. The configuration-manager calls are
// SETUPAPI's exports too, so the program imports no other library for them.
#include "platform/DeviceInstall.h"

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <cstddef>
#include <vector>

namespace platform {
namespace {

GUID ToGuid(const Guid& guid) {
    GUID system{};
    system.Data1 = guid.data1;
    system.Data2 = guid.data2;
    system.Data3 = guid.data3;
    for (int i = 0; i < 8; ++i) system.Data4[i] = guid.data4[i];
    return system;
}

Guid FromGuid(const GUID& system) {
    Guid guid;
    guid.data1 = system.Data1;
    guid.data2 = system.Data2;
    guid.data3 = system.Data3;
    for (int i = 0; i < 8; ++i) guid.data4[i] = system.Data4[i];
    return guid;
}

SP_DEVICE_INTERFACE_DATA ToInterfaceData(const DeviceInterfaceData& member) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    data.InterfaceClassGuid = ToGuid(member.interfaceClass);
    data.Flags = member.flags;
    data.Reserved = member.reserved;
    return data;
}

SP_DEVINFO_DATA ToInfoData(const DeviceInfoData& device) {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    data.ClassGuid = ToGuid(device.deviceClass);
    data.DevInst = device.devInst;
    data.Reserved = device.reserved;
    return data;
}

class WinDeviceInstall final : public DeviceInstall {
public:
    DeviceInfoSet GetClassDevs(const Guid& interfaceClass, std::uint32_t flags) override {
        const GUID guid = ToGuid(interfaceClass);
        return ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags);
    }
    bool DestroyDeviceInfoList(DeviceInfoSet set) override { return ::SetupDiDestroyDeviceInfoList(set) != FALSE; }
    bool EnumDeviceInterfaces(DeviceInfoSet set, const Guid& interfaceClass, std::uint32_t index,
                              DeviceInterfaceData* member) override {
        const GUID guid = ToGuid(interfaceClass);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data)) return false;
        member->interfaceClass = FromGuid(data.InterfaceClassGuid);
        member->flags = data.Flags;
        member->reserved = data.Reserved;
        return true;
    }
    bool GetDeviceInterfaceDetailSize(DeviceInfoSet set, const DeviceInterfaceData& member,
                                      std::uint32_t* required) override {
        SP_DEVICE_INTERFACE_DATA data = ToInterfaceData(member);
        DWORD needed = 0;
        const BOOL ok = ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
        *required = needed;
        return ok != FALSE;
    }
    bool GetDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& member, std::uint32_t detailSize,
                                  std::wstring* path, DeviceInfoData* device) override {
        // The detail's size field holds the size of its fixed part, which differs by
        // pointer width; the buffer must hold at least that.
        constexpr std::size_t fixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (detailSize < fixedPart) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        std::vector<std::uint8_t> buffer(detailSize, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = fixedPart;
        SP_DEVICE_INTERFACE_DATA data = ToInterfaceData(member);
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, detailSize, nullptr, &info)) return false;
        // The path ends at its terminator or at the end of the buffer, whichever is first.
        const std::size_t room = (detailSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
        std::size_t length = 0;
        while (length < room && detail->DevicePath[length] != L'\0') ++length;
        path->assign(detail->DevicePath, length);
        device->deviceClass = FromGuid(info.ClassGuid);
        device->devInst = info.DevInst;
        device->reserved = info.Reserved;
        return true;
    }
    bool GetDeviceRegistryProperty(DeviceInfoSet set, const DeviceInfoData& device, std::uint32_t property,
                                   wchar_t* buffer, std::uint32_t capacity, std::uint32_t* required) override {
        SP_DEVINFO_DATA info = ToInfoData(device);
        DWORD needed = 0;
        const BOOL ok = ::SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr,
                                                            reinterpret_cast<BYTE*>(buffer),
                                                            capacity * sizeof(wchar_t), &needed);
        if (required) *required = needed;
        return ok != FALSE;
    }
    std::uint32_t GetParent(DevInst* parent, DevInst child) override {
        DEVINST found = 0;
        const CONFIGRET result = ::CM_Get_Parent(&found, child, 0);
        *parent = found;
        return result;
    }
    std::uint32_t GetDevNodeRegistryProperty(DevInst device, std::uint32_t property, wchar_t* buffer,
                                             std::uint32_t* capacity) override {
        ULONG length = *capacity * sizeof(wchar_t);
        const CONFIGRET result = ::CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, buffer, &length, 0);
        *capacity = length / sizeof(wchar_t);
        return result;
    }
    std::uint32_t GetDeviceId(DevInst device, wchar_t* buffer, std::uint32_t capacity) override {
        return ::CM_Get_Device_IDW(device, buffer, capacity, 0);
    }
};

}  // namespace

DeviceInstall& SystemDeviceInstall() {
    static WinDeviceInstall install;  // stateless: every call goes straight to the system
    return install;
}

}  // namespace platform
