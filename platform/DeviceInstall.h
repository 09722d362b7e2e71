#pragma once
// The seam to the device-installation lists and the configuration manager: which
// device interfaces of a class exist, where they are, and the device nodes behind them.
// One call through per system call; the Windows binding (WinDeviceInstall.cpp) calls
// SETUPAPI, the simulated machine (sim/SimDeviceTree.h) answers from its own tree.

#include <cstdint>
#include <string>

namespace platform {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    friend bool operator==(const Guid& a, const Guid& b) {
        if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.data4[i] != b.data4[i]) return false;
        return true;
    }
    friend bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }
};

// Device-interface classes the program lists.
constexpr Guid StoragePortInterface{0x2ACCFE60, 0xC130, 0x11D2, {0xB0, 0x82, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr Guid DiskInterface{0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr Guid VolumeInterface{0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// SetupDiGetClassDevsW flags.
enum ClassDevsFlags : std::uint32_t {
    ClassDevsPresent = 0x02,
    ClassDevsAllClasses = 0x04,
    ClassDevsInterfaces = 0x10,
};

// Registry properties: SPDRP_* for SetupDiGetDeviceRegistryPropertyW, CM_DRP_* (one more
// than the SPDRP_ value) for CM_Get_DevNode_Registry_PropertyW.
enum DeviceProperty : std::uint32_t {
    SpdrpLocationInformation = 0x0D,
    SpdrpService = 0x04,  // the name of the device's driver service
    CmDrpDriver = 0x0A,
    // A list of texts (REG_MULTI_SZ): each terminated, an empty text after the last.
    CmDrpHardwareId = 0x02,
};

// CONFIGRET values the program tells apart; every other nonzero value is a failure too.
enum ConfigResult : std::uint32_t {
    ConfigSuccess = 0x00,
    ConfigNoSuchDevnode = 0x0D,
    ConfigBufferSmall = 0x1A,
    ConfigNoSuchValue = 0x25,
};

// An HDEVINFO; InvalidDeviceInfoSet() when the list could not be made.
using DeviceInfoSet = void*;
inline DeviceInfoSet InvalidDeviceInfoSet() { return reinterpret_cast<DeviceInfoSet>(~std::uintptr_t{0}); }

// A device instance handle (DEVINST).
using DevInst = std::uint32_t;

// SP_DEVICE_INTERFACE_DATA without its size field: one member of a set.
struct DeviceInterfaceData {
    Guid interfaceClass;
    std::uint32_t flags = 0;
    std::uintptr_t reserved = 0;
};

// SP_DEVINFO_DATA without its size field: the device instance of a member.
struct DeviceInfoData {
    Guid deviceClass;
    DevInst devInst = 0;
    std::uintptr_t reserved = 0;
};

class DeviceInstall {
public:
    virtual ~DeviceInstall() = default;

    // SetupDiGetClassDevsW with no enumerator and no window.
    virtual DeviceInfoSet GetClassDevs(const Guid& interfaceClass, std::uint32_t flags) = 0;
    virtual bool DestroyDeviceInfoList(DeviceInfoSet set) = 0;
    // SetupDiEnumDeviceInterfaces with no device data: member `index` of the set.
    virtual bool EnumDeviceInterfaces(DeviceInfoSet set, const Guid& interfaceClass, std::uint32_t index,
                                      DeviceInterfaceData* member) = 0;
    // SetupDiGetDeviceInterfaceDetailW asked only for the size: fails (as the system does,
    // with ERROR_INSUFFICIENT_BUFFER) and puts the bytes the detail needs in *required.
    virtual bool GetDeviceInterfaceDetailSize(DeviceInfoSet set, const DeviceInterfaceData& member,
                                              std::uint32_t* required) = 0;
    // SetupDiGetDeviceInterfaceDetailW into a detail buffer of detailSize bytes that the
    // binding allocates and frees: the interface path and the member's device instance.
    virtual bool GetDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& member,
                                          std::uint32_t detailSize, std::wstring* path,
                                          DeviceInfoData* device) = 0;
    // SetupDiGetDeviceRegistryPropertyW of a text property into `capacity` wide characters
    // (the system's buffer size is twice that in bytes); *required gets the bytes needed.
    virtual bool GetDeviceRegistryProperty(DeviceInfoSet set, const DeviceInfoData& device,
                                           std::uint32_t property, wchar_t* buffer, std::uint32_t capacity,
                                           std::uint32_t* required) = 0;

    // Configuration manager, through SETUPAPI's exports. Each returns a ConfigResult.
    virtual std::uint32_t GetParent(DevInst* parent, DevInst child) = 0;
    // CM_Get_DevNode_Registry_PropertyW of a text or text-list property; *capacity is in
    // wide characters both ways (bytes / 2 of the system's length).
    virtual std::uint32_t GetDevNodeRegistryProperty(DevInst device, std::uint32_t property, wchar_t* buffer,
                                                     std::uint32_t* capacity) = 0;
    // CM_Get_Device_IDW into `capacity` wide characters.
    virtual std::uint32_t GetDeviceId(DevInst device, wchar_t* buffer, std::uint32_t capacity) = 0;
};

// The real system's lists (Windows build only).
DeviceInstall& SystemDeviceInstall();

}  // namespace platform
