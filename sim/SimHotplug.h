#pragma once
// Disks unplugged and plugged in again on a simulated machine: a device-installation
// list over another that leaves out the interfaces of unplugged disks, as the system's
// lists do once a device is gone. With nothing unplugged every call passes straight on.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/DeviceInstall.h"
#include "sim/SimMachine.h"

namespace sim {

class SimHotplugTree : public platform::DeviceInstall {
public:
    // Last errors go to the machine's calling thread.
    SimHotplugTree(platform::DeviceInstall& inner, SimMachine& machine) : inner_(inner), machine_(machine) {}

    // Lists made from now on leave the interface out, or have it again.
    void Unplug(const std::wstring& interfacePath);
    void Plug(const std::wstring& interfacePath);
    bool IsUnplugged(const std::wstring& interfacePath) const;

    platform::DeviceInfoSet GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) override;
    bool DestroyDeviceInfoList(platform::DeviceInfoSet set) override;
    bool EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& interfaceClass, std::uint32_t index,
                              platform::DeviceInterfaceData* member) override;
    bool GetDeviceInterfaceDetailSize(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                      std::uint32_t* required) override {
        return inner_.GetDeviceInterfaceDetailSize(set, member, required);
    }
    bool GetDeviceInterfaceDetail(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                  std::uint32_t detailSize, std::wstring* path,
                                  platform::DeviceInfoData* device) override {
        return inner_.GetDeviceInterfaceDetail(set, member, detailSize, path, device);
    }
    bool GetDeviceRegistryProperty(platform::DeviceInfoSet set, const platform::DeviceInfoData& device,
                                   std::uint32_t property, wchar_t* buffer, std::uint32_t capacity,
                                   std::uint32_t* required) override {
        return inner_.GetDeviceRegistryProperty(set, device, property, buffer, capacity, required);
    }
    std::uint32_t GetParent(platform::DevInst* parent, platform::DevInst child) override {
        return inner_.GetParent(parent, child);
    }
    std::uint32_t GetDevNodeRegistryProperty(platform::DevInst device, std::uint32_t property, wchar_t* buffer,
                                             std::uint32_t* capacity) override {
        return inner_.GetDevNodeRegistryProperty(device, property, buffer, capacity);
    }
    std::uint32_t GetDeviceId(platform::DevInst device, wchar_t* buffer, std::uint32_t capacity) override {
        return inner_.GetDeviceId(device, buffer, capacity);
    }

private:
    platform::DeviceInstall& inner_;
    SimMachine& machine_;
    std::set<std::wstring> unplugged_;
    // Per list made while something was unplugged: the inner members still present.
    std::map<platform::DeviceInfoSet, std::vector<platform::DeviceInterfaceData>> visible_;
};

}  // namespace sim
