// zephra-cli history on the demo's simulated machine, with the history files in the
// simulated file store: which drive's file is read, what is printed, and each outcome's code.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/HistoryCommand.h"
#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "history/HistoryStore.h"
#include "sim/SimFiles.h"
#include "sim/SimNvmeController.h"
#include "sim/SimShutdown.h"

namespace {

using demo::DemoDrive;
using history::HistorySample;

const std::map<unsigned, std::wstring> kTexts{{139, L"Has been optimized"}, {140, L"Optimizable"}, {141, L"Unknown"}};

struct Rig {
    explicit Rig(std::vector<DemoDrive> drives, demo::DemoFault fault = demo::DemoFault::None) {
        demo::DemoOptions options;
        options.drives = std::move(drives);
        options.fault = fault;
        machine = std::make_unique<demo::DemoMachine>(options);
    }
    cli::CliRun Run(const std::vector<std::string>& args, bool withFiles = true) {
        const cli::CliSystem bound{machine->System(), shutdown, [](unsigned id) { return kTexts.at(id); },
                                   [](const std::string&) { return nullptr; }, withFiles ? &files : nullptr};
        return cli::RunCli(args, bound);
    }
    const sim::SimDriveIdentity& Identity(std::size_t disk) {
        return machine->Computer().Disk(disk).controller->Identity();
    }
    std::wstring PathOf(std::size_t disk) {
        return history::HistoryStore(files).PathOf(Identity(disk).model, Identity(disk).serial);
    }
    void Record(std::size_t disk, const HistorySample& sample) {
        ASSERT_EQ(history::HistoryStore(files).Record(Identity(disk).model, Identity(disk).serial, sample).status,
                  history::HistoryWrite::Appended);
    }

    std::unique_ptr<demo::DemoMachine> machine;
    sim::SimShutdown shutdown;
    sim::SimFiles files;
};

HistorySample Sample(std::int64_t day, unsigned used) {
    HistorySample s;
    s.timeUtc = 1796990400 + day * 86400;
    s.temperatureKelvin = 311;
    s.availableSpare = 100;
    s.availableSpareThreshold = 10;
    s.percentageUsed = static_cast<std::uint8_t>(used);
    s.dataUnitsWritten = {0, 1};  // 2^64
    return s;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(HistoryCommand, PrintsTheSupportedDrivesSamples) {
    Rig rig({DemoDrive::OtherNvme, DemoDrive::Vx310Inbox});
    rig.Record(1, Sample(0, 3));
    rig.Record(1, Sample(1, 4));
    rig.Record(0, Sample(0, 50));  // another drive's file is not shown
    const cli::CliRun run = rig.Run({"history"});
    EXPECT_EQ(run.exitCode, cli::ExitSuccess) << run.err;
    EXPECT_TRUE(Has(run.out, "Disk 1: Tavik VX310 Series SSD 512GB, serial TVK310A0000000000017")) << run.out;
    EXPECT_TRUE(Has(run.out, "Tavik_VX310_Series_SSD_512GB_TVK310A0000000000017.csv: 2 samples")) << run.out;
    EXPECT_TRUE(Has(run.out, "2026-12-11T12:00:00Z")) << run.out;
    EXPECT_TRUE(Has(run.out, "2026-12-12T12:00:00Z")) << run.out;
    EXPECT_TRUE(Has(run.out, "18446744073709551616")) << run.out;
    EXPECT_FALSE(Has(run.out, "  50  ")) << run.out;

    const cli::CliRun json = rig.Run({"history", "--json"});
    EXPECT_EQ(json.exitCode, cli::ExitSuccess);
    for (const char* part : {"\"command\": \"history\"", "\"exitCode\": 0", "\"serial\": \"TVK310A0000000000017\"",
                             "\"time\": \"2026-12-12T12:00:00Z\"", "\"dataUnitsWritten\": \"18446744073709551616\"",
                             "\"percentageUsed\": 4", "\"tornLineSkipped\": false", "\"error\": null"})
        EXPECT_TRUE(Has(json.out, part)) << part << "\n" << json.out;
}

TEST(HistoryCommand, AnyIdentifiedDriveByNumber) {
    Rig rig({DemoDrive::OtherNvme, DemoDrive::Vx310Inbox, DemoDrive::OtherSata});
    rig.Record(0, Sample(0, 50));
    const cli::CliRun run = rig.Run({"--disk", "0", "history", "--json"});
    EXPECT_EQ(run.exitCode, cli::ExitSuccess) << run.out;
    EXPECT_TRUE(Has(run.out, "\"percentageUsed\": 50")) << run.out;
    EXPECT_TRUE(Has(run.out, "\"supported\": false")) << run.out;
}

TEST(HistoryCommand, Outcomes) {
    const struct {
        const char* name;
        std::vector<DemoDrive> drives;
        std::vector<std::string> args;
        std::string file;  // the VX310's history file (the last drive), when not empty
        int exit;
        const char* said;  // in the JSON document
    } cases[] = {
        {"no_history_yet", {DemoDrive::Vx310Inbox}, {"history", "--json"}, "", 0, "\"samples\": []"},
        {"torn_line", {DemoDrive::Vx310Inbox}, {"history", "--json"},
         std::string(history::HistoryHeader) + "\n" + history::FormatLine(Sample(0, 3)) + "2026-12-12T1", 0,
         "\"tornLineSkipped\": true"},
        {"foreign_file", {DemoDrive::Vx310Inbox}, {"history", "--json"}, "name,value\n", cli::ExitHistoryUnparsable,
         "\"code\": \"history-unparsable\""},
        {"no_supported_drive", {DemoDrive::OtherSata}, {"history", "--json"}, "", cli::ExitNoSupportedDrive,
         "\"code\": \"no-supported-drive\""},
        {"no_such_disk", {DemoDrive::Vx310Inbox}, {"history", "--disk", "7", "--json"}, "", cli::ExitNotSupported,
         "there is no disk 7"},
        {"sata_disk", {DemoDrive::OtherSata, DemoDrive::Vx310Inbox}, {"history", "--disk", "0", "--json"}, "",
         cli::ExitNotSupported, "did not identify on an NVMe path"},
        {"stray_word", {DemoDrive::Vx310Inbox}, {"history", "now", "--json"}, "", cli::ExitUsage, "unexpected now"},
        {"optimize_option", {DemoDrive::Vx310Inbox}, {"history", "--yes", "--json"}, "", cli::ExitUsage,
         "--yes belongs to optimize"},
        {"disk_without_number", {DemoDrive::Vx310Inbox}, {"history", "--disk", "--json"}, "", cli::ExitUsage,
         "--disk needs the drive number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.drives);
        if (!c.file.empty()) {
            rig.files.CreateFolder(L"C:\\ProgramData\\Zephra");
            rig.files.CreateFolder(L"C:\\ProgramData\\Zephra\\History");
            rig.files.PutFile(rig.PathOf(c.drives.size() - 1), c.file);
        }
        const cli::CliRun run = rig.Run(c.args);
        EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
        EXPECT_TRUE(Has(run.out, c.said)) << run.out;
        // Reading never changes the files.
        if (!c.file.empty()) {
            EXPECT_EQ(rig.files.File(rig.PathOf(c.drives.size() - 1)), c.file);
        }
        EXPECT_EQ(rig.files.FilesIn(L"C:\\ProgramData\\Zephra\\History").size(), c.file.empty() ? 0u : 1u);
    }
}

TEST(HistoryCommand, SystemFailuresExitTen) {
    Rig refused({DemoDrive::Vx310Inbox});
    refused.files.refuseRead = 5;
    const cli::CliRun run = refused.Run({"history", "--json"});
    EXPECT_EQ(run.exitCode, cli::ExitSystemFailure);
    EXPECT_TRUE(Has(run.out, "\"systemError\": 5")) << run.out;

    Rig noList({DemoDrive::Vx310Inbox}, demo::DemoFault::DeviceList);
    EXPECT_EQ(noList.Run({"history"}).exitCode, cli::ExitSystemFailure);
}

// The other commands are the command line's own, history or not.
TEST(HistoryCommand, LeavesTheOtherCommandsAlone) {
    Rig rig({DemoDrive::Vx310Inbox});
    EXPECT_EQ(rig.Run({"list"}).exitCode, cli::ExitSuccess);
    EXPECT_EQ(rig.Run({"history", "--help"}).exitCode, cli::ExitSuccess);
    EXPECT_TRUE(Has(rig.Run({"--help"}).out, "history [--disk N]"));
    EXPECT_EQ(rig.Run({"--log", "history", "list"}).exitCode, cli::ExitUsage);  // not opened: nullptr
}

}  // namespace
