#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/DeviceWatch.h"

namespace {

using namespace std::chrono_literals;

// A configuration manager that answers from a script and records every call.
class ScriptedConfigManager : public platform::DeviceWatchIo {
public:
    struct Call {
        std::string name;
        platform::DevInst node;
        std::uint32_t flags;
        bool rootRequested;
    };

    std::vector<std::uint32_t> locateResults;      // per call; ConfigSuccess once used up
    std::vector<std::uint32_t> reenumerateResults;
    platform::DevInst root = 0x1234;
    std::vector<Call> calls;
    std::atomic<std::size_t> callCount{0};  // readable from another thread
    RescanStop* stopAfterCall = nullptr;  // raised during call number stopAtCall (1-based)
    std::size_t stopAtCall = 0;

    std::uint32_t LocateDevNode(platform::DevInst* node, const wchar_t* deviceId, std::uint32_t flags) override {
        calls.push_back({"locate", 0, flags, deviceId == nullptr});
        ++callCount;
        *node = root;
        return Next(locateResults, calls.size());
    }
    std::uint32_t ReenumerateDevNode(platform::DevInst node, std::uint32_t flags) override {
        calls.push_back({"reenumerate", node, flags, false});
        ++callCount;
        return Next(reenumerateResults, calls.size());
    }
    platform::Handle RegisterNotification(platform::Handle, const void*, std::uint32_t) override {
        return nullptr;
    }
    bool UnregisterNotification(platform::Handle) override { return false; }

private:
    std::uint32_t Next(std::vector<std::uint32_t>& results, std::size_t callNumber) {
        if (stopAfterCall && callNumber == stopAtCall) stopAfterCall->Raise();
        if (results.empty()) return platform::ConfigSuccess;
        const std::uint32_t result = results.front();
        results.erase(results.begin());
        return result;
    }
};

struct Rig {
    ScriptedConfigManager system;
    RescanWorker worker{system};
    std::string output;

    Rig() {
        worker.pause = 0ms;
        worker.output = [this](std::string_view line) { output += line; };
    }
};

TEST(RescanLoop, EachCycleLocatesTheRootAndReenumeratesItAsynchronously) {
    Rig rig;
    rig.system.stopAfterCall = &rig.worker.stop;
    rig.system.stopAtCall = 6;  // the third cycle's re-enumeration
    EXPECT_EQ(RescanBusLoop(rig.worker), 1);
    ASSERT_EQ(rig.system.calls.size(), 6u);
    for (std::size_t i = 0; i < 6; i += 2) {
        EXPECT_EQ(rig.system.calls[i].name, "locate");
        EXPECT_TRUE(rig.system.calls[i].rootRequested);
        EXPECT_EQ(rig.system.calls[i].flags, 0u);
        EXPECT_EQ(rig.system.calls[i + 1].name, "reenumerate");
        EXPECT_EQ(rig.system.calls[i + 1].node, 0x1234u);
        EXPECT_EQ(rig.system.calls[i + 1].flags, 4u);
    }
    EXPECT_EQ(rig.output, "");
}

TEST(RescanLoop, StopSeenAfterTheLocateEndsTheCycleWithoutMoreCalls) {
    // The stop comes during the locate: that cycle's re-enumeration still runs (it does
    // not look at the flag between the two calls), and nothing after it.
    Rig rig;
    rig.system.stopAfterCall = &rig.worker.stop;
    rig.system.stopAtCall = 3;
    RescanBusLoop(rig.worker);
    EXPECT_EQ(rig.system.calls.size(), 4u);
}

TEST(RescanLoop, AlreadyStoppedMakesNoCall) {
    Rig rig;
    rig.worker.stop.Raise();
    EXPECT_EQ(RescanBusLoop(rig.worker), 1);
    EXPECT_TRUE(rig.system.calls.empty());
}

TEST(RescanLoop, FailuresWriteTheirLineAndTheLoopGoesOn) {
    Rig rig;
    // Cycle 1: locate fails (no re-enumeration). Cycle 2: re-enumeration fails. Cycle 3: fine.
    rig.system.locateResults = {0x1F, 0, 0};
    rig.system.reenumerateResults = {0x33, 0};
    rig.system.stopAfterCall = &rig.worker.stop;
    rig.system.stopAtCall = 5;
    RescanBusLoop(rig.worker);
    ASSERT_EQ(rig.system.calls.size(), 5u);
    EXPECT_EQ(rig.system.calls[0].name, "locate");
    EXPECT_EQ(rig.system.calls[1].name, "locate");
    EXPECT_EQ(rig.system.calls[2].name, "reenumerate");
    EXPECT_EQ(rig.output, "CM_Locate_DevNode   failed:   1f\n CM_Reenumerate_DevNode   failed:   33\n ");
}

TEST(RescanLoop, FailureLinesByteForByte) {
    EXPECT_EQ(RescanFailureLine("CM_Locate_DevNode", 0x1F), "CM_Locate_DevNode   failed:   1f\n ");
    EXPECT_EQ(RescanFailureLine("CM_Reenumerate_DevNode", 0xABCDEF01),
              "CM_Reenumerate_DevNode   failed:   abcdef01\n ");
    EXPECT_EQ(RescanFailureLine("CM_Locate_DevNode", 0x5), "CM_Locate_DevNode   failed:   5\n ");
}

TEST(RescanLoop, StopCutsTheLongPauseShortAndTheThreadEnds) {
    Rig rig;
    rig.worker.pause = std::chrono::hours(1);
    std::thread thread([&] { RescanThreadProc(&rig.worker); });
    // Wait until the first cycle is in its pause.
    while (rig.system.callCount.load() < 2) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    rig.worker.stop.Raise();
    thread.join();  // would take an hour without the wake-up
    EXPECT_EQ(rig.system.calls.size(), 2u);
}

TEST(RescanStopFlag, ResetAndRaise) {
    RescanStop stop;
    EXPECT_FALSE(stop.IsRaised());
    stop.Raise();
    EXPECT_TRUE(stop.IsRaised());
    stop.Pause(std::chrono::hours(1));  // returns at once once raised
    stop.Reset();
    EXPECT_FALSE(stop.IsRaised());
}

// A broadcast header: size, device type, reserved, then whatever the type carries.
struct Header {
    std::uint32_t size;
    std::uint32_t deviceType;
    std::uint32_t reserved;
};

TEST(DeviceChange, OnlyArrivalAndCompletedRemovalOfDeviceInterfaces) {
    const Header interfaceHeader{32, platform::BroadcastDeviceInterface, 0};
    const Header volumeHeader{18, platform::BroadcastVolume, 0};
    const Header portHeader{14, platform::BroadcastPort, 0};
    const auto address = [](const Header& h) { return reinterpret_cast<std::uintptr_t>(&h); };
    struct Case {
        std::uint32_t event;
        std::uintptr_t data;
        bool refresh;
    };
    const Case cases[] = {
        {platform::DeviceArrival, address(interfaceHeader), true},
        {platform::DeviceRemoveComplete, address(interfaceHeader), true},
        {platform::DeviceArrival, 0, false},
        {platform::DeviceRemoveComplete, 0, false},
        {platform::DeviceArrival, address(volumeHeader), false},
        {platform::DeviceRemoveComplete, address(volumeHeader), false},
        {platform::DeviceArrival, address(portHeader), false},
        {platform::DeviceQueryRemove, address(interfaceHeader), false},
        {platform::DeviceRemovePending, address(interfaceHeader), false},
        {platform::DeviceNodesChanged, 0, false},
        {0x8006, address(interfaceHeader), false},  // custom event
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsDiskInterfaceChange(c.event, c.data), c.refresh) << std::hex << c.event;
    }
}

TEST(DeviceChange, FilterForDiskInterfacesHasTheSystemsBytes) {
    const platform::DeviceInterfaceFilter filter = platform::DiskInterfaceFilter();
    const std::uint8_t expected[32] = {32, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x63, 0xF5, 0x53,
                                       0xBF, 0xB6, 0xD0, 0x11, 0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B,
                                       0, 0, 0, 0};
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(filter[i], expected[i]) << i;
}

}  // namespace
