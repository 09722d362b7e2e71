// zephra-cli's commands on the demo's simulated machine: what reaches each drive, the
// exit codes, and what is asked of the session. The JSON documents are parsed by the
// program tests under Wine (cli_e2e.py); here the machine is looked at from inside.
#include "cli/Cli.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/Json.h"
#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "sim/SimCodes.h"
#include "sim/SimDrives.h"
#include "sim/SimShutdown.h"

namespace {

using demo::DemoDrive;
using sim::NvmeIdentify;
using sim::NvmeVendorRead;
using sim::NvmeVendorWrite;

const std::map<unsigned, std::wstring> kTexts{
    {139, L"Has been optimized"}, {140, L"Optimizable"}, {141, L"Unknown"}};

// Passes every call on; may act once, just before the Nth read-only open of a physical
// drive (the first-sector read), so that a test can change the machine between the
// listing and the switch.
class HookedIo : public platform::DeviceIo {
public:
    explicit HookedIo(platform::DeviceIo& inner) : inner_(inner) {}
    int hookAtSectorRead = 0;  // 0: never
    std::function<void()> hook;

    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                          std::uint32_t flags) override {
        if (access == platform::AccessRead && ++sectorReads_ == hookAtSectorRead && hook) hook();
        return inner_.Open(path, access, share, creation, flags);
    }
    bool Close(platform::Handle handle) override { return inner_.Close(handle); }
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* returned) override {
        return inner_.IoControl(handle, code, in, inSize, out, outSize, returned);
    }
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) override {
        return inner_.Read(handle, buffer, size, read);
    }
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override {
        return inner_.Seek(handle, distance, origin);
    }
    std::uint32_t LastError() override { return inner_.LastError(); }
    void SetLastError(std::uint32_t error) override { inner_.SetLastError(error); }
    void DebugOutput(std::wstring_view text) override { inner_.DebugOutput(text); }

private:
    platform::DeviceIo& inner_;
    int sectorReads_ = 0;
};

// The demo's machine with the given drives, and the command line bound to it.
struct Rig {
    explicit Rig(std::vector<DemoDrive> drives, std::uint8_t state = 2,
                 demo::DemoHealth health = demo::DemoHealth::Healthy)
        : machine(Make(std::move(drives), state, health)), io(machine->Computer().Machine()) {}

    static std::unique_ptr<demo::DemoMachine> Make(std::vector<DemoDrive> drives, std::uint8_t state,
                                                   demo::DemoHealth health) {
        demo::DemoOptions options;
        options.drives = std::move(drives);
        options.state = state;
        options.health = health;
        return std::make_unique<demo::DemoMachine>(options);
    }

    cli::CliRun Run(std::vector<std::string> args) {
        const platform::System system = machine->System();
        const cli::CliSystem bound{{io, system.install, system.volumes},
                                   shutdown,
                                   [](unsigned id) { return kTexts.at(id); },
                                   [](const std::string&) -> std::FILE* { return nullptr; }};
        return cli::RunCli(args, bound);
    }

    sim::SimDisk& Disk(std::size_t i) { return machine->Computer().Disk(i); }
    std::vector<std::uint8_t> Opcodes(std::size_t i) {
        std::vector<std::uint8_t> opcodes;
        for (const auto& command : Disk(i).controller->History())
            opcodes.push_back(static_cast<std::uint8_t>(command.command[0]));
        return opcodes;
    }
    int Writes(std::size_t i) {
        int writes = 0;
        for (const std::uint8_t opcode : Opcodes(i)) writes += opcode == NvmeVendorWrite;
        return writes;
    }

    std::unique_ptr<demo::DemoMachine> machine;
    HookedIo io;
    sim::SimShutdown shutdown;
};

const DemoDrive kPaths[] = {DemoDrive::Vx310Inbox, DemoDrive::Vx310Miniport, DemoDrive::Vx310Usb};

TEST(CliCommands, OtherMakersDrivesAreExaminedAndNeverSentAVendorCommand) {
    const std::vector<std::vector<std::string>> commands = {
        {"list"}, {"status"}, {"optimize", "on", "--yes"}, {"optimize", "off", "--yes", "--disk", "0"}};
    for (const DemoDrive path : kPaths) {
        for (const auto& command : commands) {
            SCOPED_TRACE(command[0] + " " + std::to_string(static_cast<int>(path)));
            Rig rig({DemoDrive::OtherNvme, DemoDrive::OtherSata, DemoDrive::OtherUsb, path});
            rig.Run(command);
            // The other NVMe drive: identified, and in the listing of list and optimize asked
            // the standard health log; never a vendor command. The SATA drive: nothing.
            const std::vector<std::uint8_t> standard =
                command[0] == "status" ? std::vector<std::uint8_t>{NvmeIdentify}
                                       : std::vector<std::uint8_t>{NvmeIdentify, sim::NvmeGetLogPage};
            EXPECT_EQ(rig.Opcodes(0), standard);
            EXPECT_TRUE(rig.Disk(1).ataDevice->History().empty());
            EXPECT_EQ(rig.Writes(3), command[0] == "optimize" && command.size() == 3 ? 1 : 0);
        }
    }
}

TEST(CliCommands, ASwitchIsOneIdentifyAndOneWriteAfterTheListingWith3010AndNoShutdown) {
    for (const DemoDrive path : kPaths) {
        for (const std::uint8_t state : {0, 2}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(path)) + " from " + std::to_string(state));
            const char* word = state == 0 ? "off" : "on";
            Rig listed({path}, state);
            EXPECT_EQ(listed.Run({"list"}).exitCode, cli::ExitSuccess);

            Rig rig({path}, state);
            const cli::CliRun run = rig.Run({"optimize", word, "--yes"});
            EXPECT_EQ(run.exitCode, cli::ExitRestartRequired) << run.err;
            // The same pass as the listing (its last command the health log), then the switch.
            std::vector<std::uint8_t> expected = listed.Opcodes(0);
            EXPECT_EQ(expected.back(), sim::NvmeGetLogPage);
            expected.push_back(NvmeIdentify);
            expected.push_back(NvmeVendorWrite);
            EXPECT_EQ(rig.Opcodes(0), expected);
            EXPECT_EQ(rig.Disk(0).controller->History().back().command[15], sim::SubcodeStateWrite);
            EXPECT_EQ(rig.Disk(0).controller->Firmware().OptimizeState(), state == 0 ? 2 : 0);
            EXPECT_TRUE(rig.shutdown.Calls().empty());
            EXPECT_NE(run.out.find("Restart the computer"), std::string::npos) << run.out;

            // Run again: the drive is in the asked state now (as read by the new listing).
            Rig again({path}, state == 0 ? 2 : 0);
            EXPECT_EQ(again.Run({"optimize", word, "--yes"}).exitCode, cli::ExitSuccess);
            EXPECT_EQ(again.Writes(0), 0);
        }
    }
}

TEST(CliCommands, RestartAsksForTheWindowsShutdownAndSays1641OrStays3010WhenRefused) {
    Rig rig({DemoDrive::Vx310Inbox});
    EXPECT_EQ(rig.Run({"optimize", "on", "--yes", "--restart"}).exitCode, cli::ExitRestartStarted);
    ASSERT_EQ(rig.shutdown.Requests().size(), 1u);
    EXPECT_EQ(rig.shutdown.Requests()[0].flags, platform::ExitShutdown | platform::ExitForce);
    EXPECT_EQ(rig.shutdown.Requests()[0].reason, 0u);

    Rig refused({DemoDrive::Vx310Inbox});
    refused.shutdown.holdsShutdownPrivilege = false;
    const cli::CliRun run = refused.Run({"optimize", "on", "--yes", "--restart", "--json"});
    EXPECT_EQ(run.exitCode, cli::ExitRestartRequired);
    EXPECT_TRUE(refused.shutdown.Requests().empty());
    EXPECT_NE(run.out.find("\"restart\": \"refused\""), std::string::npos) << run.out;
    EXPECT_EQ(refused.Writes(0), 1);
}

TEST(CliCommands, WithoutYesNothingIsTouched) {
    Rig rig({DemoDrive::Vx310Inbox});
    const cli::CliRun run = rig.Run({"optimize", "on"});
    EXPECT_EQ(run.exitCode, cli::ExitUsage);
    EXPECT_NE(run.err.find("--yes"), std::string::npos);
    EXPECT_TRUE(rig.Disk(0).controller->History().empty());
    EXPECT_TRUE(rig.machine->Computer().Machine().Trace().empty());
    EXPECT_EQ(rig.machine->Computer().Machine().OpenHandleCount(), 0u);
}

TEST(CliCommands, ADriveExchangedBetweenListingAndSwitchIsNotWrittenAnd1167) {
    for (const DemoDrive path : {DemoDrive::Vx310Inbox, DemoDrive::Vx310Usb}) {
        Rig rig({path});
        std::shared_ptr<sim::SimNvmeController> other;
        rig.io.hookAtSectorRead = 2;  // the listing reads sector 0 once; then the switch
        rig.io.hook = [&] {
            sim::SimNvmeConfig config;
            config.identity.serial = "TVK310B9999999999999";
            auto& machine = rig.machine->Computer().Machine();
            other = path == DemoDrive::Vx310Inbox ? sim::AttachInboxDrive(machine, 0, config).device
                                                  : sim::AttachBridgeDrive(machine, 0, config).device;
        };
        const cli::CliRun run = rig.Run({"optimize", "on", "--yes"});
        EXPECT_EQ(run.exitCode, cli::ExitDriveChanged) << run.err;
        ASSERT_TRUE(other);
        EXPECT_EQ(rig.Writes(0), 0);
        ASSERT_EQ(other->History().size(), 1u);
        EXPECT_EQ(other->History()[0].command[0] & 0xFF, NvmeIdentify);
        EXPECT_TRUE(rig.shutdown.Calls().empty());
    }
}

TEST(CliCommands, AccessDeniedOnTheSwitchsOpenSaysItNeedsAdministratorRightsAnd5) {
    Rig rig({DemoDrive::Vx310Inbox});
    rig.io.hookAtSectorRead = 2;
    rig.io.hook = [&] { rig.machine->Computer().Machine().RefuseOpen(L"\\\\.\\physicaldrive0", sim::ErrorAccessDenied); };
    const cli::CliRun run = rig.Run({"optimize", "on", "--yes"});
    EXPECT_EQ(run.exitCode, cli::ExitAccessDenied);
    EXPECT_NE(run.err.find("needs administrator rights"), std::string::npos) << run.err;
    EXPECT_EQ(rig.Writes(0), 0);
}

TEST(CliCommands, AFailedWriteExitsWithTheWindowsCodeAndNeverZero) {
    // The drive refuses the write: no system call failed, so the last error is 0, which the
    // window shows in its box; the exit code must still say failure.
    Rig rig({DemoDrive::Vx310Miniport});
    rig.Disk(0).controller->RejectCommands(NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField);
    const cli::CliRun run = rig.Run({"optimize", "on", "--yes", "--json"});
    EXPECT_NE(run.exitCode, cli::ExitSuccess);
    EXPECT_NE(run.exitCode, cli::ExitRestartRequired);
    EXPECT_NE(run.out.find("Open Optimize error, error code"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"code\": \"command-failed\""), std::string::npos) << run.out;
    EXPECT_TRUE(rig.shutdown.Calls().empty());

    // An open that fails with a system code exits with that code.
    Rig gone({DemoDrive::Vx310Inbox});
    gone.io.hookAtSectorRead = 2;
    gone.io.hook = [&] { gone.machine->Computer().Machine().Detach(L"\\\\.\\PhysicalDrive0"); };
    const cli::CliRun open = gone.Run({"optimize", "on", "--yes"});
    EXPECT_EQ(open.exitCode, 2) << open.err;  // ERROR_FILE_NOT_FOUND from the open
    EXPECT_NE(open.err.find("Open Device error, error code 2"), std::string::npos) << open.err;
}

// health: every kind of log on every path, its exit code and what the JSON says; status
// carries the same health object and is not failed by it.
TEST(CliHealth, ExitCodesAndJsonForEachKindOnEachPath) {
    struct Case {
        demo::DemoHealth health;
        int exitCode;
        const char* errorCode;  // null: no error
        const char* inJson;     // a member the document carries
    };
    const Case cases[] = {
        {demo::DemoHealth::Healthy, 0, nullptr, "\"summary\": \"Good \u00b7 38 \u00b0C \u00b7 3 % used\""},
        {demo::DemoHealth::Worn, 0, nullptr, "\"percentageUsed\": 112"},
        {demo::DemoHealth::Hot, 8, "health-critical", "\"warnings\": [\n"},
        {demo::DemoHealth::SpareLow, 8, "health-critical", "\"spare-below-threshold\""},
        {demo::DemoHealth::ReadOnly, 8, "health-critical", "\"read-only\""},
        {demo::DemoHealth::Refused, 2, "health-unavailable", "\"health\": null"},
        {demo::DemoHealth::Short, 2, "health-unavailable", "\"health\": null"},
    };
    for (const DemoDrive path : kPaths) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "path " << int(path) << " health " << int(c.health));
            Rig rig({DemoDrive::OtherSata, path}, 2, c.health);
            const cli::CliRun health = rig.Run({"health", "--json"});
            EXPECT_EQ(health.exitCode, c.exitCode) << health.out;
            EXPECT_NE(health.out.find(c.inJson), std::string::npos) << health.out;
            if (c.errorCode) {
                EXPECT_NE(health.out.find(std::string("\"code\": \"") + c.errorCode + "\""), std::string::npos)
                    << health.out;
            } else {
                EXPECT_NE(health.out.find("\"error\": null"), std::string::npos) << health.out;
            }
            // The drive's other facts and its switch do not depend on its health.
            const cli::CliRun status = rig.Run({"status", "--json"});
            EXPECT_EQ(status.exitCode, 0);
            EXPECT_NE(status.out.find("\"health\": "), std::string::npos);
            EXPECT_EQ(rig.Run({"optimize", "on", "--yes"}).exitCode, 3010);
        }
    }
}

TEST(CliHealth, CountersAreExactDecimalStringsAndTheTextReportHasEveryField) {
    Rig rig({DemoDrive::Vx310Inbox}, 2, demo::DemoHealth::Hot);
    const cli::CliRun json = rig.Run({"health", "--json"});
    for (const char* member :
         {"\"dataUnitsRead\": \"12345678\"", "\"bytesRead\": \"6320987136000\"", "\"powerOnHours\": \"1873\"",
          "\"temperatureCelsius\": 85", "\"warningTemperatureMinutes\": 37", "\"criticalTemperatureMinutes\": 4",
          "\"firmware\": \"VX31A005\""})
        EXPECT_NE(json.out.find(member), std::string::npos) << member << "\n" << json.out;
    const cli::CliRun text = rig.Run({"health"});
    EXPECT_EQ(text.exitCode, 8);
    for (const char* line : {"Temperature:", "Available spare:", "Percentage used:", "Data read:", "Data written:",
                             "Power cycles:", "Power-on hours:", "Unsafe shutdowns:", "Media and data integrity errors:",
                             "Error log entries:", "Warning temperature time:", "Critical temperature time:",
                             "Warning: temperature out of range"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    EXPECT_NE(text.err.find("Warning: temperature out of range"), std::string::npos);
}

TEST(CliHealth, DiskNamesAnyNvmeDriveAndNothingElse) {
    Rig rig({DemoDrive::OtherNvme, DemoDrive::OtherSata, DemoDrive::Vx310Inbox});
    EXPECT_EQ(rig.Run({"health", "--disk", "0"}).exitCode, 0);  // another maker's NVMe drive
    const cli::CliRun sata = rig.Run({"health", "--disk", "1", "--json"});
    EXPECT_EQ(sata.exitCode, 2);
    EXPECT_NE(sata.out.find("\"not-supported\""), std::string::npos);
    EXPECT_EQ(rig.Run({"health", "--disk", "9"}).exitCode, 2);
    EXPECT_EQ(rig.Run({"status", "--disk", "0"}).exitCode, 1);  // --disk is not status's
    Rig none({DemoDrive::OtherSata});
    EXPECT_EQ(none.Run({"health"}).exitCode, 2);
}

TEST(CliJson, TextsAreEscapedAndNumbersStayNumbers) {
    cli::Json doc = cli::Json::Object();
    doc.Set("model", cli::Json::Text(std::string("A\"B\\C\n\x01\xE9", 8)));
    doc.Set("bytes", cli::Json::Unsigned(18446744073709551615ull));
    doc.Set("state", cli::Json::Number(-1));
    doc.Set("none", cli::Json::Null());
    doc.Set("list", cli::Json::Array().Add(cli::Json::Bool(true)));
    doc.Set("state", cli::Json::Number(2));  // replaced in place
    EXPECT_EQ(doc.Dump(),
              "{\n"
              "  \"model\": \"A\\\"B\\\\C\\n\\u0001\xC3\xA9\",\n"
              "  \"bytes\": 18446744073709551615,\n"
              "  \"state\": 2,\n"
              "  \"none\": null,\n"
              "  \"list\": [\n"
              "    true\n"
              "  ]\n"
              "}\n");
}

}  // namespace
