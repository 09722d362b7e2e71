// The pass as a report sees it: every disk it came to, with what it made of each; and the
// window's scope, which stops at the first accepted drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/Enumerate.h"
#include "RecordingIo.h"
#include "sim/SimComputer.h"

namespace {

using discovery::DiskVerdict;
using sim::SimNvmePath;

// Counts the questions for the last error, which the trace of the system shows as calls.
class CountingIo : public discovery_test::RecordingIo {
public:
    using RecordingIo::RecordingIo;
    int lastErrors = 0;
    std::uint32_t LastError() override {
        ++lastErrors;
        return RecordingIo::LastError();
    }
};

// Disk 0 will not open (no administrator rights), then SATA, another maker's NVMe drive,
// a USB stick (behind no known bridge: nothing is sent), a VX310 behind a miniport and a VX310 on the inbox driver.
void Describe(sim::SimComputer& pc) {
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    const auto sata = pc.AddAdapter(sim::AdapterSata);
    const auto usb = pc.AddAdapter(sim::AdapterUsb);
    pc.AddVx310(nvme, SimNvmePath::Inbox);                      // 0
    pc.AddSataDrive(sata);                                      // 1
    pc.AddForeignNvmeDrive(nvme, "Other Maker SSD 990 2TB");    // 2
    pc.AddPlainDisk(usb, 60000000);                             // 3
    pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Miniport);  // 4
    pc.AddVx310(nvme, SimNvmePath::Inbox);                      // 5
    pc.AddVolume(4, {L"C:\\"}, 400 * sim::GiB, 100 * sim::GiB);
    pc.AddVolume(5, {L"D:\\"}, 400 * sim::GiB, 100 * sim::GiB);
    pc.Machine().RefuseOpen(L"\\\\.\\PHYSICALDRIVE0", sim::ErrorAccessDenied);
}

std::vector<DiskVerdict> Verdicts(const std::vector<discovery::ExaminedDisk>& examined) {
    std::vector<DiskVerdict> verdicts;
    for (const auto& seen : examined) verdicts.push_back(seen.verdict);
    return verdicts;
}

TEST(ExamineDrives, EveryDiskWithWhatThePassMadeOfIt) {
    sim::SimComputer pc;
    Describe(pc);
    discovery::PassScope scope;
    scope.everyDisk = true;
    scope.askWhyNotOpened = true;
    const auto examined = discovery::ExamineDrives(pc.System(), scope);

    EXPECT_EQ(Verdicts(examined),
              (std::vector<DiskVerdict>{DiskVerdict::NotOpened, DiskVerdict::Sata, DiskVerdict::OtherMaker,
                                        DiskVerdict::UnknownUsb, DiskVerdict::Accepted, DiskVerdict::Accepted}));
    for (std::size_t i = 0; i < examined.size(); ++i) EXPECT_EQ(examined[i].record->phyDriveIndex, int(i));
    EXPECT_EQ(examined[0].openError, sim::ErrorAccessDenied);
    EXPECT_STREQ(examined[2].record->modelNumber.data(), "Other Maker SSD 990 2TB");
    EXPECT_EQ(examined[2].record->privateCmd, nullptr);
    // Both VX310s, each as the window would have taken it: command object, logical drives.
    for (const std::size_t i : {4u, 5u}) {
        const discovery::DiskInfo& disk = *examined[i].record;
        EXPECT_NE(disk.privateCmd, nullptr) << i;
        EXPECT_EQ(disk.ctrlFamily, 5) << i;
        ASSERT_NE(disk.logicalDrives[0], nullptr) << i;
    }
    EXPECT_EQ(examined[4].record->busType, devicecmd::TransportNvmeMiniport);
    EXPECT_EQ(examined[4].record->logicalDrives[0]->driveLetter, L'C');
    EXPECT_EQ(examined[5].record->logicalDrives[0]->driveLetter, L'D');
    // Another maker's drive and the SATA drive still get no vendor command.
    for (const auto& command : pc.Disk(2).controller->History())
        EXPECT_EQ(command.command[0] & 0xFF, sim::NvmeIdentify);
    EXPECT_TRUE(pc.Disk(1).ataDevice->History().empty());
    EXPECT_EQ(pc.Machine().OpenHandleCount(), 0u);
}

TEST(ExamineDrives, TheWindowsScopeStopsAtTheFirstAcceptedDriveAndAsksNothingMore) {
    sim::SimComputer pc;
    Describe(pc);
    CountingIo io(pc.Machine());
    const auto examined = discovery::ExamineDrives({io, pc.Tree(), pc.Volumes()});
    EXPECT_EQ(Verdicts(examined),
              (std::vector<DiskVerdict>{DiskVerdict::NotOpened, DiskVerdict::Sata, DiskVerdict::OtherMaker,
                                        DiskVerdict::UnknownUsb, DiskVerdict::Accepted}));
    EXPECT_EQ(examined[0].openError, 0u);  // not asked
    EXPECT_TRUE(pc.Disk(5).controller->History().empty());
    EXPECT_FALSE(io.Opened(pc.Disk(5).physicalPath));

    // Asking why a drive did not open is one more question, and only for that drive.
    sim::SimComputer asked;
    Describe(asked);
    CountingIo askedIo(asked.Machine());
    discovery::PassScope scope;
    scope.askWhyNotOpened = true;
    discovery::ExamineDrives({askedIo, asked.Tree(), asked.Volumes()}, scope);
    EXPECT_EQ(askedIo.lastErrors, io.lastErrors + 1);
}

}  // namespace
