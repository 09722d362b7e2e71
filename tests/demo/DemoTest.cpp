#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "demo/TracedSystem.h"
#include "discovery/Enumerate.h"

namespace {

using demo::DemoDrive;
using demo::DemoFault;
using demo::DemoOptions;

bool Parse(std::vector<const char*> args, DemoOptions& options, std::string& error) {
    args.insert(args.begin(), "zephra-demo");
    return demo::ParseDemoOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(DemoOptions, DrivesStateFaultEventsAndTrace) {
    DemoOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--drive", "other-sata", "--drive", "usb", "--drive", "other-nvme", "--state", "ff", "--fault",
                       "state-read", "--unplug-after", "3", "--plug-after", "7", "--trace", "t.txt"},
                      options, error))
        << error;
    EXPECT_EQ(options.drives,
              (std::vector<DemoDrive>{DemoDrive::OtherSata, DemoDrive::Vx310Usb, DemoDrive::OtherNvme}));
    EXPECT_EQ(options.state, 0xFF);
    EXPECT_EQ(options.fault, DemoFault::StateRead);
    EXPECT_EQ(options.unplugAfter, 3u);
    EXPECT_EQ(options.plugAfter, 7u);
    EXPECT_EQ(options.traceFile, "t.txt");

    DemoOptions defaults;
    ASSERT_TRUE(Parse({}, defaults, error));
    EXPECT_EQ(defaults.drives, std::vector<DemoDrive>{DemoDrive::Vx310Inbox});
    EXPECT_EQ(defaults.state, 2);

    for (const auto& [name, fault] : {std::pair{"empty-write", DemoFault::EmptyWrite}, std::pair{"cut-state", DemoFault::CutState},
                                      std::pair{"busy", DemoFault::Busy}}) {
        DemoOptions faulty;
        ASSERT_TRUE(Parse({"--fault", name}, faulty, error)) << error;
        EXPECT_EQ(faulty.fault, fault);
    }

    DemoOptions none;
    ASSERT_TRUE(Parse({"--drive", "none"}, none, error));
    EXPECT_TRUE(none.drives.empty());

    DemoOptions translated;
    ASSERT_TRUE(Parse({"--drive", "other-usb-sata", "--drive", "other-raid-sata", "--drive", "other-raid-sas"},
                      translated, error));
    EXPECT_EQ(translated.drives, (std::vector<DemoDrive>{DemoDrive::OtherUsbSata, DemoDrive::OtherRaidSata,
                                                         DemoDrive::OtherRaidSas}));

    DemoOptions rst;
    ASSERT_TRUE(Parse({"--drive", "rst-sata", "--drive", "rst-other-nvme", "--drive", "rst-old-driver", "--drive", "rst",
                       "--drive", "rst-raid-volume", "--drive", "rst-vmd", "--unplug-after", "2"},
                      rst, error))
        << error;
    EXPECT_EQ(rst.drives, (std::vector<DemoDrive>{DemoDrive::OtherRstSata, DemoDrive::OtherRstNvme,
                                                  DemoDrive::Vx310RstOld, DemoDrive::Vx310Rst,
                                                  DemoDrive::RstRaidVolume, DemoDrive::Vx310RstVmd}));
}

// Each kind of drive is taken by its word, each drive has one, and both programs' help
// names every one (zephra-cli-demo's once missed rst and the rest).
TEST(DemoOptions, EveryDriveKindIsTakenAndInBothHelps) {
    std::set<DemoDrive> drives;
    const std::string cliUsage = demo::DemoCliUsage();
    const std::string usage = demo::DemoUsage();
    for (const demo::DemoDriveKind& kind : demo::DemoDriveKinds()) {
        SCOPED_TRACE(kind.name);
        DemoOptions options;
        std::string error;
        ASSERT_TRUE(Parse({"--drive", kind.name}, options, error)) << error;
        EXPECT_EQ(options.drives, std::vector<DemoDrive>{kind.drive});
        EXPECT_TRUE(drives.insert(kind.drive).second);
        const std::string word = std::string(" ") + kind.name + " ";
        EXPECT_NE(cliUsage.find(word), std::string::npos) << cliUsage;
        EXPECT_NE(usage.find(word), std::string::npos) << usage;
    }
    EXPECT_EQ(drives.size(), static_cast<std::size_t>(DemoDrive::RstRaidVolume) + 1);  // the last kind
    EXPECT_NE(cliUsage.find(" rst "), std::string::npos);
}

TEST(DemoOptions, BadOptionsAreRefusedWithAReason) {
    const std::vector<std::vector<const char*>> bad = {
        {"--drive"},          {"--drive", "floppy"},         {"--state", "1"},
        {"--fault", "fire"},  {"--unplug-after", "0"},       {"--plug-after", "x"},
        {"--plug-after", "-1"}, {"--unplug-after", "4", "--plug-after", "4"},
        {"--drive", "none", "--unplug-after", "2"},          {"--colour"},
    };
    for (const auto& args : bad) {
        DemoOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, options, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

int Pass(demo::DemoMachine& machine, discovery::DriveTable& table) {
    return discovery::EnumerateDrives(machine.System(), table);
}

TEST(DemoMachine, FindsTheVx310BehindOtherMakersDrivesOnEachPathInEachState) {
    const DemoDrive paths[] = {DemoDrive::Vx310Inbox, DemoDrive::Vx310Miniport, DemoDrive::Vx310Usb,
                               DemoDrive::Vx310Rst, DemoDrive::Vx310RstVmd};
    const std::uint8_t busTypes[] = {2, 3, 4, 5, 5};
    for (int p = 0; p < 5; ++p) {
        for (const std::uint8_t state : {0, 2, 0xFF}) {
            DemoOptions options;
            options.drives = {DemoDrive::OtherSata,     DemoDrive::OtherNvme,     DemoDrive::OtherUsb,
                              DemoDrive::OtherUsbSata,  DemoDrive::OtherRaidSata, DemoDrive::OtherRaidSas,
                              DemoDrive::OtherRstSata,  DemoDrive::OtherRstNvme,  DemoDrive::Vx310RstOld,
                              DemoDrive::RstRaidVolume, paths[p]};
            options.state = state;
            demo::DemoMachine machine(options);
            discovery::DriveTable table;
            Pass(machine, table);
            ASSERT_NE(table[0], nullptr) << p << " " << int(state);
            EXPECT_EQ(table[0]->busType, busTypes[p]);
            EXPECT_EQ(table[0]->optimizeState, state);
            EXPECT_STREQ(table[0]->modelNumber.data(), "Tavik VX310 Series SSD 512GB");
            EXPECT_EQ(table[0]->totalSectors * table[0]->bytesPerSector, 1000215216ull * 512);
            discovery::ReleaseDrives(table);
        }
    }
}

TEST(DemoMachine, FaultsAndNoDrive) {
    struct Case {
        std::vector<DemoDrive> drives;
        DemoFault fault;
        bool found;
        std::uint8_t state;
    };
    const Case cases[] = {
        {{}, DemoFault::None, false, 0},
        {{DemoDrive::OtherNvme, DemoDrive::OtherSata}, DemoFault::None, false, 0},
        {{DemoDrive::Vx310Inbox}, DemoFault::Identify, false, 0},
        {{DemoDrive::Vx310Inbox}, DemoFault::DeviceList, false, 0},
        {{DemoDrive::Vx310Miniport}, DemoFault::StateRead, true, 0xFF},
        // A state reply that stops after its signature is no state: "Unknown", never 0.
        {{DemoDrive::Vx310Inbox}, DemoFault::CutState, true, 0xFF},
        {{DemoDrive::Vx310Miniport}, DemoFault::CutState, true, 0xFF},
        {{DemoDrive::Vx310Usb}, DemoFault::CutState, true, 0xFF},
        // Only the write's reply is cut: detection reads the state as it is.
        {{DemoDrive::Vx310Usb}, DemoFault::EmptyWrite, true, 2},
        {{DemoDrive::Vx310Rst}, DemoFault::CutState, true, 0xFF},
        // Behind an RST driver older than its pass-through: "No device detected".
        {{DemoDrive::Vx310RstOld}, DemoFault::None, false, 0},
        {{DemoDrive::OtherRstNvme, DemoDrive::OtherRstSata}, DemoFault::None, false, 0},
        {{DemoDrive::RstRaidVolume}, DemoFault::None, false, 0},
    };
    for (const Case& c : cases) {
        DemoOptions options;
        options.drives = c.drives;
        options.fault = c.fault;
        demo::DemoMachine machine(options);
        discovery::DriveTable table;
        Pass(machine, table);
        EXPECT_EQ(table[0] != nullptr, c.found) << static_cast<int>(c.fault);
        if (table[0]) {
            EXPECT_EQ(table[0]->optimizeState, c.state);
        }
        discovery::ReleaseDrives(table);
    }
}

// Rescans as the worker makes them, on this thread.
void Rescan(demo::DemoMachine& machine, int times) {
    for (int i = 0; i < times; ++i) {
        platform::DevInst root = 0;
        machine.Watch().LocateDevNode(&root, nullptr, 0);
        machine.Watch().ReenumerateDevNode(root, 4);
    }
}

TEST(DemoMachine, UnplugAndPlugComeWithTheirRescansAndAreAnnounced) {
    for (const DemoDrive path : {DemoDrive::Vx310Inbox, DemoDrive::Vx310Miniport, DemoDrive::Vx310Usb}) {
        DemoOptions options;
        options.drives = {DemoDrive::OtherNvme, path};
        options.unplugAfter = 2;
        options.plugAfter = 4;
        demo::DemoMachine machine(options);
        std::vector<std::uint32_t> events;
        machine.Watch().SetDelivery(
            [&](platform::Handle, std::uint32_t event, const std::vector<std::uint8_t>&) { events.push_back(event); });
        const platform::DeviceInterfaceFilter filter = platform::DiskInterfaceFilter();
        machine.Watch().RegisterNotification(reinterpret_cast<platform::Handle>(0x10), filter.data(), 0);
        discovery::DriveTable table;
        const auto found = [&] {
            Pass(machine, table);
            const bool any = table[0] != nullptr;
            discovery::ReleaseDrives(table);
            return any;
        };
        EXPECT_TRUE(found());
        Rescan(machine, 1);
        EXPECT_TRUE(found());
        Rescan(machine, 1);
        EXPECT_FALSE(found()) << "unplugged";
        EXPECT_FALSE(machine.IsPlugged());
        Rescan(machine, 2);
        EXPECT_TRUE(found()) << "plugged in again";
        EXPECT_EQ(events, (std::vector<std::uint32_t>{platform::DeviceRemoveComplete, platform::DeviceArrival}));
    }
}

TEST(DemoMachine, PluggedInLaterStartsUnplugged) {
    DemoOptions options;
    options.plugAfter = 1;
    demo::DemoMachine machine(options);
    discovery::DriveTable table;
    Pass(machine, table);
    EXPECT_EQ(table[0], nullptr);
    Rescan(machine, 1);
    Pass(machine, table);
    EXPECT_NE(table[0], nullptr);
    discovery::ReleaseDrives(table);
}

TEST(Trace, OneLinePerCallInTheDocumentedForm) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    DemoOptions options;
    demo::DemoMachine machine(options);
    demo::TraceLog log(file);
    demo::TracedSystem traced(log, machine.System(), machine.Watch());
    discovery::DriveTable table;
    discovery::EnumerateDrives(traced.Machine(), table);
    platform::DevInst root = 0;
    traced.Watch().LocateDevNode(&root, nullptr, 0);
    traced.Watch().ReenumerateDevNode(root, 4);
    discovery::ReleaseDrives(table);

    std::rewind(file);
    std::vector<std::string> lines;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, file)) lines.emplace_back(buffer);
    std::fclose(file);
    ASSERT_EQ(lines.size(), log.Lines());
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(lines.front().substr(0, 10), "000001 ui ");
    char sequence[8];
    std::snprintf(sequence, sizeof sequence, "%06zu", lines.size() - 1);
    EXPECT_EQ(lines[lines.size() - 2], std::string(sequence) + " ui CM_Locate_DevNodeW(null, 0x0) -> 0x0, devinst 1\n");
    EXPECT_EQ(lines.back().substr(6), " ui CM_Reenumerate_DevNode(1, 0x4) -> 0x0\n");
    for (const std::string& line : lines) {
        EXPECT_NE(line.find(" -> "), std::string::npos) << line;
        EXPECT_EQ(line.back(), '\n');
    }
    bool sawIdentify = false;
    for (const std::string& line : lines) sawIdentify |= line.find("DeviceIoControl(") != std::string::npos;
    EXPECT_TRUE(sawIdentify);
}

// The bridge's hardware IDs, a text list, show each of their texts.
TEST(Trace, HardwareIdsOfTheUsbParent) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    DemoOptions options;
    options.drives = {DemoDrive::Vx310Usb};
    demo::DemoMachine machine(options);
    demo::TraceLog log(file);
    demo::TracedSystem traced(log, machine.System(), machine.Watch());
    discovery::DriveTable table;
    discovery::EnumerateDrives(traced.Machine(), table);
    EXPECT_NE(table[0], nullptr);
    discovery::ReleaseDrives(table);

    std::rewind(file);
    std::string text;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, file)) text += buffer;
    std::fclose(file);
    const std::string ids =
        ", 0x2, 1024) -> 0x0, \"USB\\\\VID_152D&PID_0583&REV_0214\", \"USB\\\\VID_152D&PID_0583\"\n";
    EXPECT_NE(text.find(ids), std::string::npos) << text;
}

TEST(Trace, TextHelpers) {
    EXPECT_EQ(demo::TraceText(L"\\\\.\\C:"), "\"\\\\\\\\.\\\\C:\"");
    EXPECT_EQ(demo::TraceText(L"a\"b\u00e9"), "\"a\\\"b\\u00E9\"");
    EXPECT_EQ(demo::TraceGuid(platform::DiskInterface), "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}");
    EXPECT_EQ(demo::TraceHex(0x2D1080), "0x2D1080");
}

}  // namespace
