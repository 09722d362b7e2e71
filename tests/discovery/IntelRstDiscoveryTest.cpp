// Disks behind Intel RST ("RAID On", VMD): RST's own NVMe pass-through, only on an adapter
// whose driver service is RST's and only to a disk RST presents as an NVMe drive, before
// the "NvmeMini" request; SATA drives and RAID volumes behind it, which hear nothing; and
// RST drivers that do not carry the request.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "devicecmd/IntelRst.h"
#include "devicecmd/Transport.h"
#include "discovery/Enumerate.h"
#include "discovery/IntelRstAdapters.h"
#include "LogCapture.h"
#include "optimize/SwitchFlow.h"
#include "sim/SimShutdown.h"
#include "sim/SimComputer.h"

namespace {

using discovery::DiskVerdict;
using sim::SimNvmePath;

bool Signed(const sim::SimTraceEntry& entry, const char* signature) {
    return entry.code == sim::IoctlScsiMiniport && entry.request.size() >= 12 &&
           std::memcmp(entry.request.data() + 4, signature, 8) == 0;
}

// The PathIds the "IntelNvm" requests of the trace were addressed to, in order.
std::vector<int> IntelNvmPathIds(const sim::SimMachine& machine) {
    std::vector<int> paths;
    for (const auto& entry : machine.Trace())
        if (Signed(entry, "IntelNvm") && entry.request.size() > 29) paths.push_back(entry.request[29]);
    return paths;
}

std::size_t CountSigned(const sim::SimMachine& machine, const char* signature) {
    std::size_t count = 0;
    for (const auto& entry : machine.Trace()) count += Signed(entry, signature) ? 1 : 0;
    return count;
}

std::string Model(const discovery::DiskInfo& disk) { return disk.modelNumber.data(); }

// Behind one RST adapter: a SATA drive (PathId 0), another maker's NVMe drive (1), a RAID
// volume (2) and a VX310 (3).
TEST(IntelRst, TheVx310IsFoundOtherNvmeIdentifiedOnlySataAndVolumesLeftAlone) {
    sim::SimComputer pc;
    const auto rst = pc.AddIntelRstAdapter();
    sim::SimAtaConfig sataConfig;
    sataConfig.identity.model = "Other Maker SATA SSD 960GB";
    const sim::SimDisk& sata = pc.AddSataDrive(rst, sataConfig);
    const sim::SimDisk& other = pc.AddForeignNvmeDrive(rst, "Other Maker NVMe SSD 1TB", SimNvmePath::IntelRst);
    const sim::SimDisk& volume = pc.AddRstRaidVolume(rst, 2 * 1000215216ull, 0);
    const sim::SimDisk& vx310 = pc.AddVx310(rst, SimNvmePath::IntelRst);
    pc.AddVolume(vx310.number, {L"C:\\"}, 400 * sim::GiB, 100 * sim::GiB);

    discovery::PassScope scope;
    scope.everyDisk = true;
    const auto examined = discovery::ExamineDrives(pc.System(), scope);
    ASSERT_EQ(examined.size(), 4u);
    EXPECT_EQ(examined[0].verdict, DiskVerdict::Sata);
    EXPECT_EQ(examined[1].verdict, DiskVerdict::OtherMaker);
    EXPECT_EQ(examined[2].verdict, DiskVerdict::RaidVolume);
    ASSERT_EQ(examined[3].verdict, DiskVerdict::Accepted);

    const discovery::DiskInfo& found = *examined[3].record;
    EXPECT_EQ(found.busType, devicecmd::TransportIntelRst);
    EXPECT_EQ(Model(found), "Tavik VX310 Series SSD 512GB");
    EXPECT_EQ(found.optimizeState, 2);
    EXPECT_EQ(found.totalSectors, vx310.controller->Identity().sectors);
    ASSERT_NE(found.logicalDrives[0], nullptr);
    EXPECT_EQ(examined[1].record->busType, devicecmd::TransportIntelRst);
    EXPECT_EQ(Model(*examined[1].record), "Other Maker NVMe SSD 1TB");

    // Another maker's drive answered identify and heard nothing more.
    ASSERT_EQ(other.controller->History().size(), 1u);
    EXPECT_EQ(other.controller->History()[0].command[0], 0x06u);
    // The SATA drive and the volume got no request at all past the two property queries.
    EXPECT_TRUE(sata.ataDevice->History().empty());
    for (const auto& entry : pc.Machine().Trace()) {
        if (entry.path == sata.physicalPath || entry.path == volume.physicalPath) {
            EXPECT_EQ(entry.code, sim::IoctlStorageQueryProperty);
        }
    }
    // Identify to the other maker's drive, then the VX310's identify, second identify
    // (detection), vendor identify, state read and health log; none to the volume's
    // PathId 2, and no "NvmeMini" request anywhere.
    EXPECT_EQ(IntelNvmPathIds(pc.Machine()), (std::vector<int>{1, 3, 3, 3, 3, 3}));
    EXPECT_EQ(CountSigned(pc.Machine(), "NvmeMini"), 0u);
    // The last of them is the health log: Get Log Page (02h) of page 02h, 128 dwords, for
    // every namespace, 512 bytes of data; the drive's record holds it decoded.
    const auto trace = pc.Machine().Trace();
    const sim::SimTraceEntry* last = nullptr;
    for (const auto& entry : trace)
        if (Signed(entry, "IntelNvm")) last = &entry;
    ASSERT_NE(last, nullptr);
    ASSERT_GE(last->request.size(), 124u);
    const auto dword = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, last->request.data() + at, 4);
        return v;
    };
    EXPECT_EQ(dword(32), 0x02u);           // command dword 0: the opcode
    EXPECT_EQ(dword(36), 0xFFFFFFFFu);     // dword 1: every namespace
    EXPECT_EQ(dword(72), 0x007F0002u);     // dword 10: page 02h, 128 dwords less one
    EXPECT_EQ(last->request[96], 0u);      // the admin queue
    EXPECT_EQ(dword(120), 512u);           // the data's length
    EXPECT_TRUE(found.health.has_value());
    for (const auto& entry : pc.Machine().Trace()) {
        if (Signed(entry, "IntelNvm")) {
            EXPECT_EQ(entry.path, L"\\\\.\\Scsi2:");
        }
    }

    discovery::DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->phyDriveIndex, static_cast<std::int32_t>(vx310.number));
    EXPECT_EQ(table[0]->busType, devicecmd::TransportIntelRst);
    EXPECT_EQ(volume.controller, nullptr);
}

// What RST presents a disk as, from the vendor and product of its device descriptor, as
// public dumps show them: only "NVMe" is an NVMe drive; "Intel" "Raid N Volume" is a volume.
TEST(IntelRst, TheDiskIsToldByItsScsiVendorAndProduct) {
    using discovery::RstDisk;
    struct Case {
        const char* vendor;
        const char* product;
        RstDisk kind;
    };
    const Case cases[] = {
        {"NVMe", "Samsung SSD 990", RstDisk::Nvme},
        {"NVMe    ", "Tavik VX310 Seri", RstDisk::Nvme},  // as inquiry pads it
        {"nvme", "X", RstDisk::Nvme},
        {"Intel", "Raid 0 Volume", RstDisk::RaidVolume},
        {"Intel   ", "Raid 1 Volume   ", RstDisk::RaidVolume},
        {"INTEL", "RAID 10 VOLUME", RstDisk::RaidVolume},
        {"Intel", "SSDPEKNW512G8", RstDisk::Other},  // an Intel SATA drive, no volume
        {"Samsung", "SSD 860 EVO 500G", RstDisk::Other},
        {"", "ST1000VM002-1CT162", RstDisk::Other},
        {"WDC", "WD10SPZX-21Z10T0", RstDisk::Other},
        {"ATA", "Samsung SSD 860", RstDisk::Other},
        {"NVMeX", "SSD", RstDisk::Other},
        {"NVM", "e SSD", RstDisk::Other},
        {"", "", RstDisk::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vendor) + "/" + c.product);
        EXPECT_EQ(discovery::ClassifyRstDisk(c.vendor, c.product), c.kind);
    }
}

// A SATA drive behind RST (its vendor not "NVMe", with or without a vendor word), and a disk
// whose descriptor can't be read, hear no NVMe request; nor, with the switch, does anything.
TEST(IntelRst, NoNvmeVendorNoRequest) {
    struct Case {
        const char* model;   // of the SATA drive
        bool descriptorRefused;
    };
    for (const Case c : {Case{"Samsung SSD 860 EVO 500GB", false}, Case{"ST1000VM002-1CT162", false},
                         Case{"Tavik VX310 Series SSD 512GB", false}, Case{"", true}}) {
        SCOPED_TRACE(c.model);
        sim::SimComputer pc;
        const auto rst = pc.AddIntelRstAdapter();
        const sim::SimDisk* disk = nullptr;
        if (c.descriptorRefused) {
            disk = &pc.AddVx310(rst, SimNvmePath::IntelRst);
            // The adapter descriptor reaches its bus type; the device descriptor stops short of its own.
            pc.Machine().CutReplies(disk->physicalPath, sim::IoctlStorageQueryProperty, 30);
        } else {
            sim::SimAtaConfig config;
            config.identity.model = c.model;
            disk = &pc.AddSataDrive(rst, config);
        }
        discovery::PassScope scope;
        scope.everyDisk = true;
        const auto examined = discovery::ExamineDrives(pc.System(), scope);
        ASSERT_EQ(examined.size(), 1u);
        EXPECT_NE(examined[0].verdict, DiskVerdict::Accepted);
        EXPECT_EQ(CountSigned(pc.Machine(), "IntelNvm"), 0u);
        EXPECT_EQ(CountSigned(pc.Machine(), "NvmeMini"), 0u);
        for (const auto& entry : pc.Machine().Trace()) {
            EXPECT_NE(entry.code, sim::IoctlScsiMiniport);
            EXPECT_NE(entry.code, devicecmd::IoctlScsiGetAddress);
        }
    }
}

// An RST driver that has the pass-through but answers ReturnCode 6 (invalid request) to
// everything: one identify, no second attempt, no "NvmeMini" after it, "No device detected".
TEST(IntelRst, ADriverThatPassesNothingLeavesNoDeviceAndHearsNothingMore) {
    sim::SimComputer pc;
    const auto rst = pc.AddIntelRstAdapter();
    const sim::SimDisk& vx310 = pc.AddVx310(rst, SimNvmePath::IntelRst);
    pc.Adapter(rst).rst->passesNothing.Arm(sim::Forever);
    discovery_test::LogCapture log;
    discovery::PassScope scope;
    scope.everyDisk = true;
    const auto examined = discovery::ExamineDrives(pc.System(), scope);
    ASSERT_EQ(examined.size(), 1u);
    EXPECT_EQ(examined[0].verdict, DiskVerdict::NotIdentified);
    discovery::DriveTable table;
    pc.Machine().ClearTrace();
    discovery::EnumerateDrives(pc.System(), table);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_TRUE(vx310.controller->History().empty());
    EXPECT_EQ(CountSigned(pc.Machine(), "IntelNvm"), 1u);
    EXPECT_EQ(CountSigned(pc.Machine(), "NvmeMini"), 0u);
    EXPECT_NE(log.Text().find("Identify data for phydrive0 error, errcode=50\n"), std::string::npos);
}

// On a VMD machine (iaStorVD) the VX310 is found through the pass-through and switched.
TEST(IntelRst, OnVmdTheVx310IsFoundAndSwitched) {
    sim::SimComputer pc;
    const sim::SimDisk& vx310 = pc.AddVx310(pc.AddIntelRstAdapter({L"iaStorVD"}), SimNvmePath::IntelRst);
    discovery::DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->busType, devicecmd::TransportIntelRst);
    sim::SimShutdown shutdown;
    struct Yes : SwitchUser {
        bool ConfirmSwitch() override { return true; }
        void ShowSwitchError(const std::wstring&) override { ++errors; }
        int errors = 0;
    } user;
    const SwitchResult result = RunOptimizeSwitch(*table[0], pc.Machine(), shutdown, user);
    EXPECT_EQ(result.outcome, SwitchOutcome::ShutdownRequested);
    EXPECT_EQ(user.errors, 0);
    EXPECT_EQ(vx310.controller->Firmware().OptimizeState(), 0);
    discovery::ReleaseDrives(table);
}

// The adapter's service decides: RST's names in any letter case take the pass-through;
// another maker's RAID driver, or one whose service can't be read, never hears of it.
TEST(IntelRst, OnlyAnRstAdapterGetsTheRequest) {
    struct Case {
        const wchar_t* service;
        bool rst;
    };
    for (const Case c : {Case{L"iaStorAC", true}, Case{L"IASTORAVC", true}, Case{L"iaStorA", true},
                         Case{L"iaStorAV", true}, Case{L"iaStorVD", true}, Case{L"iastorvd", true},
                         Case{L"megasas", false}, Case{L"iaStorV", false}, Case{L"iaStorAC2", false},
                         Case{L"iaStorVD2", false}, Case{L"", false}}) {
        SCOPED_TRACE(std::string(c.service, c.service + std::wcslen(c.service)));
        sim::SimComputer pc;
        if (c.rst) {
            pc.AddVx310(pc.AddIntelRstAdapter({c.service}), SimNvmePath::IntelRst);
        } else {
            // A RAID adapter whose miniport speaks "NvmeMini" (and would answer anything).
            const auto raid = pc.AddAdapter(sim::AdapterRaid);
            if (*c.service) pc.Tree().SetService(pc.Adapter(raid).node, c.service);
            pc.AddVx310(raid, SimNvmePath::Miniport);
        }
        discovery::DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        ASSERT_NE(table[0], nullptr);
        EXPECT_EQ(table[0]->busType, c.rst ? devicecmd::TransportIntelRst : devicecmd::TransportNvmeMiniport);
        EXPECT_EQ(CountSigned(pc.Machine(), "IntelNvm") != 0, c.rst);
        EXPECT_EQ(CountSigned(pc.Machine(), "NvmeMini") != 0, !c.rst);
    }
}

// A driver that predates the pass-through refuses it; the "NvmeMini" request follows, is
// refused too, and nothing else is sent: "No device detected".
TEST(IntelRst, AnOldDriverThatRefusesLeavesNoDevice) {
    sim::SimComputer pc;
    sim::SimRstOptions old;
    old.knowsPassThrough = false;
    const sim::SimDisk& vx310 = pc.AddVx310(pc.AddIntelRstAdapter(old), SimNvmePath::IntelRst);
    discovery_test::LogCapture log;
    discovery::DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_TRUE(vx310.controller->History().empty());
    EXPECT_EQ(CountSigned(pc.Machine(), "IntelNvm"), 1u);
    EXPECT_EQ(CountSigned(pc.Machine(), "NvmeMini"), 4u);
    const std::set<std::uint32_t> allowed = {sim::IoctlStorageGetDeviceNumber, sim::IoctlStorageQueryProperty,
                                             devicecmd::IoctlScsiGetAddress, sim::IoctlScsiMiniport};
    for (const auto& entry : pc.Machine().Trace()) {
        EXPECT_EQ(allowed.count(entry.code), 1u) << std::hex << entry.code;
        if (entry.code == sim::IoctlScsiMiniport) {
            EXPECT_FALSE(entry.ok);
        }
    }
    // The "NvmeMini" request's refusal is the last word: a device error.
    EXPECT_NE(log.Text().find("Identify data for phydrive0 error, errcode=1117\n"), std::string::npos);
}

}  // namespace
