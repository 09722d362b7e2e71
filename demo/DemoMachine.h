#pragma once
// The simulated machine the demo runs on, made from its options: the disks behind their
// adapters, a lettered volume on each, the VX310's state, the fault, and the bus
// rescans at which the first VX310 is unplugged or plugged in.

#include <cstdint>
#include <mutex>
#include <optional>

#include "demo/DemoOptions.h"
#include "platform/System.h"
#include "sim/SimComputer.h"
#include "sim/SimDeviceWatch.h"
#include "sim/SimHotplug.h"

namespace demo {

class DemoMachine {
public:
    explicit DemoMachine(const DemoOptions& options);
    DemoMachine(const DemoMachine&) = delete;
    DemoMachine& operator=(const DemoMachine&) = delete;

    // Files and devices, device lists (without unplugged disks) and volumes.
    platform::System System();
    sim::SimDeviceWatch& Watch() { return watch_; }
    sim::SimComputer& Computer() { return computer_; }
    // The VX310 that comes and goes, or null.
    const sim::SimDisk* Hotplugged() const { return hotplugged_; }
    bool IsPlugged() const;
    // The first VX310's optimize state as the drive holds it now; nothing without a VX310.
    std::optional<std::uint8_t> Vx310State() const;
    // Plugging and unplugging at a rescan take this lock, which every call of the program
    // into the machine holds too (the rescan runs on the worker thread).
    void SetMachineLock(std::recursive_mutex& lock) { lock_ = &lock; }

private:
    void Build(const DemoOptions& options);
    void SetPlugged(bool plugged);

    sim::SimComputer computer_;
    sim::SimHotplugTree hotplug_;
    sim::SimDeviceWatch watch_;
    std::recursive_mutex ownLock_;
    std::recursive_mutex* lock_ = &ownLock_;
    sim::SimDisk* hotplugged_ = nullptr;
    bool viaAdapter_ = false;  // the miniport drive also answers at its adapter's path
};

}  // namespace demo
