#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/DeviceWatch.h"
#include "sim/SimDeviceWatch.h"

namespace {

using namespace std::chrono_literals;

struct Delivered {
    platform::Handle recipient;
    std::uint32_t event;
    std::vector<std::uint8_t> broadcast;
};

struct Rig {
    sim::SimDeviceWatch watch;
    std::mutex mutex;
    std::vector<Delivered> delivered;
    std::vector<std::string> applied;
    platform::Handle window = reinterpret_cast<platform::Handle>(0x1234);

    Rig() {
        watch.SetDelivery([this](platform::Handle r, std::uint32_t e, const std::vector<std::uint8_t>& b) {
            std::lock_guard<std::mutex> lock(mutex);
            delivered.push_back({r, e, b});
        });
    }
    platform::Handle Register(platform::Handle recipient) {
        const platform::DeviceInterfaceFilter filter = platform::DiskInterfaceFilter();
        return watch.RegisterNotification(recipient, filter.data(), platform::DeviceNotifyWindowHandle);
    }
    void Rescan() {
        platform::DevInst root = 0;
        ASSERT_EQ(watch.LocateDevNode(&root, nullptr, 0), 0u);
        ASSERT_EQ(watch.ReenumerateDevNode(root, platform::ReenumerateAsynchronous), 0u);
    }
};

TEST(SimDeviceWatch, ChangesComeDueAfterTheirCycleAndReachEveryRegisteredWindow) {
    Rig rig;
    const platform::Handle other = reinterpret_cast<platform::Handle>(0x5678);
    ASSERT_NE(rig.Register(rig.window), nullptr);
    ASSERT_NE(rig.Register(other), nullptr);
    rig.watch.ScheduleChange(3, true, L"\\\\?\\disk#plugged", [&] { rig.applied.push_back("plug"); });
    rig.watch.ScheduleChange(2, false, L"\\\\?\\disk#gone", [&] { rig.applied.push_back("unplug"); });

    rig.Rescan();
    EXPECT_TRUE(rig.delivered.empty());
    rig.Rescan();
    ASSERT_EQ(rig.delivered.size(), 2u);
    EXPECT_EQ(rig.applied, std::vector<std::string>{"unplug"});
    EXPECT_EQ(rig.delivered[0].recipient, rig.window);
    EXPECT_EQ(rig.delivered[1].recipient, other);
    EXPECT_EQ(rig.delivered[0].event, platform::DeviceRemoveComplete);
    rig.Rescan();
    ASSERT_EQ(rig.delivered.size(), 4u);
    EXPECT_EQ(rig.delivered[2].event, platform::DeviceArrival);
    EXPECT_EQ(rig.applied, (std::vector<std::string>{"unplug", "plug"}));
    EXPECT_EQ(rig.watch.Cycles(), 3u);
    EXPECT_EQ(rig.watch.PendingChanges(), 0u);
    // What the dialog's handler reads of it: an interface change.
    EXPECT_TRUE(IsDiskInterfaceChange(rig.delivered[2].event,
                                      reinterpret_cast<std::uintptr_t>(rig.delivered[2].broadcast.data())));
}

TEST(SimDeviceWatch, BroadcastHasTheSystemsLayout) {
    const std::vector<std::uint8_t> bytes = sim::DiskInterfaceBroadcast(L"AB");
    ASSERT_EQ(bytes.size(), 34u);
    EXPECT_EQ(bytes[0], 34);  // 28 + 3 wide characters
    EXPECT_EQ(bytes[4], 5);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(bytes[12 + i], platform::DiskInterfaceClass[i]);
    EXPECT_EQ(bytes[28], 'A');
    EXPECT_EQ(bytes[30], 'B');
    EXPECT_EQ(bytes[32], 0);
    EXPECT_EQ(bytes[33], 0);
}

TEST(SimDeviceWatch, WithdrawnOrRefusedRegistrationsHearNothing) {
    Rig rig;
    const platform::Handle registration = rig.Register(rig.window);
    EXPECT_TRUE(rig.watch.UnregisterNotification(registration));
    EXPECT_FALSE(rig.watch.UnregisterNotification(registration));
    // A filter for another class, a service-handle recipient, an injected refusal.
    platform::DeviceInterfaceFilter volumes = platform::DiskInterfaceFilter();
    volumes[12] = 0x0D;
    EXPECT_EQ(rig.watch.RegisterNotification(rig.window, volumes.data(), 0), nullptr);
    const platform::DeviceInterfaceFilter disks = platform::DiskInterfaceFilter();
    EXPECT_EQ(rig.watch.RegisterNotification(rig.window, disks.data(), 1), nullptr);
    rig.watch.FailRegistration(1);
    EXPECT_EQ(rig.Register(rig.window), nullptr);
    EXPECT_EQ(rig.watch.Registrations(), 0u);

    rig.watch.ScheduleChange(1, true, L"disk", nullptr);
    rig.Rescan();
    EXPECT_TRUE(rig.delivered.empty());
}

TEST(SimDeviceWatch, OnlyTheRootIsLocatedAndRescanned) {
    sim::SimDeviceWatch watch;
    platform::DevInst node = 0;
    EXPECT_EQ(watch.LocateDevNode(&node, L"PCI\\VEN_1", 0), sim::SimCrNoSuchDevNode);
    EXPECT_EQ(watch.ReenumerateDevNode(7, 4), sim::SimCrInvalidDevNode);
    EXPECT_EQ(watch.Cycles(), 0u);
    EXPECT_EQ(watch.Calls(), 2u);
}

// The worker on its own thread against the simulated machine: failures cost their line,
// a plug is delivered, and once stopped no call follows.
TEST(RescanWorkerOnSimulatedMachine, RunsCyclesDeliversChangesAndStops) {
    Rig rig;
    rig.Register(rig.window);
    rig.watch.FailLocate(sim::SimCrFailure, 1);
    rig.watch.FailReenumerate(sim::SimCrAccessDenied, 1);
    std::atomic<bool> plugged{false};
    rig.watch.ScheduleChange(2, true, L"disk", [&] { plugged = true; });

    RescanWorker worker(rig.watch);
    worker.pause = 1ms;
    std::string output;
    std::mutex outputMutex;
    worker.output = [&](std::string_view line) {
        std::lock_guard<std::mutex> lock(outputMutex);
        output += line;
    };
    std::thread thread([&] { RescanThreadProc(&worker); });
    while (!plugged) std::this_thread::sleep_for(1ms);
    worker.stop.Raise();
    thread.join();
    const std::uint32_t callsAtStop = rig.watch.Calls();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rig.watch.Calls(), callsAtStop);
    EXPECT_EQ(output, "CM_Locate_DevNode   failed:   13\n CM_Reenumerate_DevNode   failed:   33\n ");
    std::lock_guard<std::mutex> lock(rig.mutex);
    ASSERT_EQ(rig.delivered.size(), 1u);
    EXPECT_EQ(rig.delivered[0].event, platform::DeviceArrival);
}

}  // namespace
