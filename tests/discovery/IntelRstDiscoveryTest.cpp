// Disks behind Intel RST ("RAID On"): RST's own NVMe pass-through, only on an adapter
// whose driver service is RST's, before the "NvmeMini" request; SATA drives and RAID
// volumes behind it; and an RST driver too old for the pass-through.
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
    const sim::SimDisk& volume = pc.AddPlainDisk(rst, 2 * 1000215216ull);
    const sim::SimDisk& vx310 = pc.AddVx310(rst, SimNvmePath::IntelRst);
    pc.AddVolume(vx310.number, {L"C:\\"}, 400 * sim::GiB, 100 * sim::GiB);

    discovery::PassScope scope;
    scope.everyDisk = true;
    const auto examined = discovery::ExamineDrives(pc.System(), scope);
    ASSERT_EQ(examined.size(), 4u);
    EXPECT_EQ(examined[0].verdict, DiskVerdict::Sata);
    EXPECT_EQ(examined[1].verdict, DiskVerdict::OtherMaker);
    EXPECT_EQ(examined[2].verdict, DiskVerdict::NotIdentified);
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
    // The SATA drive got no request at all past the bus type; the volume only the two identifies.
    EXPECT_TRUE(sata.ataDevice->History().empty());
    for (const auto& entry : pc.Machine().Trace()) {
        if (entry.path == sata.physicalPath) {
            EXPECT_EQ(entry.code, sim::IoctlStorageQueryProperty);
        }
    }
    // Identify to the other maker's drive, identify to the volume, then the VX310's
    // identify, second identify (detection), vendor identify, state read and health log;
    // the volume's refusal is followed by the "NvmeMini" request at the adapter.
    EXPECT_EQ(IntelNvmPathIds(pc.Machine()), (std::vector<int>{1, 2, 3, 3, 3, 3, 3}));
    EXPECT_EQ(CountSigned(pc.Machine(), "NvmeMini"), 4u);
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

// The adapter's service decides: RST's names in any letter case take the pass-through;
// another maker's RAID driver, or one whose service can't be read, never hears of it.
TEST(IntelRst, OnlyAnRstAdapterGetsTheRequest) {
    struct Case {
        const wchar_t* service;
        bool rst;
    };
    for (const Case c : {Case{L"iaStorAC", true}, Case{L"IASTORAVC", true}, Case{L"iaStorA", true},
                         Case{L"megasas", false}, Case{L"iaStorV", false}, Case{L"iaStorAC2", false}, Case{L"", false}}) {
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
    EXPECT_NE(log.Text().find("Identify data for phydrive0 error, errcode=1\n"), std::string::npos);
}

TEST(IntelRst, SataBehindRstIsToldByTheScsiVendorInItsInstanceId) {
    EXPECT_TRUE(discovery::IsAtaDiskId(L"SCSI\\DISK&VEN_ATA&PROD_SAMSUNG_SSD_860\\4&1A2B&0&000000"));
    EXPECT_TRUE(discovery::IsAtaDiskId(L"scsi\\disk&ven_ata&prod_ssd\\5&0&0&000000"));
    EXPECT_FALSE(discovery::IsAtaDiskId(L"SCSI\\DISK&VEN_NVME&PROD_TAVIK_VX310\\5&0&0&000000"));
    EXPECT_FALSE(discovery::IsAtaDiskId(L"SCSI\\DISK&VEN_ATAX&PROD_X\\1"));
    EXPECT_FALSE(discovery::IsAtaDiskId(L"SCSI\\DISK&VEN_AT"));
    EXPECT_FALSE(discovery::IsAtaDiskId(L""));
}

}  // namespace
