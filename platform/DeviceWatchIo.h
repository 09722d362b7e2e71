#pragma once
// The seam for watching disks come and go: the configuration manager's rescan of the
// device tree, and the registration of a window for disk-interface notifications.
// The Windows binding calls the system (WinDeviceWatchIo.cpp); the demo and the tests
// bind it to the simulated machine.

#include <array>
#include <cstdint>

#include "platform/DeviceInstall.h"
#include "platform/DeviceIo.h"

namespace platform {

// Configuration-manager flags of the rescan (results: ConfigResult).
enum : std::uint32_t { LocateDevNodeNormal = 0, ReenumerateAsynchronous = 4 };

// RegisterDeviceNotificationW: recipient is a window handle.
enum : std::uint32_t { DeviceNotifyWindowHandle = 0 };

// WM_DEVICECHANGE, its events and the broadcast header's device types.
enum : std::uint32_t {
    WindowMessageDeviceChange = 0x0219,
    DeviceArrival = 0x8000,
    DeviceQueryRemove = 0x8001,
    DeviceRemovePending = 0x8003,
    DeviceRemoveComplete = 0x8004,
    DeviceNodesChanged = 0x0007,
};
enum : std::uint32_t { BroadcastVolume = 2, BroadcastPort = 3, BroadcastDeviceInterface = 5 };

// A DEV_BROADCAST_DEVICEINTERFACE_W with an empty name, as the registration filter takes it.
using DeviceInterfaceFilter = std::array<std::uint8_t, 32>;
// GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B} as stored.
constexpr std::array<std::uint8_t, 16> DiskInterfaceClass{0x07, 0x63, 0xF5, 0x53, 0xBF, 0xB6, 0xD0, 0x11,
                                                          0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B};
// Size 32, type device interface, the disk interface class, no name.
DeviceInterfaceFilter DiskInterfaceFilter();

class DeviceWatchIo {
public:
    virtual ~DeviceWatchIo() = default;

    // CM_Locate_DevNodeW: deviceId null for the root of the device tree.
    virtual std::uint32_t LocateDevNode(DevInst* node, const wchar_t* deviceId, std::uint32_t flags) = 0;
    // CM_Reenumerate_DevNode.
    virtual std::uint32_t ReenumerateDevNode(DevInst node, std::uint32_t flags) = 0;
    // RegisterDeviceNotificationW; null on failure.
    virtual Handle RegisterNotification(Handle recipient, const void* filter, std::uint32_t flags) = 0;
    // UnregisterDeviceNotification.
    virtual bool UnregisterNotification(Handle notification) = 0;
};

// The real system's (Windows build only).
DeviceWatchIo& SystemDeviceWatchIo();

inline DeviceInterfaceFilter DiskInterfaceFilter() {
    DeviceInterfaceFilter filter{};
    filter[0] = 32;                        // dbcc_size
    filter[4] = BroadcastDeviceInterface;  // dbcc_devicetype; dbcc_reserved stays 0
    for (std::size_t i = 0; i < DiskInterfaceClass.size(); ++i) filter[12 + i] = DiskInterfaceClass[i];
    return filter;                         // dbcc_name: empty
}

}  // namespace platform
