// The switch's gate: one switch at a time, and device changes that come while it runs
// followed once, after it. Also the whole flow on the simulated machine, with a second
// press and a device change inside the confirmation: under the sanitizers a record freed
// under the running switch would be caught here.
#include "app/SwitchGate.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "devicecmd/PrivateCmd.h"
#include "discovery/Enumerate.h"
#include "optimize/SwitchFlow.h"
#include "sim/SimComputer.h"
#include "sim/SimShutdown.h"

namespace {

TEST(SwitchGate, APressWhileTheSwitchRunsDoesNothingAndDeviceChangesWaitForItsEnd) {
    SwitchGate gate;
    std::vector<std::string> done;
    const auto refresh = [&] { done.push_back("refresh"); };
    bool nestedAccepted = true;
    const bool ran = gate.RunSwitch(
        [&] {
            done.push_back("switch");
            EXPECT_TRUE(gate.Running());
            nestedAccepted = gate.RunSwitch([&] { done.push_back("nested switch"); }, refresh);
            EXPECT_TRUE(gate.Running()) << "the refused press leaves the gate up";
            gate.DeviceChanged(refresh);
            gate.DeviceChanged(refresh);
            EXPECT_TRUE(gate.RefreshWaiting());
            done.push_back("switch ends");
        },
        refresh);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(nestedAccepted);
    EXPECT_EQ(done, (std::vector<std::string>{"switch", "switch ends", "refresh"})) << "one refresh, afterwards";
    EXPECT_FALSE(gate.Running());
    EXPECT_FALSE(gate.RefreshWaiting());

    // Without a switch running, a device change is followed at once; a switch without
    // device changes is followed by nothing.
    done.clear();
    gate.DeviceChanged(refresh);
    EXPECT_TRUE(gate.RunSwitch([&] { done.push_back("switch"); }, refresh));
    EXPECT_EQ(done, (std::vector<std::string>{"refresh", "switch"}));
}

TEST(SwitchGate, TheWaitingRefreshRunsWithTheGateDown) {
    // The refresh runs with the gate down: what it does (a panel update, a new press)
    // meets an idle gate.
    SwitchGate gate;
    bool runningDuringRefresh = true;
    gate.RunSwitch([&] { gate.DeviceChanged([] {}); }, [&] { runningDuringRefresh = gate.Running(); });
    EXPECT_FALSE(runningDuringRefresh);
}

// The confirmation as a script: what happens while it is open, and the answer.
class ScriptedUser : public SwitchUser {
public:
    std::function<bool(int box)> confirm;
    int boxes = 0;
    std::vector<std::wstring> errors;

    bool ConfirmSwitch() override { return confirm(++boxes); }
    void ShowSwitchError(const std::wstring& text) override { errors.push_back(text); }
};

TEST(SwitchGate, ASecondPressAndADeviceChangeInsideTheConfirmationLeaveTheRecordAlone) {
    sim::SimComputer computer;
    sim::SimDisk& vx310 = computer.AddVx310(computer.AddAdapter(sim::AdapterNvme), sim::SimNvmePath::Inbox);
    const platform::System system = computer.System();
    discovery::DriveTable drives;
    discovery::EnumerateDrives(system, drives);
    ASSERT_TRUE(drives[0]);
    ASSERT_EQ(drives[0]->optimizeState, devicecmd::OptimizeStateOptimizable);

    // As the main window composes them: the switch works from slot 0, a device change
    // rebuilds the table.
    SwitchGate gate;
    sim::SimShutdown shutdown;
    ScriptedUser user;
    int refreshes = 0;
    const std::function<void()> refresh = [&] {
        ++refreshes;
        discovery::EnumerateDrives(system, drives);
    };
    const std::function<void()> runSwitch = [&] {
        if (const discovery::DiskInfo* drive = drives[0].get()) RunOptimizeSwitch(*drive, system.io, shutdown, user);
    };
    bool secondPressTaken = true;
    user.confirm = [&](int box) {
        if (box > 1) return false;  // a second box would be answered No
        // The switch pressed again while its box is open (an assistive client's default
        // action, say), then a disk arrives; then the first box is answered Yes.
        secondPressTaken = gate.RunSwitch(runSwitch, refresh);
        gate.DeviceChanged(refresh);
        EXPECT_EQ(refreshes, 0) << "the table is not rebuilt under the switch";
        return true;
    };
    EXPECT_TRUE(gate.RunSwitch(runSwitch, refresh));

    EXPECT_FALSE(secondPressTaken);
    EXPECT_EQ(user.boxes, 1) << "one confirmation";
    EXPECT_TRUE(user.errors.empty());
    EXPECT_EQ(vx310.controller->Firmware().OptimizeState(), devicecmd::OptimizeStateOptimized);
    EXPECT_EQ(shutdown.Requests().size(), 1u);
    EXPECT_EQ(refreshes, 1) << "the device change is followed once the switch has ended";
    ASSERT_TRUE(drives[0]);
    EXPECT_EQ(drives[0]->optimizeState, devicecmd::OptimizeStateOptimized) << "the new pass sees the new state";
}

}  // namespace
