// The enumeration pass over whole simulated computers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "discovery/Enumerate.h"
#include "discovery/Identify.h"
#include "LogCapture.h"
#include "RecordingIo.h"
#include "sim/SimComputer.h"

namespace {

using discovery::DriveTable;
using sim::SimNvmePath;

constexpr char Start[] = "Get Disk information start..\nEnum device...\n";
constexpr char End[] = "Get Disk information end..\n";

std::wstring AdapterPathOf(const discovery::DiskInfo& disk) { return std::wstring(disk.adapterPath.data()); }

std::vector<std::uint32_t> TraceCodes(const sim::SimMachine& machine, const std::wstring& path) {
    std::vector<std::uint32_t> codes;
    for (const auto& entry : machine.Trace())
        if (entry.path == path) codes.push_back(entry.code);
    return codes;
}

bool SawVendorCommand(const sim::SimDisk& disk) {
    for (const auto& command : disk.controller->History())
        if ((command.command[0] & 0xFF) == sim::NvmeVendorRead || (command.command[0] & 0xFF) == sim::NvmeVendorWrite)
            return true;
    return false;
}

// Every pass closes every handle and destroys every list it made.
void ExpectNothingLeftOpen(sim::SimComputer& pc) {
    EXPECT_EQ(pc.Machine().OpenHandleCount(), 0u);
    EXPECT_EQ(pc.Tree().OpenSetCount(), 0u);
}

// Several adapters, disks of several makers and buses, and volumes of every kind.
void DescribeMixedMachine(sim::SimComputer& pc) {
    const auto sata = pc.AddAdapter(sim::AdapterSata);
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    const auto usb = pc.AddAdapter(sim::AdapterUsb);
    const auto raid = pc.AddAdapter(sim::AdapterRaid);
    pc.AddSataDrive(sata);                                         // 0
    pc.AddForeignNvmeDrive(nvme, "Other Maker SSD 980 PRO 1TB");  // 1
    pc.AddPlainDisk(usb, 60000000);                                // 2: a USB stick
    sim::SimNvmeConfig big;
    big.identity.model = "Tavik VX310 Series SSD 4TB";
    big.identity.sectors = 4 * sim::TiB / 512;
    big.vendor.optimizeState = 0;
    pc.AddNvmeDrive(raid, SimNvmePath::Miniport, big);  // 3
    pc.AddVx310(nvme, SimNvmePath::Inbox);             // 4

    pc.AddVolume(3, {L"C:\\"}, 3 * sim::TiB, 1 * sim::TiB);                    // the system volume
    pc.AddVolume(1, {L"E:\\"}, 900 * sim::GiB, 300 * sim::GiB, L"exFAT");      // on the foreign drive
    pc.AddVolume(3, {}, 500 * 1024 * 1024, 100 * 1024 * 1024);                 // recovery: no mount path
    pc.AddVolume(3, {L"E:\\vx\\data\\"}, 100 * sim::GiB, 50 * sim::GiB, L"ReFS");  // folder mount under E:
    pc.AddVolume(3, {L"D:\\"}, 400 * sim::GiB, 10 * sim::GiB, L"FAT32");
    pc.AddVolume(3, {L"G:\\"}, 32 * sim::GiB, 0, L"FAT32", platform::DriveRemovable);
    pc.AddVolume(0, {L"F:\\"}, 250 * sim::GiB, 1 * sim::GiB);
    pc.AddVolume(42, {L"H:\\"}, 10 * sim::GiB, 1 * sim::GiB);  // on no listed disk
    pc.Volumes().Refuse(sim::SimVolumeQuery::FreeClusters, L"D:\\", sim::ErrorNotReady);
}

TEST(EnumerateDrives, EndToEndOverAMachineOfSeveralAdaptersDisksAndVolumes) {
    sim::SimComputer pc;
    DescribeMixedMachine(pc);
    const sim::SimDisk& sataSsd = pc.Disk(0);
    const sim::SimDisk& foreign = pc.Disk(1);
    const sim::SimDisk& served = pc.Disk(3);
    const sim::SimDisk& second = pc.Disk(4);
    const std::size_t raid = served.adapter;

    discovery_test::RecordingIo io(pc.Machine());
    const platform::System system{io, pc.Tree(), pc.Volumes()};
    discovery_test::LogCapture log;
    DriveTable table;
    EXPECT_EQ(discovery::EnumerateDrives(system, table), 1);

    ASSERT_NE(table[0], nullptr);
    for (std::size_t slot = 1; slot < table.size(); ++slot) EXPECT_EQ(table[slot], nullptr);
    const discovery::DiskInfo& disk = *table[0];
    EXPECT_EQ(disk.isRightDevice, 1);
    EXPECT_EQ(disk.phyDriveIndex, 3);
    EXPECT_EQ(disk.busType, devicecmd::TransportNvmeMiniport);  // RAID: the adapter's miniport
    EXPECT_EQ(disk.ctrlFamily, 5);
    EXPECT_EQ(AdapterPathOf(disk), pc.Adapter(raid).interfacePath);
    EXPECT_STREQ(disk.modelNumber.data(), "Tavik VX310 Series SSD 4TB");
    EXPECT_EQ(disk.totalSectors, 4 * sim::TiB / 512);
    EXPECT_EQ(disk.bytesPerSector, 512u);
    EXPECT_EQ(disk.optimizeState, 0);
    EXPECT_NE(disk.privateCmd, nullptr);
    EXPECT_EQ(disk.hasSystemVolume, 1);

    struct Expected {
        wchar_t letter;
        const wchar_t* fileSystem;
        std::uint32_t bytesPerSector;
        std::uint64_t total, free;
        int system;
    };
    const Expected expected[] = {
        {L'C', L"NTFS", 512, 3 * sim::TiB / 512, 1 * sim::TiB / 512, 1},
        {L'E', L"exFAT", 512, 900 * sim::GiB / 512, 300 * sim::GiB / 512, 0},  // the root of E: answers
        {L'D', L"FAT32", 512, 400 * sim::GiB / 512, 10 * sim::GiB / 512, 0},   // from the byte counts
    };
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_NE(disk.logicalDrives[i], nullptr) << i;
        const auto& logical = *disk.logicalDrives[i];
        EXPECT_EQ(logical.driveLetter, expected[i].letter);
        EXPECT_EQ(std::wstring(logical.fileSystem.data()), expected[i].fileSystem);
        EXPECT_EQ(logical.bytesPerSector, expected[i].bytesPerSector);
        EXPECT_EQ(logical.totalSectors, expected[i].total);
        EXPECT_EQ(logical.freeSectors, expected[i].free);
        EXPECT_EQ(logical.isSystemVolume, expected[i].system);
    }
    for (std::size_t i = 3; i < disk.logicalDrives.size(); ++i) EXPECT_EQ(disk.logicalDrives[i], nullptr);

    EXPECT_EQ(log.Text(), std::string(Start) +
                              "Enum device find Physicaldrive0\n"
                              "Enum device find Physicaldrive1\n"
                              "Enum device find Physicaldrive2\n"  // a USB stick: no command
                              "Enum device find Physicaldrive3\n"
                              "Physcialdrive3 is right device start...\n"
                              "PhyDisk: Tavik VX310 Series SSD 4TB 3 1 3\n"
                              "LogDisk:C,NTFS;LogDisk:E,exFAT;LogDisk:D,FAT32;\n" +
                              End);

    // SATA: the adapter descriptor only. The foreign drive: no vendor command. The second
    // VX310: never opened at all.
    EXPECT_EQ(TraceCodes(pc.Machine(), sataSsd.physicalPath), std::vector<std::uint32_t>{sim::IoctlStorageQueryProperty});
    EXPECT_TRUE(sataSsd.ataDevice->History().empty());
    EXPECT_FALSE(SawVendorCommand(foreign));
    EXPECT_TRUE(SawVendorCommand(served));
    EXPECT_FALSE(io.Opened(second.physicalPath));
    EXPECT_FALSE(io.Opened(L"\\\\.\\PHYSICALDRIVE4"));
    EXPECT_TRUE(second.controller->History().empty());
    ExpectNothingLeftOpen(pc);

    // A second pass starts from nothing and finds the same.
    EXPECT_EQ(discovery::EnumerateDrives(system, table), 1);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->phyDriveIndex, 3);
    ExpectNothingLeftOpen(pc);
}

// Each line at its level: the same pass, one level let through at a time.
TEST(EnumerateDrives, WritesEachLineAtItsLevel) {
    struct Case {
        std::uint32_t level;
        std::string lines;
    };
    const Case cases[] = {
        {discovery::LogProgress, std::string(Start) +
                                     "Enum device find Physicaldrive0\n"
                                     "Enum device find Physicaldrive1\n"
                                     "Enum device find Physicaldrive2\n"
                                     "Enum device find Physicaldrive3\n"
                                     "Physcialdrive3 is right device start...\n" +
                                     End},
        {discovery::LogDetails, "PhyDisk: Tavik VX310 Series SSD 4TB 3 1 3\n"
                                "LogDisk:C,NTFS;LogDisk:E,exFAT;LogDisk:D,FAT32;\n"},
        {discovery::LogErrors, ""},
    };
    for (const Case& c : cases) {
        sim::SimComputer pc;
        DescribeMixedMachine(pc);
        discovery_test::LogCapture log;
        log.OnlyLevels(c.level);
        DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        EXPECT_EQ(log.Text(), c.lines) << "level " << c.level;
    }
    // The bus-type line is an error line; the "end" line of detection a progress line.
    sim::SimComputer pc;
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    pc.AddVx310(nvme, SimNvmePath::Inbox);
    sim::SimNvmeConfig otherController;
    otherController.vendor.controllerName = "Other controller";
    pc.AddNvmeDrive(nvme, SimNvmePath::Inbox, otherController);
    pc.AddPlainDisk(pc.AddAdapter(sim::AdapterScsi), 1 << 30);  // its adapter has no miniport
    pc.Machine().RefuseIoControl(pc.Disk(0).physicalPath, sim::IoctlStorageQueryProperty, sim::ErrorIoDevice);
    {
        discovery_test::LogCapture log;
        log.OnlyLevels(discovery::LogErrors);
        DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        EXPECT_EQ(log.Text(), "Get Disk bus type error! error code = 1117\n"
                              "Identify data for phydrive2 error, errcode=2\n");
    }
    {
        discovery_test::LogCapture log;
        log.OnlyLevels(discovery::LogProgress);
        DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        EXPECT_EQ(log.Text(), std::string(Start) +
                                  "Enum device find Physicaldrive0\n"
                                  "Enum device find Physicaldrive1\n"
                                  "Physcialdrive1 is right device start...\n"
                                  "Physcialdrive1 is right device end...\n"
                                  "Enum device find Physicaldrive2\n" +
                                  End);
    }
}

TEST(EnumerateDrives, NoDiskInterfacesAtAllLeavesSlotZeroNull) {
    sim::SimComputer pc;
    pc.AddAdapter(sim::AdapterNvme);
    pc.AddVolume(0, {L"C:\\"}, sim::GiB, 0);
    discovery_test::LogCapture log;
    DriveTable table;
    table[0] = std::make_unique<discovery::DiskInfo>();  // left from an earlier pass: released
    EXPECT_EQ(discovery::EnumerateDrives(pc.System(), table), 1);
    for (const auto& slot : table) EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(log.Text(), std::string(Start) + End);
    ExpectNothingLeftOpen(pc);
}

TEST(EnumerateDrives, TheFirstOfTwoServedDrivesIsTakenAndTheSecondNeverOpened) {
    sim::SimComputer pc;
    const auto usb = pc.AddAdapter(sim::AdapterUsb);
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    pc.AddVx310(usb, SimNvmePath::Bridge, {6, {}, {}});
    const sim::SimDisk& later = pc.AddVx310(nvme, SimNvmePath::Inbox, {2, {}, {}});
    discovery_test::RecordingIo io(pc.Machine());
    DriveTable table;
    discovery::EnumerateDrives({io, pc.Tree(), pc.Volumes()}, table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->phyDriveIndex, 6);  // the system's listing order, not the number
    EXPECT_EQ(table[0]->busType, devicecmd::TransportUsbBridge);
    for (const auto& open : io.opens) EXPECT_NE(open.path.find(L'2'), open.path.size() - 1) << "opened drive 2";
    EXPECT_TRUE(later.controller->History().empty());
}

TEST(EnumerateDrives, AServedDriveBehindSataIsNeverIdentified) {
    sim::SimComputer pc;
    const auto sata = pc.AddAdapter(sim::AdapterSata);
    const sim::SimDisk& nvmeBehindSata = pc.AddVx310(sata, SimNvmePath::Inbox);
    const sim::SimDisk& ata = pc.AddSataDrive(sata);  // the vendor firmware, on ATA
    discovery_test::LogCapture log;
    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_TRUE(nvmeBehindSata.controller->History().empty());
    EXPECT_TRUE(ata.ataDevice->History().empty());
    for (const auto& entry : pc.Machine().Trace()) {
        if (entry.path == nvmeBehindSata.physicalPath || entry.path == ata.physicalPath) {
            EXPECT_EQ(entry.code, sim::IoctlStorageQueryProperty);
        }
    }
    EXPECT_EQ(log.Text(), std::string(Start) + "Enum device find Physicaldrive0\nEnum device find Physicaldrive1\n" + End);
}

// Another maker's NVMe drive gets identify and the geometry query, and no vendor command,
// on every NVMe path.
TEST(EnumerateDrives, AnotherMakersDriveReceivesNoVendorCommand) {
    struct Case {
        std::uint8_t bus;
        SimNvmePath path;
    };
    for (const Case c : {Case{sim::AdapterNvme, SimNvmePath::Inbox}, Case{sim::AdapterNvme, SimNvmePath::Miniport},
                         Case{sim::AdapterUsb, SimNvmePath::Bridge}, Case{sim::AdapterScsi, SimNvmePath::Miniport}}) {
        sim::SimComputer pc;
        const sim::SimDisk& foreign = pc.AddForeignNvmeDrive(pc.AddAdapter(c.bus), "Other Maker SSD 990 2TB", c.path);
        discovery_test::LogCapture log;
        DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        EXPECT_EQ(table[0], nullptr);

        ASSERT_FALSE(foreign.controller->History().empty());
        for (const auto& command : foreign.controller->History())
            EXPECT_EQ(command.command[0] & 0xFF, sim::NvmeIdentify);
        EXPECT_FALSE(SawVendorCommand(foreign));
        const auto codes = TraceCodes(pc.Machine(), foreign.physicalPath);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), sim::IoctlDiskGetDriveGeometryEx), 1);
        EXPECT_EQ(log.Text(), std::string(Start) + "Enum device find Physicaldrive0\n" + End);
        ExpectNothingLeftOpen(pc);
    }
}

struct MakerCase {
    const char* model;
    bool accepted;
};

class MakersWord : public ::testing::TestWithParam<MakerCase> {};

// The served controller under different model numbers: only "Tavik", exactly and
// anywhere, passes; a drive without it is dropped before any vendor command, and the
// pass goes on to the next disk.
TEST_P(MakersWord, IsCheckedInTheModelNumberBeforeDetection) {
    sim::SimComputer pc;
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    sim::SimNvmeConfig config;
    config.identity.model = GetParam().model;
    const sim::SimDisk& candidate = pc.AddNvmeDrive(nvme, SimNvmePath::Inbox, config);
    const sim::SimDisk& fallback = pc.AddVx310(nvme, SimNvmePath::Inbox);
    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->phyDriveIndex, GetParam().accepted ? 0 : 1);
    EXPECT_EQ(SawVendorCommand(candidate), GetParam().accepted);
    EXPECT_EQ(SawVendorCommand(fallback), !GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Models, MakersWord,
                         ::testing::Values(MakerCase{"Tavik VX310 Series SSD 512GB", true},
                                           MakerCase{"OEM-Tavik-VX310", true}, MakerCase{"      Tavik", true},
                                           MakerCase{"VX310 Series SSD 512GB", false}, MakerCase{"tavik VX310", false},
                                           MakerCase{"TAVIK VX310", false}, MakerCase{"Tav ik", false},
                                           MakerCase{"", false}),
                         [](const ::testing::TestParamInfo<MakerCase>& info) {
                             std::string name = std::to_string(info.index) + (info.param.accepted ? "_Taken" : "_Dropped");
                             return name;
                         });

TEST(EnumerateDrives, DiskNumbersOutsideTheDriveRangeAndAbove99) {
    sim::SimComputer pc;
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    pc.AddVx310(nvme, SimNvmePath::Inbox, {7, 0xFFFFFFFFu, {}});  // reports no number
    pc.AddVx310(nvme, SimNvmePath::Inbox, {0x80000000u, {}, {}});
    pc.AddVx310(nvme, SimNvmePath::Inbox, {100, {}, {}});
    pc.AddVolume(100, {L"C:\\"}, sim::GiB, 0);
    discovery_test::RecordingIo io(pc.Machine());
    discovery_test::LogCapture log;
    DriveTable table;
    discovery::EnumerateDrives({io, pc.Tree(), pc.Volumes()}, table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->phyDriveIndex, 100);
    EXPECT_NE(table[0]->logicalDrives[0], nullptr);
    for (const auto& open : io.opens) {
        EXPECT_EQ(open.path.find(L"DRIVE7"), std::wstring::npos);
        EXPECT_EQ(open.path.find(L"-2147483648"), std::wstring::npos);
        EXPECT_EQ(open.path.find(L"Drive7"), std::wstring::npos);
    }
    EXPECT_EQ(log.Text(), std::string(Start) +
                              "Enum device find Physicaldrive100\n"
                              "Physcialdrive100 is right device start...\n"
                              "PhyDisk: Tavik VX310 Series SSD 512GB 100 1 2\n"
                              "LogDisk:C,NTFS;\n" +
                              End);
}

TEST(EnumerateDrives, AnUnopenableDriveIsPassedSilentlyAndAnUnreadableBusTypeWithItsLine) {
    sim::SimComputer pc;
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    pc.AddVx310(nvme, SimNvmePath::Inbox);                     // 0: can't be opened
    const sim::SimDisk& mute = pc.AddVx310(nvme, SimNvmePath::Inbox);  // 1: no adapter descriptor
    pc.AddVx310(nvme, SimNvmePath::Inbox);                     // 2: taken
    pc.Machine().RefuseOpen(L"\\\\.\\PHYSICALDRIVE0", sim::ErrorAccessDenied);
    pc.Machine().RefuseIoControl(mute.physicalPath, sim::IoctlStorageQueryProperty, sim::ErrorIoDevice);
    discovery_test::LogCapture log;
    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->phyDriveIndex, 2);
    EXPECT_EQ(log.Text(), std::string(Start) +
                              "Enum device find Physicaldrive1\n"
                              "Get Disk bus type error! error code = 1117\n"
                              "Enum device find Physicaldrive2\n"
                              "Physcialdrive2 is right device start...\n"
                              "PhyDisk: Tavik VX310 Series SSD 512GB 2 1 2\n"
                              "\n" +
                              End);
    ExpectNothingLeftOpen(pc);
}

TEST(EnumerateDrives, ADriveWithoutLetteredFixedVolumesHasNoLogicalDrives) {
    sim::SimComputer pc;
    const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox);
    pc.AddVolume(drive.number, {}, sim::GiB, 0);
    pc.AddVolume(drive.number, {L"R:\\"}, sim::GiB, 0, L"CDFS", platform::DriveCdRom);
    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    for (const auto& logical : table[0]->logicalDrives) EXPECT_EQ(logical, nullptr);
    EXPECT_EQ(table[0]->hasSystemVolume, 0);
}

// One volume of the served drive, with one thing about it changed.
struct VolumeCase {
    const char* name;
    std::function<void(sim::SimComputer&)> arrange;  // the volume is R:\ on drive 0
    bool recorded;
    std::uint32_t bytesPerSector;
    std::uint64_t totalSectors, freeSectors;
    const wchar_t* fileSystem;
    int system;
};

class VolumeCases : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(VolumeCases, RecordTheLetterSizesFileSystemAndSystemMark) {
    const VolumeCase& c = GetParam();
    sim::SimComputer pc;
    pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox);
    pc.AddVolume(0, {L"R:\\"}, 8 * sim::TiB, 2 * sim::TiB);  // 4 KiB clusters
    c.arrange(pc);
    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    const auto& logical = table[0]->logicalDrives[0];
    ASSERT_EQ(logical != nullptr, c.recorded);
    if (!c.recorded) return;
    EXPECT_EQ(logical->driveLetter, L'R');
    EXPECT_EQ(logical->bytesPerSector, c.bytesPerSector);
    EXPECT_EQ(logical->totalSectors, c.totalSectors);
    EXPECT_EQ(logical->freeSectors, c.freeSectors);
    EXPECT_EQ(std::wstring(logical->fileSystem.data()), c.fileSystem);
    EXPECT_EQ(logical->isSystemVolume, c.system);
    EXPECT_EQ(table[0]->hasSystemVolume, c.system);
}

constexpr std::uint64_t Total = 8 * sim::TiB / 512;  // 2^34 sectors: above 32 bits
constexpr std::uint64_t Free = 2 * sim::TiB / 512;

INSTANTIATE_TEST_SUITE_P(
    Volumes, VolumeCases,
    ::testing::Values(
        VolumeCase{"Plain", [](sim::SimComputer&) {}, true, 512, Total, Free, L"NTFS", 0},
        VolumeCase{"SystemVolume",
                   [](sim::SimComputer& pc) { pc.Volumes().SetSystemDirectory(L"R:\\WINDOWS\\system32"); }, true, 512,
                   Total, Free, L"NTFS", 1},
        VolumeCase{"SystemDirectoryUnreadable",
                   [](sim::SimComputer& pc) {
                       pc.Volumes().SetSystemDirectory(L"R:\\WINDOWS\\system32");
                       pc.Volumes().Refuse(sim::SimVolumeQuery::SystemDirectory, L"", sim::ErrorAccessDenied);
                   },
                   true, 512, Total, Free, L"NTFS", 0},
        VolumeCase{"ClusterQueryFails",
                   [](sim::SimComputer& pc) {
                       pc.Volumes().Volume(0).bytesPerSector = 4096;
                       pc.Volumes().Refuse(sim::SimVolumeQuery::FreeClusters, L"R:\\", sim::ErrorNotReady);
                   },
                   true, 512, Total, Free, L"NTFS", 0},
        VolumeCase{"BothSizeQueriesFail",
                   [](sim::SimComputer& pc) {
                       pc.Volumes().Refuse(sim::SimVolumeQuery::FreeClusters, L"R:\\", sim::ErrorNotReady);
                       pc.Volumes().Refuse(sim::SimVolumeQuery::FreeBytes, L"R:\\", sim::ErrorNotReady);
                   },
                   true, 512, 0, 0, L"NTFS", 0},
        VolumeCase{"FourKSectors", [](sim::SimComputer& pc) { pc.Volumes().Volume(0).bytesPerSector = 4096; }, true,
                   4096, Total / 8, Free / 8, L"NTFS", 0},
        VolumeCase{"FileSystemUnreadable",
                   [](sim::SimComputer& pc) {
                       pc.Volumes().Refuse(sim::SimVolumeQuery::FileSystem, L"R:\\", sim::ErrorNotReady);
                   },
                   true, 512, Total, Free, L"", 0},
        VolumeCase{"LongestFileSystemName",
                   [](sim::SimComputer& pc) { pc.Volumes().Volume(0).fileSystem = L"ABCDEFGH"; }, true, 512, Total,
                   Free, L"ABCDEFGH", 0},
        VolumeCase{"FileSystemNameTooLong",
                   [](sim::SimComputer& pc) { pc.Volumes().Volume(0).fileSystem = L"ABCDEFGHI"; }, true, 512, Total,
                   Free, L"", 0},
        VolumeCase{"NoMountPath", [](sim::SimComputer& pc) { pc.Volumes().Volume(0).mountPaths.clear(); }, false, 0,
                   0, 0, L"", 0},
        VolumeCase{"Removable",
                   [](sim::SimComputer& pc) { pc.Volumes().Volume(0).driveType = platform::DriveRemovable; }, false, 0,
                   0, 0, L"", 0},
        VolumeCase{"LetterDoesNotOpen",
                   [](sim::SimComputer& pc) { pc.Machine().RefuseOpen(L"\\\\.\\R:", sim::ErrorAccessDenied); }, false,
                   0, 0, 0, L"", 0},
        VolumeCase{"NameQueryFails",
                   [](sim::SimComputer& pc) {
                       pc.Volumes().Refuse(sim::SimVolumeQuery::VolumeName, L"", sim::ErrorFileNotFound);
                   },
                   false, 0, 0, 0, L"", 0},
        VolumeCase{"PathQueryFails",
                   [](sim::SimComputer& pc) {
                       pc.Volumes().Refuse(sim::SimVolumeQuery::PathNames, L"", sim::ErrorMoreData);
                   },
                   false, 0, 0, 0, L"", 0},
        VolumeCase{"DeviceNumberFails",
                   [](sim::SimComputer& pc) {
                       pc.Machine().RefuseIoControl(pc.Volumes().Volume(0).interfacePath,
                                                    sim::IoctlStorageGetDeviceNumber, sim::ErrorIoDevice);
                   },
                   false, 0, 0, 0, L"", 0},
        VolumeCase{"OnAnotherDisk", [](sim::SimComputer& pc) {
                       pc.Volumes().Volume(0).mountPaths.clear();
                       pc.AddVolume(77, {L"R:\\"}, sim::GiB, 0);
                   },
                   false, 0, 0, 0, L"", 0}),
    [](const ::testing::TestParamInfo<VolumeCase>& info) { return std::string(info.param.name); });

TEST(EnumerateDrives, MoreLetteredVolumesThanSlotsFillTheSlotsInOrderAndNoMore) {
    sim::SimComputer pc;
    pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox);
    pc.AddVolume(0, {L"C:\\"}, 100 * sim::GiB, sim::GiB);
    for (int i = 0; i < 40; ++i)  // folder mounts all bring the letter C
        pc.AddVolume(0, {L"C:\\mnt\\v" + std::to_wstring(i) + L"\\"}, sim::GiB, 0, L"FAT");
    discovery_test::RecordingIo io(pc.Machine());
    discovery_test::LogCapture log;
    DriveTable table;
    discovery::EnumerateDrives({io, pc.Tree(), pc.Volumes()}, table);
    ASSERT_NE(table[0], nullptr);
    for (const auto& logical : table[0]->logicalDrives) {
        ASSERT_NE(logical, nullptr);
        EXPECT_EQ(logical->driveLetter, L'C');
        EXPECT_EQ(logical->totalSectors, 100 * sim::GiB / 512);  // the root of C: answers for all
    }
    std::size_t letterOpens = 0;
    for (const auto& open : io.opens) letterOpens += open.path == L"\\\\.\\C:";
    EXPECT_EQ(letterOpens, 32u);  // the volumes past the slots aren't looked at
    std::string summary;
    for (int i = 0; i < 32; ++i) summary += "LogDisk:C,NTFS;";
    EXPECT_NE(log.Text().find(summary + "\n"), std::string::npos);
}

// A failed query cuts a listing short or leaves one member out, as each list says.
struct ListingCase {
    const char* name;
    std::function<void(sim::SimComputer&)> fault;
    std::size_t adapters, disks, volumes;  // entries listed
    std::int32_t accepted;                 // phyDriveIndex in slot 0, or -1 for none
};

class ListingFaults : public ::testing::TestWithParam<ListingCase> {};

// Three adapters, three disks (the VX310s behind miniports need their adapter), one
// volume each.
TEST_P(ListingFaults, CutTheListAsDescribedAndThePassGoesOn) {
    const ListingCase& c = GetParam();
    sim::SimComputer pc;
    for (int i = 0; i < 3; ++i) {
        const auto adapter = pc.AddAdapter(i == 0 ? sim::AdapterSata : sim::AdapterNvme);
        if (i == 0)
            pc.AddSataDrive(adapter);
        else
            pc.AddVx310(adapter, SimNvmePath::Miniport);
        pc.AddVolume(static_cast<std::uint32_t>(i), {std::wstring(1, static_cast<wchar_t>(L'C' + i)) + L":\\"},
                     sim::GiB, 0);
    }
    c.fault(pc);
    const discovery::DiskInventory inventory = discovery::BuildInventory(pc.System());
    EXPECT_EQ(inventory.adapters.size(), c.adapters);
    EXPECT_EQ(inventory.disks.size(), c.disks);
    std::size_t volumes = 0;
    for (const auto& disk : inventory.disks) volumes += disk.volumes.size();
    EXPECT_EQ(volumes, c.volumes);
    ExpectNothingLeftOpen(pc);

    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    EXPECT_EQ(table[0] ? table[0]->phyDriveIndex : -1, c.accepted);
    ExpectNothingLeftOpen(pc);
}

std::wstring AdapterClass() { return sim::GuidText(platform::StoragePortInterface); }
std::wstring DiskClass() { return sim::GuidText(platform::DiskInterface); }
std::wstring VolumeClass() { return sim::GuidText(platform::VolumeInterface); }

INSTANTIATE_TEST_SUITE_P(
    Faults, ListingFaults,
    ::testing::Values(
        ListingCase{"None", [](sim::SimComputer&) {}, 3, 3, 3, 1},
        ListingCase{"NoAdapterList",
                    [](sim::SimComputer& pc) { pc.Tree().Refuse(sim::SimTreeQuery::ClassDevs, AdapterClass(), 5); },
                    0, 3, 3, -1},  // no adapter path: the miniport drives can't be reached
        ListingCase{"SecondAdapterWithoutLocation",
                    [](sim::SimComputer& pc) {
                        pc.Tree().Refuse(sim::SimTreeQuery::RegistryProperty, pc.Adapter(1).instanceId,
                                         sim::ErrorInvalidData);
                    },
                    1, 3, 3, -1},  // and the third adapter isn't looked at
        ListingCase{"SecondAdapterDetailFails",
                    [](sim::SimComputer& pc) {
                        pc.Tree().Refuse(sim::SimTreeQuery::Detail, pc.Adapter(1).interfacePath, 87);
                    },
                    1, 3, 3, -1},
        ListingCase{"ThirdAdapterNotEnumerated",
                    [](sim::SimComputer& pc) {
                        pc.Tree().Refuse(sim::SimTreeQuery::EnumInterfaces, pc.Adapter(2).interfacePath, 259);
                    },
                    2, 3, 3, 1},
        ListingCase{"SecondAdapterWithoutDriverKey",
                    [](sim::SimComputer& pc) {
                        pc.Tree().Refuse(sim::SimTreeQuery::DriverKey, pc.Adapter(1).instanceId,
                                         platform::ConfigNoSuchValue);
                    },
                    3, 3, 3, 2},  // an empty key matches no disk
        ListingCase{"NoDiskList",
                    [](sim::SimComputer& pc) { pc.Tree().Refuse(sim::SimTreeQuery::ClassDevs, DiskClass(), 5); }, 3,
                    0, 0, -1},
        ListingCase{"SecondDiskDetailFails",
                    [](sim::SimComputer& pc) {
                        pc.Tree().Refuse(sim::SimTreeQuery::Detail, pc.Disk(1).interfacePath, 87);
                    },
                    3, 1, 1, -1},
        ListingCase{"SecondDiskInterfaceDoesNotOpen",
                    [](sim::SimComputer& pc) { pc.Machine().RefuseOpen(pc.Disk(1).interfacePath, 5); }, 3, 2, 2, 2},
        ListingCase{"SecondDiskWithoutNumber",
                    [](sim::SimComputer& pc) {
                        pc.Machine().RefuseIoControl(pc.Disk(1).interfacePath, sim::IoctlStorageGetDeviceNumber, 1);
                    },
                    3, 2, 2, 2},
        ListingCase{"SecondDiskWithoutParent",
                    [](sim::SimComputer& pc) {
                        pc.Tree().Refuse(sim::SimTreeQuery::Parent, pc.Disk(1).instanceId,
                                         platform::ConfigNoSuchDevnode);
                    },
                    3, 3, 3, 2},  // drive 1 loses its adapter path
        ListingCase{"NoVolumeList",
                    [](sim::SimComputer& pc) { pc.Tree().Refuse(sim::SimTreeQuery::ClassDevs, VolumeClass(), 5); }, 3,
                    3, 0, 1},
        ListingCase{"SecondVolumeDetailFails",
                    [](sim::SimComputer& pc) {
                        pc.Tree().Refuse(sim::SimTreeQuery::Detail, pc.Volumes().Volume(1).interfacePath, 87);
                    },
                    3, 3, 1, 1},
        ListingCase{"SecondVolumeWithoutName",
                    [](sim::SimComputer& pc) {
                        pc.Volumes().Refuse(sim::SimVolumeQuery::VolumeName,
                                            pc.Volumes().Volume(1).interfacePath + L"\\", 2);
                    },
                    3, 3, 2, 1},
        ListingCase{"DeviceTreeLoops",
                    [](sim::SimComputer& pc) {
                        const platform::DevInst a = pc.Tree().AddNode(0, {L"LOOP\\A", L"{loop}\\0000", {}});
                        const platform::DevInst b = pc.Tree().AddNode(a, {L"LOOP\\B", L"{loop}\\0001", {}});
                        pc.Tree().SetParent(a, b);
                        pc.Tree().SetParent(pc.Disk(1).node, a);
                    },
                    3, 3, 3, 2}),
    [](const ::testing::TestParamInfo<ListingCase>& info) { return std::string(info.param.name); });

TEST(OpenVolumeByLetter, OpensTheLettersVolumeForReadingAndWriting) {
    sim::SimComputer pc;
    pc.AddVolume(0, {L"K:\\"}, sim::GiB, 0);
    discovery_test::RecordingIo io(pc.Machine());
    {
        const platform::UniqueHandle volume = discovery::OpenVolumeByLetter(io, L'K');
        EXPECT_TRUE(volume.IsUsable());
        EXPECT_FALSE(discovery::OpenVolumeByLetter(io, L'J').IsUsable());
    }
    ASSERT_EQ(io.opens.size(), 2u);
    EXPECT_EQ(io.opens[0].path, L"\\\\.\\K:");
    EXPECT_EQ(io.opens[1].path, L"\\\\.\\J:");
    EXPECT_EQ(io.opens[0].access, platform::AccessRead | platform::AccessWrite);
    EXPECT_EQ(io.opens[0].share, platform::ShareRead | platform::ShareWrite);
    EXPECT_EQ(io.opens[0].creation, platform::OpenExisting);
    EXPECT_EQ(io.opens[0].flags, platform::AttributeNormal);
    EXPECT_EQ(pc.Machine().OpenHandleCount(), 0u);
}

}  // namespace
