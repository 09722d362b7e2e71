#pragma once
// Disks unplugged and plugged in again on a simulated machine: a device-installation
// list over another that leaves out the interfaces of unplugged disks, as the system's
// lists do once a device is gone. With nothing unplugged every call passes straight on.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/ForwardingDeviceInstall.h"
#include "sim/SimMachine.h"

namespace sim {

class SimHotplugTree : public platform::ForwardingDeviceInstall {
public:
    // Last errors go to the machine's calling thread.
    SimHotplugTree(platform::DeviceInstall& inner, SimMachine& machine)
        : ForwardingDeviceInstall(inner), machine_(machine) {}

    // Lists made from now on leave the interface out, or have it again.
    void Unplug(const std::wstring& interfacePath);
    void Plug(const std::wstring& interfacePath);
    bool IsUnplugged(const std::wstring& interfacePath) const;

    platform::DeviceInfoSet GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) override;
    bool DestroyDeviceInfoList(platform::DeviceInfoSet set) override;
    bool EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& interfaceClass, std::uint32_t index,
                              platform::DeviceInterfaceData* member) override;

private:
    SimMachine& machine_;
    std::set<std::wstring> unplugged_;
    // Per list made while something was unplugged: the inner members still present.
    std::map<platform::DeviceInfoSet, std::vector<platform::DeviceInterfaceData>> visible_;
};

}  // namespace sim
