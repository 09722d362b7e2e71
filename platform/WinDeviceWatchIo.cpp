// Binds the device-watch seam to the system. The configuration-manager calls are
// imported from setupapi.dll, one of the system's known DLLs, so that no DLL of that
// name is ever taken from the program's folder.
#include "platform/DeviceWatchIo.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <dbt.h>

namespace platform {
namespace {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == sizeof(DeviceInterfaceFilter),
              "the filter has the system's layout");

class WinDeviceWatchIo final : public DeviceWatchIo {
public:
    std::uint32_t LocateDevNode(DevInst* node, const wchar_t* deviceId, std::uint32_t flags) override {
        DEVINST found = 0;
        const CONFIGRET result = ::CM_Locate_DevNodeW(&found, const_cast<DEVINSTID_W>(deviceId), flags);
        if (node) *node = found;
        return result;
    }
    std::uint32_t ReenumerateDevNode(DevInst node, std::uint32_t flags) override {
        return ::CM_Reenumerate_DevNode(node, flags);
    }
    Handle RegisterNotification(Handle recipient, const void* filter, std::uint32_t flags) override {
        return ::RegisterDeviceNotificationW(recipient, const_cast<void*>(filter), flags);
    }
    bool UnregisterNotification(Handle notification) override {
        return ::UnregisterDeviceNotification(notification) != FALSE;
    }
};

}  // namespace

DeviceWatchIo& SystemDeviceWatchIo() {
    static WinDeviceWatchIo io;  // stateless
    return io;
}

}  // namespace platform
