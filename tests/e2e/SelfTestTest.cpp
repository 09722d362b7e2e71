// The device self-test end to end on each NVMe path: started, followed in simulated time,
// aborted, refused, and its log read as the drive keeps it.

#include <gtest/gtest.h>

#include <optional>

#include "devicecmd/SelfTest.h"
#include "tests/e2e/Rig.h"

namespace {

using devicecmd::SelfTestAction;
using devicecmd::SelfTestVerdict;
using e2e::AllNvmePaths;
using e2e::NameOf;
using e2e::Rig;

constexpr std::uint32_t ErrorIoDevice = 1117;
constexpr std::uint32_t Minute = 60 * 1000;

std::optional<devicecmd::SelfTestLog> ReadLog(Rig& rig) {
    devicecmd::SelfTestLogBytes bytes{};
    if (!devicecmd::ReadSelfTestLog(rig.Device(), rig.Transport(), bytes)) return std::nullopt;
    return devicecmd::DecodeSelfTestLog(bytes.data(), bytes.size());
}

TEST(SelfTestOnEachPath, StartFollowRefuseASecondAndAbort) {
    for (const e2e::NvmePath path : AllNvmePaths) {
        SCOPED_TRACE(NameOf(path));
        sim::SimNvmeConfig config;
        config.selfTest.shortMs = 2 * Minute;
        config.selfTest.extendedMs = 8 * Minute;
        Rig rig(path, config);
        const auto identify = rig.controller->IdentifyController();
        EXPECT_TRUE(devicecmd::OffersSelfTest(identify.data()));
        EXPECT_EQ(devicecmd::ExtendedTestMinutes(identify.data()), 8);

        auto log = ReadLog(rig);
        ASSERT_TRUE(log);
        EXPECT_FALSE(log->Running());
        EXPECT_TRUE(log->results.empty());

        ASSERT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Short), 1)
            << rig.machine.LastError() << " history " << rig.controller->History().size();
        rig.controller->AdvanceTime(Minute);
        log = ReadLog(rig);
        ASSERT_TRUE(log);
        EXPECT_EQ(log->currentOperation, 1);
        EXPECT_EQ(log->completionPercent, 50);
        // A second start while one runs is the drive's refusal, reported as such.
        rig.machine.SetLastError(0);
        EXPECT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Extended), 0);
        EXPECT_EQ(rig.machine.LastError(), ErrorIoDevice);

        rig.controller->AdvanceTime(Minute);
        log = ReadLog(rig);
        ASSERT_TRUE(log);
        EXPECT_FALSE(log->Running());
        ASSERT_EQ(log->results.size(), 1u);
        EXPECT_EQ(log->results[0].Verdict(), SelfTestVerdict::Passed);
        EXPECT_EQ(log->results[0].testCode, 1);

        ASSERT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Extended), 1);
        rig.controller->AdvanceTime(Minute);
        ASSERT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Abort), 1);
        log = ReadLog(rig);
        ASSERT_TRUE(log);
        EXPECT_FALSE(log->Running());
        ASSERT_EQ(log->results.size(), 2u);  // newest first
        EXPECT_EQ(log->results[0].Result(), devicecmd::SelfTestResult::AbortedByCommand);
        EXPECT_EQ(log->results[0].testCode, 2);
        EXPECT_EQ(log->results[1].Verdict(), SelfTestVerdict::Passed);
    }
}

TEST(SelfTestOnEachPath, TheDrivesFaults) {
    for (const e2e::NvmePath path : AllNvmePaths) {
        SCOPED_TRACE(NameOf(path));
        {
            sim::SimNvmeConfig config;
            config.selfTest.fault = sim::SimSelfTestFault::FailingSegment;
            Rig rig(path, config);
            ASSERT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Short), 1);
            rig.controller->AdvanceTime(config.selfTest.shortMs / 2);
            const auto log = ReadLog(rig);
            ASSERT_TRUE(log);
            ASSERT_EQ(log->results.size(), 1u);
            EXPECT_EQ(log->results[0].Verdict(), SelfTestVerdict::Failed);
            EXPECT_EQ(log->results[0].FailedSegmentNumber(), std::optional<std::uint8_t>(2));
            EXPECT_TRUE(log->results[0].failingLba);
        }
        {
            sim::SimNvmeConfig config;
            config.selfTest.fault = sim::SimSelfTestFault::DriveAborts;
            Rig rig(path, config);
            ASSERT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Short), 1);
            rig.controller->AdvanceTime(config.selfTest.shortMs);
            const auto log = ReadLog(rig);
            ASSERT_TRUE(log);
            ASSERT_EQ(log->results.size(), 1u);
            EXPECT_EQ(log->results[0].Result(), devicecmd::SelfTestResult::AbortedUnknown);
        }
        {
            sim::SimNvmeConfig config;
            config.selfTest.supported = false;
            Rig rig(path, config);
            EXPECT_FALSE(devicecmd::OffersSelfTest(rig.controller->IdentifyController().data()));
            rig.machine.SetLastError(0);
            EXPECT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Short), 0);
            EXPECT_NE(rig.machine.LastError(), 0u);
            EXPECT_FALSE(ReadLog(rig));
        }
        {
            sim::SimNvmeConfig config;
            config.selfTest.fault = sim::SimSelfTestFault::LogRefused;
            Rig rig(path, config);
            EXPECT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(), SelfTestAction::Short), 1);
            EXPECT_FALSE(ReadLog(rig));
        }
    }
}

// The drive keeps twenty results, newest first; the oldest goes.
TEST(SelfTestOnEachPath, TwentyResultsKept) {
    Rig rig(e2e::NvmePath::Miniport);
    for (int i = 0; i < 22; ++i) {
        ASSERT_EQ(devicecmd::SendSelfTest(rig.Device(), rig.Transport(),
                                          i % 2 ? SelfTestAction::Extended : SelfTestAction::Short),
                  1);
        rig.controller->AdvanceTime(10 * Minute);
    }
    const auto log = ReadLog(rig);
    ASSERT_TRUE(log);
    ASSERT_EQ(log->results.size(), 20u);
    EXPECT_EQ(log->results.front().testCode, 2);  // the 22nd test, extended
    EXPECT_GE(log->results.front().powerOnHours, log->results.back().powerOnHours);
}

}  // namespace
