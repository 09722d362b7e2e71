// Faults of the machine, the driver stacks and the drive, and what the layer makes of them.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "devicecmd/Detect.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/ScsiAta.h"
#include "devicecmd/Transport.h"
#include "tests/e2e/Rig.h"

namespace {

using e2e::NvmePath;
using e2e::Rig;

class NvmeFaultTest : public ::testing::TestWithParam<NvmePath> {};

TEST_P(NvmeFaultTest, RefusedCallsFailWithTheSystemsErrorCode) {
    struct Case {
        const char* what;
        std::uint32_t error;
        int (*operation)(Rig&);
    };
    const Case cases[] = {
        {"identify", 1117, [](Rig& rig) {
             std::vector<std::uint8_t> data(4096, 0);
             return devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0);
         }},
        {"state read", 31, [](Rig& rig) {
             std::uint8_t state = 0;
             return devicecmd::QueryOptimizeState(rig.Device(), rig.Transport(5), &state);
         }},
        {"switch", 1167, [](Rig& rig) {
             return devicecmd::CPrivateCMD7305().SetOptimize(rig.Device(), rig.Transport(5), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(GetParam());
        rig.machine.RefuseIoControl(L"", 0, c.error);
        rig.machine.SetLastError(0);
        EXPECT_EQ(c.operation(rig), 0);
        EXPECT_EQ(rig.machine.LastError(), c.error);
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), 2);
    }
}

TEST_P(NvmeFaultTest, SuccessLeavesTheLastErrorAsItWas) {
    Rig rig(GetParam());
    rig.machine.SetLastError(1234);
    std::uint8_t state = 0;
    ASSERT_EQ(devicecmd::DetectController(rig.Device(), rig.Transport(), state), 1);
    ASSERT_NE(devicecmd::CPrivateCMD7305().SetOptimize(rig.Device(), rig.Transport(5), 0), 0);
    EXPECT_EQ(rig.machine.LastError(), 1234u);
}

TEST_P(NvmeFaultTest, ADriveRejectingTheSwitchIsReportedAsFailure) {
    // Completion status fields (dword 3 bits 31-17) that each mean the command failed.
    const std::uint16_t statuses[] = {
        sim::NvmeInvalidOpcode,                        // status code 1: bit 17 alone
        sim::NvmeInvalidField,                         // bit 18
        sim::NvmeInvalidOpcode | sim::NvmeDoNotRetry,  // bits 17 and 31
        sim::NvmeMore,                                 // bit 30 alone
    };
    for (const std::uint16_t status : statuses) {
        SCOPED_TRACE(status);
        Rig rig(GetParam());
        rig.controller->RejectCommands(0xFD, 0xD7, status);
        EXPECT_EQ(devicecmd::CPrivateCMD7305().SetOptimize(rig.Device(), rig.Transport(5), 0), 0);
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), 2);
    }
}

TEST_P(NvmeFaultTest, ARejectedStateReadLeavesTheStateUnread) {
    Rig rig(GetParam());
    rig.controller->RejectCommands(0xFE, 0xD8, sim::NvmeInvalidOpcode);
    std::uint8_t state = 0x77;
    EXPECT_EQ(devicecmd::QueryOptimizeState(rig.Device(), rig.Transport(5), &state), 0);
    EXPECT_EQ(state, 0x77);
    std::uint8_t detected = 0x77;
    EXPECT_EQ(devicecmd::DetectController(rig.Device(), rig.Transport(), detected), 1);
    EXPECT_EQ(detected, devicecmd::OptimizeStateUnread);
}

INSTANTIATE_TEST_SUITE_P(Paths, NvmeFaultTest, ::testing::ValuesIn(e2e::AllNvmePaths),
                         [](const ::testing::TestParamInfo<NvmePath>& info) { return e2e::NameOf(info.param); });

// Each path retries a vendor command up to four times. The bridge retries each of its
// three SCSI requests by itself, so a bad status hits its command phase first.
TEST(RetryTest, BadStatusesUpToTheAttemptsAreRiddenOut) {
    struct Case {
        NvmePath path;
        std::uint32_t badTimes;
        bool succeeds;
        std::size_t calls;
    };
    const Case cases[] = {
        {NvmePath::Inbox, 1, true, 2},      {NvmePath::Inbox, 3, true, 4},      {NvmePath::Inbox, 4, false, 4},
        {NvmePath::Miniport, 1, true, 2},   {NvmePath::Miniport, 3, true, 4},   {NvmePath::Miniport, 4, false, 4},
        {NvmePath::Bridge, 1, true, 4},     {NvmePath::Bridge, 3, true, 6},     {NvmePath::Bridge, 4, false, 4},
        {NvmePath::IntelRst, 1, true, 2},   {NvmePath::IntelRst, 3, true, 4},   {NvmePath::IntelRst, 4, false, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(e2e::NameOf(c.path)) + " bad " + std::to_string(c.badTimes));
        Rig rig(c.path);
        rig.ArmBadStatus(c.badTimes);
        std::uint8_t state = 0x77;
        EXPECT_EQ(devicecmd::QueryOptimizeState(rig.Device(), rig.Transport(5), &state) != 0, c.succeeds);
        EXPECT_EQ(state, c.succeeds ? 2 : 0x77);
        EXPECT_EQ(rig.PassThroughCalls(), c.calls);
        // A failed attempt never reached the drive; a success reached it once.
        EXPECT_EQ(rig.controller->History().size(), c.succeeds ? 1u : 0u);
    }
}

TEST(RetryTest, BridgeIdentifyMakesOneAttemptPerRequest) {
    Rig rig(NvmePath::Bridge);
    rig.ArmBadStatus(1);
    std::vector<std::uint8_t> data(4096, 0);
    EXPECT_EQ(devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0), 0);
    EXPECT_EQ(rig.PassThroughCalls(), 1u);
    EXPECT_NE(devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0), 0);
}

// The inbox driver's identify reply, spoiled in the ways a driver might.
TEST(PropertyReplyTest, IdentifyTrustsOnlyASoundDescriptor) {
    struct Case {
        const char* what;
        sim::SimPropertyFault fault;
        bool succeeds;
    };
    const Case cases[] = {
        {"sound", sim::SimPropertyFault::None, true},
        {"wrong descriptor size", sim::SimPropertyFault::WrongDescriptorSize, false},
        {"more data named than asked for", sim::SimPropertyFault::OversizedData, true},
        {"data named outside the reply", sim::SimPropertyFault::DataOutsideBuffer, false},
        // The whole reply came back, but names less than the identify asked for.
        {"half the data named", sim::SimPropertyFault::ShortData, false},
        {"no data named", sim::SimPropertyFault::NoData, false},
        {"64 bytes named", sim::SimPropertyFault::FirstBytesOnly, false},
        {"data named inside the descriptor", sim::SimPropertyFault::DataInsideDescriptor, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(NvmePath::Inbox);
        rig.inbox->propertyFault = c.fault;
        rig.inbox->propertyFaultCount.Arm(1);
        std::vector<std::uint8_t> data(4096, 0xEE);
        rig.machine.SetLastError(0);
        EXPECT_EQ(devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0) != 0, c.succeeds);
        if (c.succeeds) {
            const auto expected = rig.controller->IdentifyController();
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.begin()));
        } else {
            EXPECT_EQ(data, std::vector<std::uint8_t>(4096, 0xEE));  // the caller's buffer untouched
            EXPECT_EQ(rig.machine.LastError(), 13u);                 // the call succeeded: the reply is short
        }
    }
}

TEST(PropertyReplyTest, ShortReplyStaysInsideTheBuffers) {
    Rig rig(NvmePath::Inbox);
    rig.inbox->propertyFault = sim::SimPropertyFault::ShortData;
    rig.inbox->propertyFaultCount.Arm(1);
    e2e::GuardedBuffer data(4096, 0xEE);
    // The reply names 2048 bytes: not the identify data that was asked for, so none of it
    // arrives, and nothing is written beyond the caller's 4096 bytes.
    ASSERT_EQ(devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0), 0);
    EXPECT_EQ(data.Contents(), std::vector<std::uint8_t>(4096, 0xEE));
    EXPECT_TRUE(data.GuardsIntact());
    // The next, sound reply is taken whole.
    ASSERT_NE(devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0), 0);
    const auto identify = rig.controller->IdentifyController();
    EXPECT_EQ(data.Contents(), std::vector<std::uint8_t>(identify.begin(), identify.end()));
    EXPECT_TRUE(data.GuardsIntact());
}

// The direct SCSI pass-through reports each failed attempt to the debugger.
TEST(DirectPassThroughTest, ReadsIntoTheCallersBufferAndReportsRetries) {
    Rig rig(NvmePath::Bridge);
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::array<std::uint8_t, 36> data{};
    ASSERT_NE(devicecmd::ScsiPassThroughDirectIn(rig.Device(), inquiry, 6, data.data(), 36, 10, 4), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&data[8]), 5), "Tavik");
    EXPECT_TRUE(rig.machine.DebugLines().empty());

    rig.bridge->senseFault.Arm(sim::SenseUnitAttention, sim::AscPowerOnReset, 0, 2);
    rig.machine.RefuseIoControl(L"", sim::IoctlScsiPassThroughDirect, sim::ErrorIoDevice, 1);
    EXPECT_NE(devicecmd::ScsiPassThroughDirectIn(rig.Device(), inquiry, 6, data.data(), 36, 10, 4), 0);
    EXPECT_EQ(rig.machine.DebugLines(), (std::vector<std::wstring>{L"r1 retry 1\n", L"r1 retry 0\n", L"r1 retry 0\n"}));

    rig.bridge->senseFault.Arm(sim::SenseIllegalRequest, sim::AscInvalidOpcode, 0, 4);
    const std::uint8_t testUnitReady[6] = {};
    EXPECT_EQ(devicecmd::ScsiPassThroughDirectOut(rig.Device(), testUnitReady, 6, nullptr, 0, 10, 4), 0);
    EXPECT_EQ(rig.machine.DebugLines().size(), 7u);
    EXPECT_EQ(rig.machine.DebugLines().back(), L"w1 retry 0\n");
}

}  // namespace
