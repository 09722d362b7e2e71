// ATA commands through SAT and the ATA pass-through, against a simulated ATA drive.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "devicecmd/Detect.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Transport.h"
#include "sim/SimDrives.h"

namespace {

class AtaPathTest : public ::testing::TestWithParam<devicecmd::TransportCode> {
protected:
    AtaPathTest() : drive(sim::AttachSataDrive(machine, 0)) {
        handle = platform::UniqueHandle::Open(machine, drive.physicalPath, platform::AccessRead | platform::AccessWrite,
                                              platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                              platform::AttributeNormal);
    }
    devicecmd::TransportWord Transport() const { return devicecmd::MakeTransport(GetParam(), 5); }

    sim::SimMachine machine;
    sim::SimSataDrive drive;
    platform::UniqueHandle handle;
};

TEST_P(AtaPathTest, IdentifyDeviceReturnsTheDrivesData) {
    std::array<std::uint8_t, devicecmd::AtaIdentifyDataSize> data{};
    ASSERT_NE(devicecmd::IdentifyDevice(handle.Ref(), Transport(), data.data(), 1, 0), 0);
    EXPECT_EQ(data, drive.device->IdentifyData());
    ASSERT_EQ(drive.device->History().size(), 1u);
    EXPECT_EQ(drive.device->History()[0].command, 0xEC);
    EXPECT_EQ(drive.device->History()[0].features, 0xD0);
    EXPECT_EQ(drive.device->History()[0].device, 0xE0);
}

TEST_P(AtaPathTest, VendorCommandsCarryTheSubcodeInTheHighAddressBits) {
    std::array<std::uint8_t, 512> payload{};
    ASSERT_NE(devicecmd::SendDeviceCommand(handle.Ref(), Transport(), 0xFC, 0xD8, 0, payload.data(), 1,
                                           devicecmd::DirectionRead, 0xD0, 0xE0, 10, 4),
              0);
    EXPECT_EQ(payload[0], 0xAA);
    EXPECT_EQ(payload[4], 2);

    ASSERT_NE(devicecmd::CPrivateCMD7305().SetOptimize(handle.Ref(), Transport(), 0), 0);
    EXPECT_EQ(drive.device->Firmware().OptimizeState(), 0);
    const auto& write = drive.device->History().back();
    EXPECT_EQ(write.command, 0xFD);
    EXPECT_EQ(write.lba, std::uint64_t{0xD7} << 32);
    EXPECT_EQ(write.count, 1);
}

TEST_P(AtaPathTest, ControllerDetectionSendsNothingOnAtaPaths) {
    std::uint8_t state = 0x77;
    EXPECT_EQ(devicecmd::DetectController(handle.Ref(), devicecmd::MakeTransport(GetParam()), state), 0);
    EXPECT_EQ(state, 0x77);
    EXPECT_TRUE(machine.Trace().empty());
}

INSTANTIATE_TEST_SUITE_P(Paths, AtaPathTest, ::testing::Values(devicecmd::TransportSat, devicecmd::TransportAta),
                         [](const ::testing::TestParamInfo<devicecmd::TransportCode>& info) {
                             return std::string(info.param == devicecmd::TransportSat ? "sat" : "ata");
                         });

// A drive that aborts the switch. SAT reports the abort as sense data; the ATA
// pass-through call itself succeeds and carries the abort only in the returned task file
// (status bit 0, error register), so the layer has to look there.
class AtaAbortTest : public ::testing::Test {
protected:
    AtaAbortTest() : drive(sim::AttachSataDrive(machine, 0)) {
        drive.device->AbortCommands(0xFD);
        handle = platform::UniqueHandle::Open(machine, drive.physicalPath, platform::AccessRead | platform::AccessWrite,
                                              platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                              platform::AttributeNormal);
    }
    int Switch(devicecmd::TransportCode code) {
        return devicecmd::CPrivateCMD7305().SetOptimize(handle.Ref(), devicecmd::MakeTransport(code, 5), 0);
    }
    sim::SimMachine machine;
    sim::SimSataDrive drive;
    platform::UniqueHandle handle;
};

TEST_F(AtaAbortTest, SatReportsAnAbortedSwitchAsFailure) {
    EXPECT_EQ(Switch(devicecmd::TransportSat), 0);
    EXPECT_EQ(drive.device->Firmware().OptimizeState(), 2);
}

TEST_F(AtaAbortTest, AtaPassThroughReportsAnAbortedSwitchAsFailure) {
    EXPECT_EQ(Switch(devicecmd::TransportAta), 0);
    EXPECT_EQ(drive.device->Firmware().OptimizeState(), 2);
}

}  // namespace
