// The device command layer end to end through each NVMe path of the simulated machine.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "devicecmd/Detect.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Transport.h"
#include "tests/e2e/Rig.h"

namespace {

using e2e::NvmePath;
using e2e::Rig;

std::string Text(const std::uint8_t* bytes, std::size_t width) {
    return std::string(reinterpret_cast<const char*>(bytes), width);
}

class NvmePathTest : public ::testing::TestWithParam<NvmePath> {};

TEST_P(NvmePathTest, IdentifiesDetectsSwitchesAndReadsBack) {
    Rig rig(GetParam());
    ASSERT_TRUE(rig.handle.IsUsable());

    std::vector<std::uint8_t> identify(devicecmd::IdentifyDataSize, 0);
    ASSERT_NE(devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), identify.data(), 1, 0), 0);
    EXPECT_EQ(Text(&identify[4], 20), "TVK310A0000000000017");
    EXPECT_EQ(Text(&identify[24], 40), "Tavik VX310 Series SSD 512GB            ");
    EXPECT_EQ(Text(&identify[64], 8), "VX31A005");

    std::uint8_t state = 0x77;
    ASSERT_EQ(devicecmd::DetectController(rig.Device(), rig.Transport(), state), 1);
    EXPECT_EQ(state, devicecmd::OptimizeStateOptimizable);

    std::array<std::uint8_t, devicecmd::VendorIdentifySize> record{};
    const auto vendorTransport = rig.Transport(devicecmd::VendorLayout7305);
    ASSERT_NE(devicecmd::ReadVendorIdentify(rig.Device(), vendorTransport, record.data(), record.size()), 0);
    EXPECT_EQ(Text(record.data(), 33), std::string("VantorPlus VX310 NVMe Controller") + '\0');
    EXPECT_EQ(Text(&record[176], 28), "VX310 firmware build 2026.11");

    devicecmd::CPrivateCMD7305 commands;
    for (const std::uint8_t wanted : {devicecmd::OptimizeStateOptimized, devicecmd::OptimizeStateOptimizable}) {
        SCOPED_TRACE(static_cast<int>(wanted));
        ASSERT_NE(commands.SetOptimize(rig.Device(), vendorTransport, wanted), 0);
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), wanted);
        std::uint8_t readBack = 0x77;
        ASSERT_NE(devicecmd::QueryOptimizeState(rig.Device(), vendorTransport, &readBack), 0);
        EXPECT_EQ(readBack, wanted);
    }
    // The drive saw only admin commands with namespace 0.
    for (const auto& executed : rig.controller->History()) {
        EXPECT_EQ(executed.queue, sim::SimQueue::Admin);
        EXPECT_EQ(executed.command[1], 0u);
        EXPECT_EQ(executed.status, sim::NvmeSuccess);
    }
}

TEST_P(NvmePathTest, DetectionJudgesTheDecipheredControllerName) {
    struct Case {
        const char* name;
        bool recognised;
    };
    const Case cases[] = {
        {"VantorPlus VX310 NVMe Controller", true},
        {"VANTORPLUS", true},
        {"vantorplus-next generation", true},
        {"VantorPlu", false},  // the tenth character is a zero byte
        {"Vantor Plus", false},
        {"Other Controller", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimNvmeConfig config;
        config.vendor.controllerName = c.name;
        config.vendor.optimizeState = devicecmd::OptimizeStateOptimized;
        Rig rig(GetParam(), config);
        std::uint8_t state = 0x77;
        EXPECT_EQ(devicecmd::DetectController(rig.Device(), rig.Transport(), state), c.recognised ? 1 : 0);
        EXPECT_EQ(state, c.recognised ? devicecmd::OptimizeStateOptimized : 0x77);
    }
}

TEST_P(NvmePathTest, StateReplyWithoutSignatureIsAFailedRead) {
    Rig rig(GetParam());
    rig.controller->Firmware().stateWithoutSignature.Arm(sim::Forever);
    std::uint8_t state = 0x77;
    EXPECT_EQ(devicecmd::DetectController(rig.Device(), rig.Transport(), state), 1);
    EXPECT_EQ(state, devicecmd::OptimizeStateUnread);
    std::uint8_t untouched = 0x77;
    EXPECT_EQ(devicecmd::QueryOptimizeState(rig.Device(), rig.Transport(5), &untouched), 0);
    EXPECT_EQ(untouched, 0x77);
}

TEST_P(NvmePathTest, DriveRefusingTheVendorReadIsNotRecognised) {
    Rig rig(GetParam());
    rig.controller->RejectCommands(0xFE, 0xA1, sim::NvmeInvalidOpcode);
    std::uint8_t state = 0x77;
    EXPECT_EQ(devicecmd::DetectController(rig.Device(), rig.Transport(), state), 0);
    EXPECT_EQ(state, 0x77);
}

TEST_P(NvmePathTest, VendorLayoutByteChangesNoRequest) {
    Rig rig(GetParam());
    std::uint8_t state = 0;
    ASSERT_NE(devicecmd::QueryOptimizeState(rig.Device(), rig.Transport(0), &state), 0);
    ASSERT_NE(devicecmd::QueryOptimizeState(rig.Device(), rig.Transport(5), &state), 0);
    const auto trace = rig.machine.Trace();
    ASSERT_EQ(trace.size() % 2, 0u);
    const std::size_t half = trace.size() / 2;
    for (std::size_t i = 0; i < half; ++i) {
        EXPECT_EQ(trace[i].code, trace[half + i].code);
        EXPECT_EQ(trace[i].request, trace[half + i].request);
    }
}

TEST_P(NvmePathTest, IdentifyWithoutABufferStillAsksTheDrive) {
    Rig rig(GetParam());
    EXPECT_NE(devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), nullptr, 1, 0), 0);
    ASSERT_EQ(rig.controller->History().size(), 1u);
    EXPECT_EQ(rig.controller->History()[0].command[0], 0x06u);
    EXPECT_EQ(rig.controller->History()[0].command[10], 1u);
}

INSTANTIATE_TEST_SUITE_P(Paths, NvmePathTest, ::testing::ValuesIn(e2e::AllNvmePaths),
                         [](const ::testing::TestParamInfo<NvmePath>& info) { return e2e::NameOf(info.param); });

// The record's layout, as the firmware writes it, against the layout the caller names.
TEST(VendorRecordTest, DeciphersTheRangesOfTheNamedLayout) {
    struct Case {
        const char* what;
        sim::SimRecordLayout layout;
        bool enciphered;
        std::uint8_t transportLayout;
        std::size_t secondRange;
    };
    const Case cases[] = {
        {"layout 5", sim::SimRecordLayout::Layout5, true, 5, 176},
        {"alternate, enciphered", sim::SimRecordLayout::Alternate, true, 0, 400},
        {"alternate, in clear", sim::SimRecordLayout::Alternate, false, 0, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimNvmeConfig config;
        config.vendor.layout = c.layout;
        config.vendor.enciphered = c.enciphered;
        Rig rig(NvmePath::Miniport, config);
        std::array<std::uint8_t, 512> record{};
        ASSERT_NE(devicecmd::ReadVendorIdentify(rig.Device(), rig.Transport(c.transportLayout), record.data(), 512), 0);
        EXPECT_EQ(Text(record.data(), 10), "VantorPlus");
        EXPECT_EQ(Text(&record[c.secondRange], 28), "VX310 firmware build 2026.11");
        const auto& key = rig.controller->Firmware().Config().key;
        EXPECT_TRUE(std::equal(key.begin(), key.end(), record.begin() + 128));
    }
}

// Reads shorter than the enciphered ranges must stay inside the caller's buffer and
// give exactly the plain prefix of the whole record.
TEST(VendorRecordTest, ShortReadsStayInsideTheBuffer) {
    for (const std::uint8_t layout : {std::uint8_t{0}, std::uint8_t{5}}) {
        sim::SimNvmeConfig config;
        config.vendor.layout = layout == 5 ? sim::SimRecordLayout::Layout5 : sim::SimRecordLayout::Alternate;
        std::array<std::uint8_t, 512> whole{};
        {
            Rig rig(NvmePath::Inbox, config);
            ASSERT_NE(devicecmd::ReadVendorIdentify(rig.Device(), rig.Transport(layout), whole.data(), 512), 0);
            ASSERT_EQ(Text(whole.data(), 10), "VantorPlus");
        }
        for (const std::uint32_t length : {1u, 12u, 64u, 100u, 180u, 207u, 300u, 420u, 511u}) {
            SCOPED_TRACE(testing::Message() << "layout " << int{layout} << ", " << length << " bytes");
            Rig rig(NvmePath::Inbox, config);
            e2e::GuardedBuffer record(length, 0xEE);
            ASSERT_NE(devicecmd::ReadVendorIdentify(rig.Device(), rig.Transport(layout), record.data(), length), 0);
            EXPECT_EQ(record.Contents(), std::vector<std::uint8_t>(whole.begin(), whole.begin() + length));
            EXPECT_TRUE(record.GuardsIntact());
        }
    }
}

}  // namespace
