// The simulated drive's device self-test spoken to directly, its log read as raw bytes at
// the offsets the NVMe layout gives (not through the program's decoder).

#include <gtest/gtest.h>

#include <vector>

#include "sim/SimBytes.h"
#include "sim/SimNvmeController.h"

namespace {

using sim::NvmeCommandDwords;

NvmeCommandDwords SelfTest(std::uint32_t code, std::uint32_t nsid = 0xFFFFFFFF) {
    NvmeCommandDwords command{};
    command[0] = 0x14;
    command[1] = nsid;
    command[10] = code;
    return command;
}

std::vector<std::uint8_t> ReadLog(sim::SimNvmeController& controller, std::uint16_t* status = nullptr) {
    NvmeCommandDwords command{};
    command[0] = 0x02;
    command[1] = 0xFFFFFFFF;
    command[10] = 0x06 | (140u << 16);  // 141 dwords
    std::vector<std::uint8_t> log(564, 0xEE);
    const auto completion = controller.Execute(sim::SimQueue::Admin, command, log.data(), 564);
    if (status) *status = completion.status;
    return log;
}

std::uint16_t Status(sim::SimNvmeController& controller, const NvmeCommandDwords& command) {
    return controller.Execute(sim::SimQueue::Admin, command, nullptr, 0).status;
}

TEST(SimSelfTest, ProgressAndResultsAsTheLogLaysThemOut) {
    sim::SimNvmeConfig config;
    config.selfTest.shortMs = 100 * 1000;
    sim::SimNvmeController controller(config);
    auto log = ReadLog(controller);
    EXPECT_EQ(log[0], 0);
    for (std::size_t n = 0; n < 20; ++n) EXPECT_EQ(log[4 + 28 * n] & 0x0F, 0x0F) << n;  // all unused

    ASSERT_EQ(Status(controller, SelfTest(1)), sim::NvmeSuccess);
    controller.AdvanceTime(37 * 1000);
    log = ReadLog(controller);
    EXPECT_EQ(log[0], 1);   // a short test runs
    EXPECT_EQ(log[1], 37);  // 37 % done
    EXPECT_EQ(Status(controller, SelfTest(2)), sim::NvmeSelfTestInProgress);

    controller.AdvanceTime(63 * 1000);
    log = ReadLog(controller);
    EXPECT_EQ(log[0], 0);
    EXPECT_EQ(log[4], 0x10);                      // short test (code 1 in bits 7:4), no error
    EXPECT_EQ(sim::Get64(&log[8]), 1873u);        // power-on hours
    EXPECT_EQ(log[6], 0);                         // no diagnostic field valid
    EXPECT_EQ(log[4 + 28] & 0x0F, 0x0F);

    ASSERT_EQ(Status(controller, SelfTest(2)), sim::NvmeSuccess);
    ASSERT_EQ(Status(controller, SelfTest(0xF)), sim::NvmeSuccess);
    log = ReadLog(controller);
    EXPECT_EQ(log[0], 0);
    EXPECT_EQ(log[4], 0x21);       // newest first: extended, aborted by the command
    EXPECT_EQ(log[4 + 28], 0x10);  // then the short test's pass
    // Abort with nothing running logs nothing.
    ASSERT_EQ(Status(controller, SelfTest(0xF)), sim::NvmeSuccess);
    EXPECT_EQ(ReadLog(controller)[4 + 56] & 0x0F, 0x0F);
}

TEST(SimSelfTest, AFailingSegmentCarriesItsDiagnostics) {
    sim::SimNvmeConfig config;
    config.selfTest.fault = sim::SimSelfTestFault::FailingSegment;
    sim::SimNvmeController controller(config);
    ASSERT_EQ(Status(controller, SelfTest(2)), sim::NvmeSuccess);
    controller.AdvanceTime(config.selfTest.extendedMs / 2 - 1);
    EXPECT_EQ(ReadLog(controller)[0], 2);
    controller.AdvanceTime(1);
    const auto log = ReadLog(controller);
    EXPECT_EQ(log[0], 0);
    EXPECT_EQ(log[4], 0x27);                        // extended, failed segments
    EXPECT_EQ(log[5], 2);                           // segment number
    EXPECT_EQ(log[6], 0x0F);                        // NSID, LBA, SCT and SC valid
    EXPECT_EQ(sim::Get32(&log[16]), 1u);            // NSID
    EXPECT_EQ(sim::Get64(&log[20]), 0x1D5A3C40u);   // failing LBA
    EXPECT_EQ(log[28], 0x2);                        // media and data integrity errors
    EXPECT_EQ(log[29], 0x81);                       // unrecovered read error
}

TEST(SimSelfTest, RefusalsAndSupport) {
    struct Case {
        const char* name;
        NvmeCommandDwords command;
        std::uint16_t status;
    };
    sim::SimNvmeController controller;
    const Case cases[] = {
        {"reserved code", SelfTest(3), sim::NvmeInvalidField},
        {"namespace 5", SelfTest(1, 5), sim::NvmeInvalidNamespace},
    };
    for (const Case& c : cases) EXPECT_EQ(Status(controller, c.command), c.status) << c.name;
    EXPECT_EQ(controller.IdentifyController()[256] & 0x10, 0x10);
    EXPECT_EQ(sim::Get16(&controller.IdentifyController()[316]), 10);  // 600 s stated as 10 minutes

    sim::SimNvmeConfig none;
    none.selfTest.supported = false;
    sim::SimNvmeController unsupported(none);
    EXPECT_EQ(unsupported.IdentifyController()[256] & 0x10, 0);
    EXPECT_EQ(Status(unsupported, SelfTest(1)), sim::NvmeInvalidOpcode);
    std::uint16_t status = 0;
    ReadLog(unsupported, &status);
    EXPECT_EQ(status, 0x109);  // invalid log page

    sim::SimNvmeConfig refused;
    refused.selfTest.fault = sim::SimSelfTestFault::LogRefused;
    sim::SimNvmeController refusing(refused);
    ReadLog(refusing, &status);
    EXPECT_NE(status, sim::NvmeSuccess);
    EXPECT_EQ(Status(refusing, SelfTest(1)), sim::NvmeSuccess);
}

}  // namespace
