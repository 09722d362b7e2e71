// Behind Intel RST a command reaches the drive by the SCSI address of its disk. The address
// is read once, when the drive is identified, and every later command of the drive goes
// there: a disk that answers another address later is not followed, and the switch takes
// it for another drive (1167), as it does a changed serial.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "devicecmd/IntelRst.h"
#include "discovery/Enumerate.h"
#include "optimize/SwitchFlow.h"
#include "sim/SimCodes.h"
#include "sim/SimComputer.h"

namespace {

// Answers IOCTL_SCSI_GET_ADDRESS with `first` for the first `firstCount` requests and with
// `later` after them; everything else goes to the disk's stack.
class MovingAddress : public sim::SimEndpoint {
public:
    MovingAddress(std::shared_ptr<sim::SimEndpoint> inner, sim::SimScsiAddress first, unsigned firstCount,
                  sim::SimScsiAddress later)
        : inner_(std::move(inner)), first_(first), firstCount_(firstCount), later_(later) {}
    unsigned asked = 0;

    sim::SimResult IoControl(const sim::SimCall& call) override {
        if (call.code != sim::IoctlScsiGetAddress) return inner_->IoControl(call);
        if (call.outSize < 8) return sim::SimResult::Failure(sim::ErrorInsufficientBuffer);
        const sim::SimScsiAddress& a = asked++ < firstCount_ ? first_ : later_;
        const std::uint8_t reply[8] = {8, 0, 0, 0, a.portNumber, a.pathId, a.targetId, a.lun};
        std::copy(reply, reply + 8, call.out);
        return sim::SimResult::Success(8);
    }
    std::vector<std::uint8_t>* Media() override { return inner_->Media(); }
    bool ReadMedia(std::uint64_t position, std::uint8_t* out, std::uint32_t size, std::uint32_t& count) override {
        return inner_->ReadMedia(position, out, size, count);
    }

private:
    std::shared_ptr<sim::SimEndpoint> inner_;
    sim::SimScsiAddress first_;
    unsigned firstCount_;
    sim::SimScsiAddress later_;
};

// A VX310 behind RST after another maker's NVMe drive on the same adapter: PathIds 0 and 1.
struct RstMachine {
    sim::SimComputer pc;
    sim::SimDisk* other = nullptr;
    sim::SimDisk* vx310 = nullptr;

    RstMachine() {
        const std::size_t rst = pc.AddIntelRstAdapter();
        other = &pc.AddForeignNvmeDrive(rst, "Other Maker NVMe SSD 1TB", sim::SimNvmePath::IntelRst);
        vx310 = &pc.AddVx310(rst, sim::SimNvmePath::IntelRst);
        vx310->controller->SetHealthLog(sim::SimHealthLogOf(sim::SimHealthKind::Hot));
        vx310->controller->Firmware().SetOptimizeState(2);
        other->controller->Firmware().SetOptimizeState(2);
    }
    // The VX310's disk answers its own address `honest` times, then the other drive's.
    std::shared_ptr<MovingAddress> MoveAddressAfter(unsigned honest) {
        auto moving = std::make_shared<MovingAddress>(vx310->stack, *vx310->scsiAddress, honest, *other->scsiAddress);
        pc.Machine().Attach(vx310->physicalPath, moving);
        return moving;
    }
    std::size_t Calls(std::uint32_t code) {
        std::size_t n = 0;
        for (const auto& entry : pc.Machine().Trace()) n += entry.code == code ? 1 : 0;
        return n;
    }
    std::unique_ptr<discovery::DiskInfo> Enumerate() {
        discovery::DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        return std::move(table[0]);
    }
};

// However many times the disk would answer the address honestly, the pass reads it once per
// disk: the VX310's own state and its own (hot) log, never the other drive's.
TEST(RstAddress, ReadOnceWhenIdentifiedAndUsedForEveryCommandOfThePass) {
    for (unsigned honest : {1u, 2u, 3u, 100u}) {
        SCOPED_TRACE(honest);
        RstMachine m;
        const auto moving = m.MoveAddressAfter(honest);
        const auto drive = m.Enumerate();
        ASSERT_NE(drive, nullptr);
        EXPECT_EQ(moving->asked, 1u);
        EXPECT_EQ(m.Calls(sim::IoctlScsiGetAddress), 2u);  // one per disk behind RST
        ASSERT_TRUE(drive->rstAddress);
        EXPECT_EQ(drive->rstAddress->pathId, m.vx310->scsiAddress->pathId);
        EXPECT_EQ(drive->optimizeState, 2);
        ASSERT_TRUE(drive->health);
        EXPECT_EQ(drive->health->criticalWarning, devicecmd::WarningTemperature);
        EXPECT_EQ(devicecmd::RstAddressOf(drive->Transport())->pathId, m.vx310->scsiAddress->pathId);
    }
}

// The switch reads the address again with the second identify: another one than the
// record's is another drive. Nothing is written to either drive.
TEST(RstAddress, AnAddressThatChangedBeforeTheSwitchIsAnotherDrive) {
    struct Case {
        const char* what;
        bool moves;
        SwitchOutcome outcome;
        std::uint32_t error;
        std::uint8_t vx310State;
    };
    const Case cases[] = {
        {"the same address", false, SwitchOutcome::Switched, 0, 0},
        {"another drive's address", true, SwitchOutcome::NotTheSameDrive, ErrorDeviceNotConnected, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RstMachine m;
        const auto drive = m.Enumerate();
        ASSERT_NE(drive, nullptr);
        if (c.moves) m.MoveAddressAfter(0);
        m.pc.Machine().ClearTrace();
        const SwitchResult result = SwitchDrive(*drive, m.pc.Machine(), 0);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.errorCode, c.error);
        EXPECT_EQ(result.otherDrive, c.moves);
        EXPECT_EQ(m.vx310->controller->Firmware().OptimizeState(), c.vx310State);
        EXPECT_EQ(m.other->controller->Firmware().OptimizeState(), 2);
        // The switch asks the address once; the commands go where the record says.
        EXPECT_EQ(m.Calls(sim::IoctlScsiGetAddress), 1u);
        EXPECT_EQ(m.Calls(sim::IoctlScsiMiniport), c.moves ? 0u : 2u);  // identify, the write
    }
}

// The address travels in the transport word, which keeps its low bytes.
TEST(RstAddress, TransportWordCarriesTheAddress) {
    const devicecmd::TransportWord plain = devicecmd::MakeTransport(devicecmd::TransportIntelRst, 5);
    EXPECT_FALSE(devicecmd::RstAddressOf(plain));
    for (const devicecmd::ScsiAddress a : {devicecmd::ScsiAddress{0, 0, 0, 0}, devicecmd::ScsiAddress{2, 1, 0, 0},
                                           devicecmd::ScsiAddress{255, 254, 253, 252}}) {
        const devicecmd::TransportWord word = devicecmd::WithRstAddress(plain, a);
        EXPECT_EQ(devicecmd::TransportCodeOf(word), devicecmd::TransportIntelRst);
        EXPECT_EQ(devicecmd::VendorLayoutOf(word), 5);
        const auto back = devicecmd::RstAddressOf(word);
        ASSERT_TRUE(back);
        EXPECT_TRUE(devicecmd::SameScsiAddress(*back, a));
    }
}

}  // namespace
