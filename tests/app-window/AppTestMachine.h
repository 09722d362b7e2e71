#pragma once
// A simulated machine for the application's window tests: a SimComputer whose disks can
// be unplugged, with the enumeration passes counted (each pass lists the storage
// adapters once), and its bus rescan and notifications.

#include "app/AppSystem.h"
#include "sim/SimComputer.h"
#include "sim/SimDeviceWatch.h"
#include "sim/SimHotplug.h"
#include "sim/SimShutdown.h"

namespace apptest {

// Forwards every call, counting the lists of storage adapters: one per enumeration pass.
class CountingInstall : public platform::DeviceInstall {
public:
    explicit CountingInstall(platform::DeviceInstall& inner) : inner_(inner) {}
    int passes = 0;

    platform::DeviceInfoSet GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) override {
        if (interfaceClass == platform::StoragePortInterface) ++passes;
        return inner_.GetClassDevs(interfaceClass, flags);
    }
    bool DestroyDeviceInfoList(platform::DeviceInfoSet set) override { return inner_.DestroyDeviceInfoList(set); }
    bool EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& interfaceClass, std::uint32_t index,
                              platform::DeviceInterfaceData* member) override {
        return inner_.EnumDeviceInterfaces(set, interfaceClass, index, member);
    }
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
};

struct AppTestMachine {
    sim::SimComputer pc;
    sim::SimHotplugTree hotplug{pc.Tree(), pc.Machine()};
    CountingInstall counting{hotplug};
    sim::SimDeviceWatch watch;
    sim::SimShutdown shutdown;

    platform::System Machine() { return platform::System{pc.Machine(), counting, pc.Volumes()}; }
    AppSystem System() { return AppSystem{Machine(), watch, shutdown}; }

    // A VX310 with the given state and size behind an adapter of its own.
    sim::SimDisk& AddVx310(sim::SimNvmePath path, std::uint8_t state, std::uint64_t sectors = 1000215216) {
        sim::SimNvmeConfig config;
        config.identity.sectors = sectors;
        config.vendor.optimizeState = state;
        const std::uint8_t bus = path == sim::SimNvmePath::Bridge ? sim::AdapterUsb : sim::AdapterNvme;
        return pc.AddNvmeDrive(pc.AddAdapter(bus), path, config);
    }
    void Unplug(const sim::SimDisk& disk) {
        hotplug.Unplug(disk.interfacePath);
        pc.Machine().Detach(disk.physicalPath);
    }
    void Plug(const sim::SimDisk& disk) {
        hotplug.Plug(disk.interfacePath);
        pc.Machine().Attach(disk.physicalPath, disk.stack);
    }
};

}  // namespace apptest
