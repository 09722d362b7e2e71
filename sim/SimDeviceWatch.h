#pragma once
// The simulated machine's configuration-manager rescan and disk-interface notifications.
// A rescan (CM_Reenumerate_DevNode on the root) counts one cycle and applies the disk
// changes that are due by then; each change is announced to every window registered for
// disk interfaces as the system does it: an arrival or completed removal event with a
// DEV_BROADCAST_DEVICEINTERFACE_W naming the disk's interface. How the message reaches
// the window is up to whoever runs the machine (the simulator knows no windows).

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DeviceWatchIo.h"
#include "sim/SimFault.h"

namespace sim {

// The root of the simulated device tree as CM_Locate_DevNodeW returns it.
constexpr platform::DevInst SimRootDevInst = 1;

// Configuration-manager failures a test may inject.
enum SimConfigResult : std::uint32_t {
    SimCrFailure = 0x13,
    SimCrInvalidDevNode = 0x05,
    SimCrNoSuchDevNode = 0x0D,
    SimCrAccessDenied = 0x33,
};

// A DEV_BROADCAST_DEVICEINTERFACE_W for the disk interface class with the given name.
std::vector<std::uint8_t> DiskInterfaceBroadcast(const std::wstring& interfacePath);

class SimDeviceWatch : public platform::DeviceWatchIo {
public:
    // Called once per registered window for each change, on the thread that rescanned,
    // with no lock of the simulator held: event is DeviceArrival or DeviceRemoveComplete.
    using Delivery = std::function<void(platform::Handle recipient, std::uint32_t event,
                                        const std::vector<std::uint8_t>& broadcast)>;

    void SetDelivery(Delivery delivery);
    // After the given number of rescans, apply() changes the machine (plugs or unplugs the
    // disk) and the registered windows learn of the disk interface's arrival or removal.
    void ScheduleChange(std::uint32_t afterCycles, bool arrival, std::wstring interfacePath,
                        std::function<void()> apply);

    // Faults: the next so many calls fail with the result (registration: null, no window).
    void FailLocate(std::uint32_t result, std::uint32_t times = Forever);
    void FailReenumerate(std::uint32_t result, std::uint32_t times = Forever);
    void FailRegistration(std::uint32_t times = Forever);

    std::uint32_t Cycles() const;  // successful rescans so far
    std::uint32_t Calls() const;   // configuration-manager calls so far, failed ones too
    std::size_t Registrations() const;
    std::size_t PendingChanges() const;

    // platform::DeviceWatchIo
    std::uint32_t LocateDevNode(platform::DevInst* node, const wchar_t* deviceId, std::uint32_t flags) override;
    std::uint32_t ReenumerateDevNode(platform::DevInst node, std::uint32_t flags) override;
    platform::Handle RegisterNotification(platform::Handle recipient, const void* filter,
                                          std::uint32_t flags) override;
    bool UnregisterNotification(platform::Handle notification) override;

private:
    struct Change {
        std::uint32_t afterCycles;
        bool arrival;
        std::wstring interfacePath;
        std::function<void()> apply;
    };
    struct Registration {
        std::uintptr_t id;
        platform::Handle recipient;
    };

    mutable std::mutex mutex_;
    Delivery delivery_;
    std::vector<Change> changes_;
    std::vector<Registration> registrations_;
    SimFaultCount locateFault_, reenumerateFault_, registrationFault_;
    std::uint32_t locateResult_ = 0, reenumerateResult_ = 0;
    std::uint32_t cycles_ = 0;
    std::uint32_t calls_ = 0;
    std::uintptr_t nextRegistration_ = 0x5000;
};

}  // namespace sim
