// The pass reads the health log over the path each drive identified on: on the simulated
// driver stacks, each path's whole exchange, a refusal and a short reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/Enumerate.h"
#include "sim/SimComputer.h"
#include "sim/SimReplyCuts.h"

namespace {

using discovery::DiskVerdict;
using sim::SimNvmePath;

std::vector<const sim::SimExecutedCommand*> LogPageCommands(const sim::SimNvmeController& controller) {
    std::vector<const sim::SimExecutedCommand*> found;
    for (const auto& executed : controller.History())
        if ((executed.command[0] & 0xFF) == sim::NvmeGetLogPage) found.push_back(&executed);
    return found;
}

const char* NameOf(SimNvmePath path) {
    switch (path) {
        case SimNvmePath::Inbox: return "inbox";
        case SimNvmePath::Miniport: return "miniport";
        default: return "bridge";
    }
}

enum class Reply { Hot, Refused, Short };

TEST(HealthInThePass, EachPathReadsTheLogOrGoesOnWithout) {
    for (const SimNvmePath path : {SimNvmePath::Inbox, SimNvmePath::Miniport, SimNvmePath::Bridge}) {
        for (const Reply reply : {Reply::Hot, Reply::Refused, Reply::Short}) {
            SCOPED_TRACE(testing::Message() << NameOf(path) << " reply " << int(reply));
            sim::SimComputer pc;
            const auto adapter =
                pc.AddAdapter(path == SimNvmePath::Bridge ? sim::AdapterUsb : sim::AdapterNvme);
            sim::SimDisk& disk = pc.AddVx310(adapter, path);
            sim::SimNvmeController& controller = *disk.controller;
            controller.SetHealthLog(sim::SimHealthLogOf(sim::SimHealthKind::Hot));
            if (reply == Reply::Refused) controller.RejectCommands(sim::NvmeGetLogPage, std::nullopt, 0x109);
            if (reply == Reply::Short) sim::CutHealthLogReply(pc.Machine(), 256);

            discovery::DriveTable table;
            discovery::EnumerateDrives(pc.System(), table);
            // Health is an addition: the drive is accepted either way.
            ASSERT_NE(table[0], nullptr);
            const auto commands = LogPageCommands(controller);
            ASSERT_EQ(commands.size(), 1u);  // one command, no retries
            EXPECT_EQ(commands[0]->command[1], 0xFFFFFFFFu);
            EXPECT_EQ(commands[0]->command[10], 0x007F0002u);
            EXPECT_EQ(commands[0]->queue, sim::SimQueue::Admin);
            if (reply == Reply::Hot) {
                ASSERT_TRUE(table[0]->health);
                EXPECT_EQ(table[0]->health->criticalWarning, devicecmd::WarningTemperature);
                EXPECT_EQ(table[0]->health->TemperatureCelsius(), 85);
                EXPECT_EQ(devicecmd::ToDecimal(table[0]->health->powerOnHours), "1873");
            } else {
                EXPECT_FALSE(table[0]->health);
            }
            EXPECT_EQ(pc.Machine().OpenHandleCount(), 0u);
        }
    }
}

// The window's pass asks only the drive it shows; a survey asks every drive that identified
// on an NVMe path, and never a SATA drive or a USB disk behind no known bridge.
TEST(HealthInThePass, WhichDrivesAreAsked) {
    for (const bool survey : {false, true}) {
        SCOPED_TRACE(survey ? "survey" : "window");
        sim::SimComputer pc;
        const auto nvme = pc.AddAdapter(sim::AdapterNvme);
        pc.AddForeignNvmeDrive(nvme, "Other Maker SSD 990 2TB");  // 0
        pc.AddSataDrive(pc.AddAdapter(sim::AdapterSata));          // 1
        pc.AddPlainDisk(pc.AddAdapter(sim::AdapterUsb), 60000000);  // 2
        pc.AddVx310(nvme, SimNvmePath::Inbox);                     // 3
        discovery::PassScope scope;
        scope.everyDisk = survey;
        scope.healthOfEveryDrive = survey;
        const auto examined = discovery::ExamineDrives(pc.System(), scope);
        ASSERT_EQ(examined.size(), 4u);
        EXPECT_EQ(examined[0].verdict, DiskVerdict::OtherMaker);
        EXPECT_EQ(examined[0].record->health.has_value(), survey);
        EXPECT_EQ(LogPageCommands(*pc.Disk(0).controller).size(), survey ? 1u : 0u);
        EXPECT_FALSE(examined[1].record->health);
        EXPECT_TRUE(pc.Disk(1).ataDevice->History().empty());
        EXPECT_FALSE(examined[2].record->health);
        EXPECT_EQ(examined[3].verdict, DiskVerdict::Accepted);
        EXPECT_TRUE(examined[3].record->health);
        EXPECT_EQ(LogPageCommands(*pc.Disk(3).controller).size(), 1u);
    }
}

}  // namespace
