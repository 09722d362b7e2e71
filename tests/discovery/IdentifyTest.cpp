// Identification and acceptance of one drive, over the simulated computer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "devicecmd/PrivateCmd.h"
#include "discovery/Enumerate.h"
#include "discovery/Identify.h"
#include "LogCapture.h"
#include "RecordingIo.h"
#include "sim/SimComputer.h"
#include "sim/SimDrives.h"
#include "sim/SimStacks.h"

namespace {

using discovery::DevicePair;
using discovery::DiskInfo;
using sim::SimNvmePath;

constexpr std::uint32_t ReadWrite = platform::AccessRead | platform::AccessWrite;
constexpr std::uint32_t ShareBoth = platform::ShareRead | platform::ShareWrite;

// A drive as the pass hands it to identification: record filled up to busType, physical
// drive open.
struct Candidate {
    DiskInfo disk;
    DevicePair pair;
};

void Prepare(Candidate& c, platform::DeviceIo& io, sim::SimComputer& pc, const sim::SimDisk& drive,
             std::uint8_t busType) {
    c.disk.phyDriveIndex = static_cast<std::int32_t>(drive.number);
    const std::wstring& adapterPath = pc.Adapter(drive.adapter).interfacePath;
    std::copy(adapterPath.begin(), adapterPath.end(), c.disk.adapterPath.begin());
    c.disk.busType = busType;
    c.pair.handle = platform::UniqueHandle::Open(io, discovery::PhysicalDrivePath(c.disk.phyDriveIndex), ReadWrite,
                                                 ShareBoth, platform::OpenExisting, platform::AttributeNormal);
    c.pair.transport = devicecmd::MakeTransport(busType);
}

std::vector<std::wstring> TracePaths(const sim::SimMachine& machine, std::uint32_t code) {
    std::vector<std::wstring> paths;
    for (const auto& entry : machine.Trace())
        if (entry.code == code) paths.push_back(entry.path);
    return paths;
}

struct PathCase {
    const char* name;
    std::uint8_t adapterBus;
    SimNvmePath path;
    std::uint8_t startBusType;  // the first transport the pass chooses for the adapter's bus
    std::uint8_t finalBusType;
};

class IdentifyPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(IdentifyPaths, SettlesTheTransportAndReadsCapacityFromThePhysicalDrive) {
    const PathCase& c = GetParam();
    sim::SimComputer pc;
    const auto adapter = pc.AddAdapter(c.adapterBus);
    const sim::SimDisk& drive = pc.AddVx310(adapter, c.path, {5, {}, {}});
    discovery_test::RecordingIo io(pc.Machine());
    discovery_test::LogCapture log;
    Candidate candidate;
    Prepare(candidate, io, pc, drive, c.startBusType);

    ASSERT_EQ(discovery::IdentifyDrive(io, candidate.pair, candidate.disk), 1);
    EXPECT_EQ(candidate.disk.busType, c.finalBusType);
    EXPECT_EQ(devicecmd::TransportCodeOf(candidate.pair.transport), c.finalBusType);
    EXPECT_EQ(devicecmd::VendorLayoutOf(candidate.pair.transport), 0);
    EXPECT_STREQ(candidate.disk.modelNumber.data(), "Tavik VX310 Series SSD 512GB");
    EXPECT_STREQ(candidate.disk.serialNumber.data(), "TVK310A0000000000017");
    EXPECT_STREQ(candidate.disk.firmwareRev.data(), "VX31A005");
    EXPECT_EQ(candidate.disk.totalSectors, 1000215216u);
    EXPECT_EQ(candidate.disk.bytesPerSector, 512u);
    EXPECT_EQ(TracePaths(pc.Machine(), sim::IoctlDiskGetDriveGeometryEx),
              std::vector<std::wstring>{sim::PhysicalDrivePath(5)});
    const bool throughAdapter = c.finalBusType == devicecmd::TransportNvmeMiniport;
    EXPECT_EQ(io.Opened(pc.Adapter(adapter).interfacePath), throughAdapter);
    EXPECT_EQ(log.Text(), "");  // a fallback that works logs nothing

    // Detection then runs through whatever the pair holds now.
    pc.Machine().ClearTrace();
    ASSERT_EQ(discovery::IsRightDevice(candidate.pair, candidate.disk), 1);
    for (const auto& entry : pc.Machine().Trace())
        EXPECT_EQ(entry.path, throughAdapter ? pc.Adapter(adapter).interfacePath : sim::PhysicalDrivePath(5));
}

INSTANTIATE_TEST_SUITE_P(
    Buses, IdentifyPaths,
    ::testing::Values(PathCase{"NvmeInbox", sim::AdapterNvme, SimNvmePath::Inbox, 2, 2},
                      PathCase{"NvmeMiniport", sim::AdapterNvme, SimNvmePath::Miniport, 2, 3},
                      PathCase{"UsbBridge", sim::AdapterUsb, SimNvmePath::Bridge, 4, 4},
                      PathCase{"UsbMiniport", sim::AdapterUsb, SimNvmePath::Miniport, 4, 3},
                      PathCase{"ScsiMiniport", sim::AdapterScsi, SimNvmePath::Miniport, 3, 3},
                      PathCase{"RaidMiniport", sim::AdapterRaid, SimNvmePath::Miniport, 3, 3},
                      PathCase{"SasMiniport", sim::AdapterSas, SimNvmePath::Miniport, 3, 3}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

// An inbox identify whose reply came back whole but names less than was asked for (or data
// inside its descriptor) is no identify: the adapter's miniport is tried, and it is the
// drive's own texts, not blanks, that the record gets.
TEST(IdentifyDrive, AnInboxReplyNamingTooLittleDataFallsBackToTheAdapter) {
    for (const auto fault : {sim::SimPropertyFault::NoData, sim::SimPropertyFault::FirstBytesOnly,
                             sim::SimPropertyFault::ShortData, sim::SimPropertyFault::DataInsideDescriptor}) {
        SCOPED_TRACE(static_cast<int>(fault));
        sim::SimComputer pc;
        const auto nvme = pc.AddAdapter(sim::AdapterNvme);
        const sim::SimDisk& drive = pc.AddVx310(nvme, SimNvmePath::Inbox, {5, {}, {}});
        // The inbox driver at the drive, and a miniport that also answers at its adapter.
        auto inbox = std::make_shared<sim::SimInboxNvmeStack>(drive.controller);
        inbox->SetDisk(5, drive.controller->Identity().sectors);
        inbox->propertyFault = fault;
        inbox->propertyFaultCount.Arm(sim::Forever);
        pc.Machine().Attach(drive.physicalPath, inbox);
        pc.Machine().Attach(pc.Adapter(nvme).interfacePath, std::make_shared<sim::SimMiniportStack>(drive.controller));
        discovery_test::RecordingIo io(pc.Machine());
        discovery_test::LogCapture log;
        Candidate candidate;
        Prepare(candidate, io, pc, drive, devicecmd::TransportNvmeInbox);

        ASSERT_EQ(discovery::IdentifyDrive(io, candidate.pair, candidate.disk), 1);
        EXPECT_TRUE(io.Opened(pc.Adapter(nvme).interfacePath));
        EXPECT_EQ(candidate.disk.busType, devicecmd::TransportNvmeMiniport);
        EXPECT_STREQ(candidate.disk.modelNumber.data(), "Tavik VX310 Series SSD 512GB");
        EXPECT_STREQ(candidate.disk.serialNumber.data(), "TVK310A0000000000017");
        EXPECT_STREQ(candidate.disk.firmwareRev.data(), "VX31A005");
        EXPECT_EQ(log.Text(), "");
    }
}

// Behind RST a reply without a drive's identify data where it is read (a model of zeros,
// control bytes or blanks) is no answer: identification goes on to the adapter's miniport
// request, which the RST port refuses, and the disk is no drive.
TEST(IdentifyDrive, AnRstIdentifyWithoutAReadableModelFallsBackAndIsNoDrive) {
    const std::string models[] = {std::string(40, '\0'), "Tavik VX310\x01\x02 Series SSD", std::string(40, ' '),
                                  "Tavik VX310\x7F", std::string("Tavik\0VX310", 11)};
    for (const std::string& model : models) {
        SCOPED_TRACE(testing::PrintToString(model));
        sim::SimComputer pc;
        const auto rst = pc.AddIntelRstAdapter();
        sim::SimNvmeConfig config;
        config.identity.model = model;
        const sim::SimDisk& drive = pc.AddNvmeDrive(rst, SimNvmePath::IntelRst, config);
        discovery_test::RecordingIo io(pc.Machine());
        discovery_test::LogCapture log;
        Candidate candidate;
        Prepare(candidate, io, pc, drive, devicecmd::TransportIntelRst);

        EXPECT_EQ(discovery::IdentifyDrive(io, candidate.pair, candidate.disk), 0);
        EXPECT_TRUE(io.Opened(pc.Adapter(rst).interfacePath));
        EXPECT_EQ(candidate.disk.modelNumber[0], '\0');
        EXPECT_FALSE(candidate.disk.rstAddress);

        discovery::DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        EXPECT_EQ(table[0], nullptr);
        const auto examined = discovery::ExamineDrives(pc.System(), {true});
        ASSERT_EQ(examined.size(), 1u);
        EXPECT_EQ(examined[0].verdict, discovery::DiskVerdict::NotIdentified);
    }
}

TEST(IdentifyDrive, AFailedFallbackLogsBothLinesAndRejects) {
    struct Case {
        bool emptyAdapterPath;
    };
    for (const Case c : {Case{false}, Case{true}}) {
        sim::SimComputer pc;
        const auto usb = pc.AddAdapter(sim::AdapterUsb);
        const sim::SimDisk& stick = pc.AddPlainDisk(usb, 60000000, {7, {}, {}});
        discovery_test::LogCapture log;
        Candidate candidate;
        Prepare(candidate, pc.Machine(), pc, stick, devicecmd::TransportUsbBridge);
        if (c.emptyAdapterPath) candidate.disk.adapterPath.fill(L'\0');

        EXPECT_EQ(discovery::IdentifyDrive(pc.Machine(), candidate.pair, candidate.disk), 0);
        EXPECT_EQ(candidate.disk.busType, devicecmd::TransportNvmeMiniport);
        EXPECT_FALSE(candidate.pair.handle.IsUsable());  // the failed open is what the pair holds
        // The adapter has no pass-through behind it: its path doesn't open (error 2).
        EXPECT_EQ(log.Text(), "Identify data error, errcode = 2\nIdentify data for phydrive7 error, errcode=2\n");
        EXPECT_EQ(candidate.disk.modelNumber[0], '\0');
    }
}

// The adapter's miniport is the only path tried for a bus that has no NVMe path of its
// own, and the ATA transports get no command here at all.
TEST(IdentifyDrive, TriesOnlyThePathsItsTransportAllows) {
    {
        sim::SimComputer pc;
        const auto raid = pc.AddAdapter(sim::AdapterRaid);
        const sim::SimDisk& drive = pc.AddVx310(raid, SimNvmePath::Miniport);
        Candidate candidate;
        Prepare(candidate, pc.Machine(), pc, drive, devicecmd::TransportNvmeMiniport);
        ASSERT_EQ(discovery::IdentifyDrive(pc.Machine(), candidate.pair, candidate.disk), 1);
        for (const auto& entry : pc.Machine().Trace()) {
            if (entry.code != sim::IoctlDiskGetDriveGeometryEx) {
                EXPECT_EQ(entry.path, pc.Adapter(raid).interfacePath);
            }
        }
    }
    const std::uint8_t noCommand[] = {devicecmd::TransportSat, devicecmd::TransportAta, 6};
    for (const std::uint8_t transport : noCommand) {
        sim::SimComputer pc;
        const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(sim::AdapterUsb), SimNvmePath::Bridge);
        discovery_test::LogCapture log;
        Candidate candidate;
        Prepare(candidate, pc.Machine(), pc, drive, transport);
        EXPECT_EQ(discovery::IdentifyDrive(pc.Machine(), candidate.pair, candidate.disk), 0);
        EXPECT_TRUE(pc.Machine().Trace().empty()) << int{transport};
        EXPECT_TRUE(drive.controller->History().empty());
        EXPECT_EQ(log.Text(), "");
    }
}

TEST(IdentifyDrive, AFailedGeometryQueryLeavesCapacityZeroAndStillIdentifies) {
    enum class Fault { Query, Open };
    for (const Fault fault : {Fault::Query, Fault::Open}) {
        sim::SimComputer pc;
        const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox);
        Candidate candidate;
        Prepare(candidate, pc.Machine(), pc, drive, devicecmd::TransportNvmeInbox);
        if (fault == Fault::Query)
            pc.Machine().RefuseIoControl(L"", sim::IoctlDiskGetDriveGeometryEx, sim::ErrorIoDevice);
        else
            pc.Machine().RefuseOpen(L"", sim::ErrorAccessDenied);  // the pair is already open
        EXPECT_EQ(discovery::IdentifyDrive(pc.Machine(), candidate.pair, candidate.disk), 1);
        EXPECT_EQ(candidate.disk.totalSectors, 0u);
        EXPECT_EQ(candidate.disk.bytesPerSector, 0u);
        EXPECT_STREQ(candidate.disk.modelNumber.data(), "Tavik VX310 Series SSD 512GB");
    }
}

TEST(IdentifyDrive, CapacitiesAbove2TiBAndDriveNumbersAbove99) {
    sim::SimNvmeConfig config;
    config.identity.sectors = (16 * sim::TiB) / 512 + 7;  // 2^35 + 7 sectors
    sim::SimComputer pc;
    const sim::SimDisk& drive =
        pc.AddNvmeDrive(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox, config, {123456, {}, {}});
    Candidate candidate;
    Prepare(candidate, pc.Machine(), pc, drive, devicecmd::TransportNvmeInbox);
    ASSERT_TRUE(candidate.pair.handle.IsUsable());
    ASSERT_EQ(discovery::IdentifyDrive(pc.Machine(), candidate.pair, candidate.disk), 1);
    EXPECT_EQ(candidate.disk.totalSectors, (std::uint64_t{1} << 35) + 7);
    EXPECT_EQ(candidate.disk.bytesPerSector, 512u);
    EXPECT_EQ(discovery::PhysicalDrivePath(123456), L"\\\\.\\PHYSICALDRIVE123456");
}

struct TextCase {
    const char* name;
    std::string model, serial, firmware;
    const char* expectedModel;
    const char* expectedSerial;
    const char* expectedFirmware;
};

class IdentifyTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(IdentifyTexts, AreCopiedAtTheirWidthTrimmedAndTerminated) {
    const TextCase& c = GetParam();
    sim::SimNvmeConfig config;
    config.identity.model = c.model;
    config.identity.serial = c.serial;
    config.identity.firmware = c.firmware;
    sim::SimComputer pc;
    const sim::SimDisk& drive = pc.AddNvmeDrive(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox, config);
    Candidate candidate;
    Prepare(candidate, pc.Machine(), pc, drive, devicecmd::TransportNvmeInbox);
    ASSERT_EQ(discovery::IdentifyDrive(pc.Machine(), candidate.pair, candidate.disk), 1);
    EXPECT_STREQ(candidate.disk.modelNumber.data(), c.expectedModel);
    EXPECT_STREQ(candidate.disk.serialNumber.data(), c.expectedSerial);
    EXPECT_STREQ(candidate.disk.firmwareRev.data(), c.expectedFirmware);
    EXPECT_EQ(candidate.disk.modelNumber.back(), '\0');
    EXPECT_EQ(candidate.disk.serialNumber.back(), '\0');
    EXPECT_EQ(candidate.disk.firmwareRev.back(), '\0');
}

const std::string FortyChars = "Tavik VX310 Series SSD 2TB Pro Edition X";  // 40
const std::string TwentyChars = "TVK310B9999999999999";                      // 20

INSTANTIATE_TEST_SUITE_P(
    Fields, IdentifyTexts,
    ::testing::Values(
        TextCase{"Padded", "Tavik VX310", "SN1", "FW1", "Tavik VX310", "SN1", "FW1"},
        TextCase{"FullWidth", FortyChars, TwentyChars, "VX31A005", FortyChars.c_str(), TwentyChars.c_str(), "VX31A005"},
        TextCase{"LongerThanTheField", FortyChars + "tail", TwentyChars + "tail", "VX31A005tail", FortyChars.c_str(),
                 TwentyChars.c_str(), "VX31A005"},
        TextCase{"Blank", "", "", "", "", "", ""},
        TextCase{"LeadingBlanks", "   Tavik VX310", "  SN", " FW", "Tavik VX310", "SN", "FW"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(IsRightDevice, AcceptsTheServedControllerWithItsCommandObjectAndState) {
    sim::SimComputer pc;
    const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox, {4, {}, {}});
    drive.controller->Firmware().SetOptimizeState(0);
    discovery_test::LogCapture log;
    Candidate candidate;
    Prepare(candidate, pc.Machine(), pc, drive, devicecmd::TransportNvmeInbox);
    ASSERT_EQ(discovery::IsRightDevice(candidate.pair, candidate.disk), 1);
    EXPECT_EQ(candidate.disk.isRightDevice, 1);
    EXPECT_EQ(candidate.disk.ctrlFamily, devicecmd::VendorLayout7305);
    EXPECT_NE(dynamic_cast<devicecmd::CPrivateCMD7305*>(candidate.disk.privateCmd.get()), nullptr);
    EXPECT_EQ(candidate.disk.optimizeState, 0);
    EXPECT_EQ(log.Text(), "Physcialdrive4 is right device start...\n");
}

TEST(IsRightDevice, AnUnreadableStateIsStill0xFFOnAnAcceptedDrive) {
    sim::SimComputer pc;
    const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox);
    drive.controller->RejectCommands(sim::NvmeVendorRead, sim::SubcodeStateRead, sim::NvmeInvalidField);
    Candidate candidate;
    Prepare(candidate, pc.Machine(), pc, drive, devicecmd::TransportNvmeInbox);
    ASSERT_EQ(discovery::IsRightDevice(candidate.pair, candidate.disk), 1);
    EXPECT_EQ(candidate.disk.optimizeState, 0xFF);
}

TEST(IsRightDevice, RejectsAnotherControllerAndDropsTheCommandObject) {
    sim::SimComputer pc;
    const sim::SimDisk& drive =
        pc.AddForeignNvmeDrive(pc.AddAdapter(sim::AdapterNvme), "Tavik but another controller", SimNvmePath::Inbox,
                               {9, {}, {}});
    discovery_test::LogCapture log;
    Candidate candidate;
    Prepare(candidate, pc.Machine(), pc, drive, devicecmd::TransportNvmeInbox);
    EXPECT_EQ(discovery::IsRightDevice(candidate.pair, candidate.disk), 0);
    EXPECT_EQ(candidate.disk.isRightDevice, 0);
    EXPECT_EQ(candidate.disk.privateCmd, nullptr);
    EXPECT_EQ(candidate.disk.ctrlFamily, 0);
    EXPECT_EQ(log.Text(), "Physcialdrive9 is right device start...\nPhyscialdrive9 is right device end...\n");
}

TEST(TouchFirstSector, ReadsSectorZeroForReadingOnlyAndOtherwiseDoesNothing) {
    sim::SimComputer pc;
    pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), SimNvmePath::Inbox, {3, {}, {}});
    struct Case {
        std::int32_t number;
        bool refuseOpen;
        std::size_t opens;
        std::size_t reads;
    };
    for (const Case c : {Case{3, false, 1, 1}, Case{-1, false, 0, 0}, Case{42, false, 1, 0}, Case{3, true, 1, 0}}) {
        discovery_test::RecordingIo io(pc.Machine());
        if (c.refuseOpen) pc.Machine().RefuseOpen(sim::PhysicalDrivePath(3), sim::ErrorAccessDenied, 1);
        discovery::TouchFirstSector(io, c.number);
        ASSERT_EQ(io.opens.size(), c.opens) << c.number;
        EXPECT_EQ(io.reads.size(), c.reads) << c.number;
        if (c.opens == 1) {
            EXPECT_EQ(io.opens[0].path, L"\\\\.\\PhysicalDrive" + std::to_wstring(c.number));
            EXPECT_EQ(io.opens[0].access, platform::AccessRead);
            EXPECT_EQ(io.opens[0].share, platform::ShareRead);
            EXPECT_EQ(io.opens[0].creation, platform::OpenExisting);
            EXPECT_EQ(io.opens[0].flags, platform::AttributesNone);
        }
        if (c.reads == 1) {
            EXPECT_EQ(io.reads[0], 512u);
            EXPECT_EQ(io.seeks, std::vector<std::int32_t>{0});
        }
        EXPECT_EQ(pc.Machine().OpenHandleCount(), 0u);
    }
}

}  // namespace
