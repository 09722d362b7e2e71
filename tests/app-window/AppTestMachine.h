#pragma once
// A simulated machine for the application's window tests: a SimComputer whose disks can
// be unplugged, with the enumeration passes counted (each pass lists the storage
// adapters once), and its bus rescan and notifications.

#include "app/AppSystem.h"
#include "platform/ForwardingDeviceInstall.h"
#include "sim/SimComputer.h"
#include "sim/SimDeviceWatch.h"
#include "sim/SimHotplug.h"
#include "sim/SimShutdown.h"

namespace apptest {

// Counts the lists of storage adapters, one per enumeration pass; every call passes on.
class CountingInstall : public platform::ForwardingDeviceInstall {
public:
    using ForwardingDeviceInstall::ForwardingDeviceInstall;
    int passes = 0;

    platform::DeviceInfoSet GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) override {
        if (interfaceClass == platform::StoragePortInterface) ++passes;
        return ForwardingDeviceInstall::GetClassDevs(interfaceClass, flags);
    }
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
