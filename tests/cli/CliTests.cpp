// zephra-cli's commands on the demo's simulated machine: what reaches each drive, the
// exit codes, and what is asked of the session. The JSON documents are parsed by the
// program tests under Wine (cli_e2e.py); here the machine is looked at from inside.
#include "cli/Cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Json.h"
#include "cli/LogPath.h"
#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "sim/SimCodes.h"
#include "sim/SimDrives.h"
#include "sim/SimShutdown.h"
#include "sim/SimStacks.h"

namespace {

using demo::DemoDrive;
using sim::NvmeIdentify;
using sim::NvmeVendorRead;
using sim::NvmeVendorWrite;

const std::map<unsigned, std::wstring> kTexts{
    {139, L"Has been optimized"}, {140, L"Optimizable"}, {141, L"Unknown"}};

// Passes every call on; may act once, just before the Nth read-only open of a physical
// drive (the first-sector read), so that a test can change the machine between the
// listing and the switch. From then on it may also refuse device-control calls and
// report a last error of its choosing.
class HookedIo : public platform::DeviceIo {
public:
    explicit HookedIo(platform::DeviceIo& inner) : inner_(inner) {}
    int hookAtSectorRead = 0;  // 0: never
    std::function<void()> hook;
    // After the hook: the error a device-control call fails with, or none to pass it on.
    std::function<std::optional<std::uint32_t>(std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize)>
        refuse;
    std::optional<std::uint32_t> lastError;  // after the hook: what LastError says

    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                          std::uint32_t flags) override {
        if (access == platform::AccessRead && ++sectorReads_ == hookAtSectorRead) {
            hooked_ = true;
            if (hook) hook();
        }
        return inner_.Open(path, access, share, creation, flags);
    }
    bool Close(platform::Handle handle) override { return inner_.Close(handle); }
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* returned) override {
        if (hooked_ && refuse) {
            if (const auto error = refuse(code, static_cast<const std::uint8_t*>(in), inSize)) {
                if (returned) *returned = 0;
                inner_.SetLastError(*error);
                return false;
            }
        }
        return inner_.IoControl(handle, code, in, inSize, out, outSize, returned);
    }
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) override {
        return inner_.Read(handle, buffer, size, read);
    }
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override {
        return inner_.Seek(handle, distance, origin);
    }
    std::uint32_t LastError() override { return hooked_ && lastError ? *lastError : inner_.LastError(); }
    void SetLastError(std::uint32_t error) override { inner_.SetLastError(error); }
    void DebugOutput(std::wstring_view text) override { inner_.DebugOutput(text); }

private:
    platform::DeviceIo& inner_;
    int sectorReads_ = 0;
    bool hooked_ = false;
};

// An NVMe command through the inbox driver (STORAGE_PROTOCOL_COMMAND: the command at 80).
std::function<std::optional<std::uint32_t>(std::uint32_t, const std::uint8_t*, std::uint32_t)> RefuseNvme(
    std::uint8_t opcode, std::uint32_t error) {
    return [opcode, error](std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize) -> std::optional<std::uint32_t> {
        if (code == sim::IoctlStorageProtocolCommand && in && inSize > 80 && in[80] == opcode) return error;
        return std::nullopt;
    };
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The tests' log opener, as the product's: it appends, and takes only a regular file.
std::FILE* OpenForAppend(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) return nullptr;
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The demo's machine with the given drives, and the command line bound to it.
struct Rig {
    explicit Rig(std::vector<DemoDrive> drives, std::uint8_t state = 2,
                 demo::DemoHealth health = demo::DemoHealth::Healthy)
        : Rig(Options(std::move(drives), state, demo::DemoFault::None, demo::DemoBeforeWrite::Nothing, health)) {}
    explicit Rig(const demo::DemoOptions& options)
        : machine(std::make_unique<demo::DemoMachine>(options)), io(machine->Computer().Machine()) {}

    static demo::DemoOptions Options(std::vector<DemoDrive> drives, std::uint8_t state = 2,
                                     demo::DemoFault fault = demo::DemoFault::None,
                                     demo::DemoBeforeWrite beforeWrite = demo::DemoBeforeWrite::Nothing,
                                     demo::DemoHealth health = demo::DemoHealth::Healthy) {
        demo::DemoOptions options;
        options.drives = std::move(drives);
        options.state = state;
        options.fault = fault;
        options.beforeWrite = beforeWrite;
        options.health = health;
        return options;
    }

    cli::CliRun Run(std::vector<std::string> args) {
        const platform::System system = machine->System();
        const cli::CliSystem bound{{io, system.install, system.volumes},
                                   shutdown,
                                   [](unsigned id) { return kTexts.at(id); },
                                   OpenForAppend};
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

// Disk 0's open fails with the given system error (32: another program holds the drive).
std::function<void(Rig&)> RefuseOpenOfDisk0(std::uint32_t error) {
    return [error](Rig& rig) { rig.machine->Computer().Machine().RefuseOpen(L"\\\\.\\physicaldrive0", error); };
}

const DemoDrive kPaths[] = {DemoDrive::Vx310Inbox, DemoDrive::Vx310Miniport, DemoDrive::Vx310Usb, DemoDrive::Vx310Rst};

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
            EXPECT_NE(run.out.find("next power-on after a shutdown"), std::string::npos) << run.out;

            // Run again: the drive is in the asked state now (as read by the new listing).
            Rig again({path}, state == 0 ? 2 : 0);
            EXPECT_EQ(again.Run({"optimize", word, "--yes"}).exitCode, cli::ExitSuccess);
            EXPECT_EQ(again.Writes(0), 0);
        }
    }
}

TEST(CliCommands, ShutdownPowersOffWithAPlannedReasonAndSays1641OrStays3010WhenRefused) {
    Rig rig({DemoDrive::Vx310Inbox});
    EXPECT_EQ(rig.Run({"optimize", "on", "--yes", "--shutdown"}).exitCode, cli::ExitShutdownStarted);
    ASSERT_EQ(rig.shutdown.Requests().size(), 1u);
    // A power-off, not a restart: the drive needs its power cycle. Planned, application,
    // maintenance (0x80040001), never the 0 of an unexpected shutdown.
    EXPECT_EQ(rig.shutdown.Requests()[0].flags, 0x8u | 0x4u);
    EXPECT_EQ(rig.shutdown.Requests()[0].reason, 0x80040001u);

    Rig refused({DemoDrive::Vx310Inbox});
    refused.shutdown.holdsShutdownPrivilege = false;
    const cli::CliRun run = refused.Run({"optimize", "on", "--yes", "--shutdown", "--json"});
    EXPECT_EQ(run.exitCode, cli::ExitRestartRequired);
    EXPECT_TRUE(refused.shutdown.Requests().empty());
    EXPECT_NE(run.out.find("\"restart\": \"refused\""), std::string::npos) << run.out;
    EXPECT_EQ(refused.Writes(0), 1);
}

TEST(CliCommands, WithoutYesNothingIsTouched) {
    Rig rig({DemoDrive::Vx310Inbox});
    const cli::CliRun run = rig.Run({"optimize", "on"});
    EXPECT_EQ(run.exitCode, cli::ExitConfirmationNeeded);
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

// Every outcome on its own exit code and error code; a system failure never exits with
// the system's code, and no failure passes for "no drive" or for success.
TEST(CliExitCodes, EachMachineAndCommandHasItsOwnExitAndErrorCode) {
    using demo::DemoBeforeWrite;
    using demo::DemoFault;
    using Args = std::vector<std::string>;
    const std::vector<DemoDrive> vx310{DemoDrive::Vx310Inbox};
    struct Row {
        const char* what;
        demo::DemoOptions machine;
        Args args;
        int exitCode;
        const char* errorCode;                     // null: "error": null
        std::optional<std::uint32_t> systemError;  // checked when given
        int writes;  // vendor writes the first VX310 received; -1: some (a failed write may be sent again)
        std::function<void(Rig&)> arrange = nullptr;
    };
    const Row rows[] = {
        {"list", Rig::Options(vx310), {"list"}, 0, nullptr, {}, 0},
        {"status", Rig::Options(vx310), {"status"}, 0, nullptr, {}, 0},
        {"already in the asked state", Rig::Options(vx310, 0), {"optimize", "on", "--yes"}, 0, nullptr, {}, 0},
        {"switched", Rig::Options(vx310), {"optimize", "on", "--yes"}, 3010, nullptr, {}, 1},
        {"switched and shut down", Rig::Options(vx310), {"optimize", "on", "--yes", "--shutdown"}, 1641, nullptr, {}, 1},
        {"unknown command", Rig::Options(vx310), {"frobnicate"}, 1, "usage", {}, 0},
        {"--disk as the last argument", Rig::Options(vx310), {"optimize", "on", "--yes", "--disk"}, 1, "usage", {}, 0},
        {"a stray word after the command", Rig::Options(vx310), {"status", "now"}, 1, "usage", {}, 0},
        {"--disk twice", Rig::Options(vx310), {"optimize", "on", "--yes", "--disk", "0", "--disk", "1"}, 1, "usage", {}, 0},
        {"--log without its file", Rig::Options(vx310), {"list", "--log"}, 1, "usage", {}, 0},
        {"--restart, which is --shutdown now", Rig::Options(vx310), {"optimize", "on", "--yes", "--restart"}, 1, "usage", {}, 0},
        {"an unwritable --log", Rig::Options(vx310), {"optimize", "on", "--yes", "--log", "/no/such/folder/zephra.log"}, 1, "usage", {}, 0},
        {"no drive at all", Rig::Options({}), {"status"}, 2, "no-supported-drive", {}, 0},
        {"another maker's drive only", Rig::Options({DemoDrive::OtherNvme}), {"optimize", "on", "--yes"}, 2, "no-supported-drive", {}, 0},
        {"without --yes", Rig::Options(vx310), {"optimize", "on"}, 3, "confirmation-needed", {}, 0},
        {"two VX310s without --disk", Rig::Options({DemoDrive::Vx310Inbox, DemoDrive::Vx310Usb}), {"optimize", "on", "--yes"}, 4, "several-supported-drives", {}, 0},
        {"not an administrator", Rig::Options(vx310, 2, DemoFault::AccessDenied), {"status"}, 5, "access-denied", 5u, 0},
        {"--disk N where opening is refused", Rig::Options(vx310, 2, DemoFault::AccessDenied), {"optimize", "on", "--yes", "--disk", "0"}, 5, "access-denied", 5u, 0},
        {"state Unknown", Rig::Options(vx310, 0xFF), {"optimize", "on", "--yes"}, 6, "state-unknown", {}, 0},
        {"--disk N on another maker's drive", Rig::Options({DemoDrive::OtherNvme, DemoDrive::Vx310Inbox}), {"optimize", "on", "--yes", "--disk", "0"}, 7, "not-supported", {}, 0},
        {"--disk N on no drive", Rig::Options(vx310), {"optimize", "on", "--yes", "--disk", "9"}, 7, "not-supported", {}, 0},
        {"a failed listing: list", Rig::Options(vx310, 2, DemoFault::DeviceList), {"list"}, 10, "listing-failed", 13u, 0},
        {"a failed listing: status", Rig::Options(vx310, 2, DemoFault::DeviceList), {"status"}, 10, "listing-failed", 13u, 0},
        {"a failed listing: optimize", Rig::Options(vx310, 2, DemoFault::DeviceList), {"optimize", "on", "--yes"}, 10, "listing-failed", 13u, 0},
        {"unplugged before the write: open fails with 2", Rig::Options({DemoDrive::Vx310Usb}, 2, DemoFault::None, DemoBeforeWrite::Unplug), {"optimize", "on", "--yes"}, 10, "open-failed", 2u, 0},
        {"identify fails before the write", Rig::Options(vx310, 2, DemoFault::None, DemoBeforeWrite::NoIdentify), {"optimize", "on", "--yes"}, 10, "identify-failed", {}, 0},
        {"identify fails with 1167 left behind", Rig::Options(vx310), {"optimize", "on", "--yes"}, 10, "identify-failed", {}, 0,
         [](Rig& rig) {
             rig.io.hookAtSectorRead = 2;
             rig.io.refuse = [](std::uint32_t code, const std::uint8_t*, std::uint32_t) -> std::optional<std::uint32_t> {
                 if (code == sim::IoctlStorageQueryProperty) return 1167;  // the inbox driver's identify
                 return std::nullopt;
             };
         }},
        {"the write refused with code 1", Rig::Options(vx310), {"optimize", "on", "--yes"}, 10, "command-failed", {}, 0,
         [](Rig& rig) { rig.io.hookAtSectorRead = 2; rig.io.refuse = RefuseNvme(NvmeVendorWrite, 1); }},
        {"the write refused, last error 0", Rig::Options(vx310), {"optimize", "on", "--yes"}, 10, "command-failed", 0u, 0,
         [](Rig& rig) {
             rig.io.hookAtSectorRead = 2;
             rig.io.refuse = RefuseNvme(NvmeVendorWrite, 0);
             rig.io.lastError = 0;
         }},
        {"the drive rejects the write", Rig::Options({DemoDrive::Vx310Miniport}), {"optimize", "on", "--yes"}, 10, "command-failed", 1117u, -1,
         [](Rig& rig) { rig.Disk(0).controller->RejectCommands(NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField); }},
        {"another VX310 behind the path", Rig::Options(vx310, 2, DemoFault::None, DemoBeforeWrite::Exchange), {"optimize", "on", "--yes"}, 1167, "drive-changed", 1167u, 0},
        // A disk that could not be opened might be the drive: never "no drive" (2).
        {"the VX310 busy (32): status", Rig::Options(vx310), {"status"}, 10, "open-failed", 32u, 0, RefuseOpenOfDisk0(32)},
        {"the VX310 busy (32): health", Rig::Options(vx310), {"health"}, 10, "open-failed", 32u, 0, RefuseOpenOfDisk0(32)},
        {"the VX310 busy (32): optimize", Rig::Options(vx310), {"optimize", "on", "--yes"}, 10, "open-failed", 32u, 0, RefuseOpenOfDisk0(32)},
        {"the VX310 busy (32): list", Rig::Options(vx310), {"list"}, 10, "open-failed", 32u, 0, RefuseOpenOfDisk0(32)},
        {"the demo's busy VX310", Rig::Options({DemoDrive::OtherSata, DemoDrive::Vx310Usb}, 2, DemoFault::Busy), {"status"}, 10, "open-failed", 32u, 0},
        {"health --disk N of a disk that was not opened", Rig::Options(vx310), {"health", "--disk", "0"}, 10, "open-failed", 32u, 0, RefuseOpenOfDisk0(32)},
        {"optimize --disk N of a disk that was not opened", Rig::Options(vx310), {"optimize", "on", "--yes", "--disk", "0"}, 10, "open-failed", 32u, 0, RefuseOpenOfDisk0(32)},
        {"health --disk N where opening is refused", Rig::Options(vx310, 2, DemoFault::AccessDenied), {"health", "--disk", "0"}, 5, "access-denied", 5u, 0},
        {"list where opening is refused", Rig::Options(vx310, 2, DemoFault::AccessDenied), {"list"}, 5, "access-denied", 5u, 0},
        {"access denied and another open failure: 5", Rig::Options({DemoDrive::OtherNvme, DemoDrive::Vx310Inbox}), {"status"}, 5, "access-denied", 5u, 0,
         [](Rig& rig) {
             rig.machine->Computer().Machine().RefuseOpen(L"\\\\.\\physicaldrive0", 32);
             rig.machine->Computer().Machine().RefuseOpen(L"\\\\.\\physicaldrive1", sim::ErrorAccessDenied);
         }},
        // A disk that opened but does not answer as ours stays "not ours", whatever its error.
        {"another maker's drive refusing identify", Rig::Options({DemoDrive::OtherNvme}), {"status"}, 2, "no-supported-drive", {}, 0,
         [](Rig& rig) { rig.Disk(0).controller->RejectCommands(NvmeIdentify, std::nullopt, sim::NvmeInvalidField); }},
        {"a failed listing: health", Rig::Options(vx310, 2, DemoFault::DeviceList), {"health"}, 10, "listing-failed", 13u, 0},
        {"the health log read failing with a system code", Rig::Options(vx310), {"health"}, 9, "health-unavailable", 31u, 0,
         [](Rig& rig) {
             rig.io.hookAtSectorRead = 1;
             // The inbox driver's log page query (data type 2 at 12); identify passes.
             rig.io.refuse = [](std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize) -> std::optional<std::uint32_t> {
                 if (code == sim::IoctlStorageQueryProperty && in && inSize > 12 && in[12] == 2) return 31;
                 return std::nullopt;
             };
         }},
        {"the health log refused by the drive", Rig::Options(vx310, 2, DemoFault::None, DemoBeforeWrite::Nothing, demo::DemoHealth::Refused), {"health"}, 9, "health-unavailable", {}, 0},
        {"a second --log", Rig::Options(vx310), {"list", "--log", "first.log", "--log", "second.log"}, 1, "usage", {}, 0},
        {"--log on a device", Rig::Options(vx310), {"list", "--log", "\\\\.\\PhysicalDrive0"}, 1, "usage", {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig(row.machine);
        if (row.arrange) row.arrange(rig);
        sim::SimDisk* first = rig.machine->Computer().DiskCount() ? &rig.Disk(0) : nullptr;
        const auto firstController = first ? first->controller : nullptr;
        // --json first, so that the row's last argument is the command line's last; with no
        // room past it, a read beyond the arguments is one past the allocation (ASan).
        Args args;
        args.reserve(row.args.size() + 1);
        args.push_back("--json");
        args.insert(args.end(), row.args.begin(), row.args.end());
        ASSERT_EQ(args.capacity(), args.size());
        const cli::CliRun run = rig.Run(args);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out;
        EXPECT_TRUE(Has(run.out, "\"exitCode\": " + std::to_string(row.exitCode) + ",")) << run.out;
        if (row.errorCode) {
            EXPECT_TRUE(Has(run.out, std::string("\"code\": \"") + row.errorCode + "\"")) << run.out;
            const std::string system =
                row.systemError ? "\"systemError\": " + std::to_string(*row.systemError) + "," : "\"systemError\": ";
            EXPECT_TRUE(Has(run.out, system)) << run.out;
        } else {
            EXPECT_TRUE(Has(run.out, "\"error\": null")) << run.out;
        }
        if (row.exitCode == cli::ExitSystemFailure || row.exitCode == cli::ExitHealthUnavailable) {
            // The system's code is told, and never as null.
            EXPECT_FALSE(Has(run.out, "\"systemError\": null")) << run.out;
            EXPECT_TRUE(Has(run.out, "error code ")) << run.out;
        }
        int writes = 0;
        if (firstController)
            for (const auto& command : firstController->History()) writes += command.command[0] == NvmeVendorWrite;
        if (row.writes < 0)
            EXPECT_GT(writes, 0);
        else
            EXPECT_EQ(writes, row.writes);
        EXPECT_EQ(rig.shutdown.Requests().size(), row.exitCode == cli::ExitShutdownStarted ? 1u : 0u);
    }
}


// What a caller reads besides the exit code: the fields of an optimize document are there
// (null until known), the failed write names its disk, and --help and --version speak JSON.
TEST(CliExitCodes, DocumentsAreCompleteAndMessagesNameTheDisk) {
    Rig refused({DemoDrive::Vx310Inbox});
    refused.Disk(0).controller->RejectCommands(NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField);
    const cli::CliRun failed = refused.Run({"optimize", "on", "--yes", "--json"});
    EXPECT_TRUE(Has(failed.out, "\"newState\": null,")) << failed.out;
    EXPECT_TRUE(Has(failed.out, "\"restart\": null,")) << failed.out;
    EXPECT_TRUE(Has(failed.out, "disk 0 (Tavik VX310 Series SSD 512GB): Open Optimize error, error code ")) << failed.out;

    Rig none(std::vector<DemoDrive>{});
    const cli::CliRun unconfirmed = none.Run({"optimize", "off", "--json"});
    for (const char* field : {"\"drive\": null", "\"written\": false", "\"newState\": null", "\"restart\": null"})
        EXPECT_TRUE(Has(unconfirmed.out, field)) << field << unconfirmed.out;

    const cli::CliRun help = none.Run({"--help", "--json"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Has(help.out, "\"command\": \"help\"")) << help.out;
    EXPECT_TRUE(Has(help.out, "1167  the drive changed")) << help.out;
    const cli::CliRun version = none.Run({"--json", "--version"});
    EXPECT_TRUE(Has(version.out, "\"version\": \"")) << version.out;

    // --log takes no option as its file: the document is JSON, not a file named --json.
    const cli::CliRun log = none.Run({"list", "--log", "--json"});
    EXPECT_EQ(log.exitCode, cli::ExitUsage);
    EXPECT_TRUE(Has(log.out, "\"code\": \"usage\"")) << log.out;
}

// Which drive a command describes, and what it says of it.
TEST(CliCommands, StatusDescribesTheVx310BehindAnotherMakersDriveAndAllDrivesAreSeparate) {
    Rig rig({DemoDrive::OtherNvme, DemoDrive::Vx310Inbox});
    const cli::CliRun status = rig.Run({"status", "--json"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(Has(status.out, "\"disk\": 1,")) << status.out;
    EXPECT_TRUE(Has(status.out, "\"model\": \"Tavik VX310 Series SSD 512GB\"")) << status.out;

    // Two VX310s: each its own serial, the write only to the one named.
    Rig two({DemoDrive::Vx310Inbox, DemoDrive::Vx310Miniport});
    const cli::CliRun list = two.Run({"list", "--json"});
    EXPECT_TRUE(Has(list.out, "\"serial\": \"TVK310A0000000000017\"")) << list.out;
    EXPECT_TRUE(Has(list.out, "\"serial\": \"TVK310A0000000000018\"")) << list.out;
    EXPECT_EQ(two.Run({"optimize", "on", "--yes", "--disk", "1"}).exitCode, cli::ExitRestartRequired);
    EXPECT_EQ(two.Writes(0), 0);
    EXPECT_EQ(two.Writes(1), 1);
}

TEST(CliCommands, CapacityOfADriveWith4096ByteSectorsIsItsBytes) {
    Rig rig({DemoDrive::Vx310Inbox});
    rig.Disk(0).diskStack->SetDisk(0, 125026902, 4096);
    const cli::CliRun run = rig.Run({"status", "--json"});
    EXPECT_TRUE(Has(run.out, "\"capacityBytes\": 512110190592,")) << run.out;
    EXPECT_TRUE(Has(run.out, "\"capacityText\": \"476.94 GB\"")) << run.out;
}

// A drive's texts with a quote, a backslash, control bytes and bytes of 0x80 and above: the
// JSON stays one valid document, the text output is UTF-8.
TEST(CliCommands, DriveTextsAreEscapedInJsonAndMessagesAndShownAsUtf8) {
    Rig rig({DemoDrive::Vx310Inbox}, 0xFF);
    sim::SimNvmeConfig config;
    config.identity.model = "Tavik \"VX\\310\" \x01\x1F\xE9";
    rig.machine->Computer().ExchangeNvmeDrive(rig.Disk(0), config).Firmware().SetOptimizeState(0xFF);
    const std::string escaped = "Tavik \\\"VX\\\\310\\\" \\u0001\\u001F\xC3\xA9";
    const cli::CliRun list = rig.Run({"list", "--json"});
    EXPECT_TRUE(Has(list.out, "\"model\": \"" + escaped + "\"")) << list.out;
    const cli::CliRun unknown = rig.Run({"optimize", "on", "--yes", "--json"});
    EXPECT_EQ(unknown.exitCode, cli::ExitStateUnknown);
    EXPECT_TRUE(Has(unknown.out, "\"message\": \"disk 0 (" + escaped + "): ")) << unknown.out;
    for (const char c : unknown.out) EXPECT_FALSE(c >= 0 && c < 0x20 && c != '\n') << unknown.out;

    const cli::CliRun text = rig.Run({"status"});
    EXPECT_TRUE(Has(text.out, "Tavik \"VX\\310\" \x01\x1F\xC3\xA9")) << text.out;
}

// The --log file gets the pass's progress and every error, the listing's among them.
TEST(CliCommands, TheLogFileHoldsTheErrors) {
    const std::string path = ::testing::TempDir() + "zephra-cli-log-test.txt";
    Rig rig(Rig::Options({DemoDrive::Vx310Inbox}, 2, demo::DemoFault::DeviceList));
    EXPECT_EQ(rig.Run({"status", "--log", path}).exitCode, cli::ExitSystemFailure);
    std::ifstream file(path);
    std::stringstream log;
    log << file.rdbuf();
    EXPECT_TRUE(Has(log.str(), "Get Disk information start")) << log.str();
    EXPECT_TRUE(Has(log.str(), "error code = 13")) << log.str();
    EXPECT_TRUE(Has(log.str(), "zephra-cli error listing-failed (exit 10)")) << log.str();
    std::remove(path.c_str());
}

// A drive found while another disk could not be opened is the drive of status and health,
// as the window shows it; the documents name the disk that was not examined. list shows
// every row and fails: its list is incomplete.
TEST(CliCommands, ADiskThatCouldNotBeOpenedIsNamedBesideTheDriveFound) {
    Rig rig({DemoDrive::OtherNvme, DemoDrive::Vx310Inbox});
    RefuseOpenOfDisk0(32)(rig);
    const std::string named = "\"disksNotOpened\": [\n    {\n      \"disk\": 0,\n      \"systemError\": 32\n";
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{{"status"}, {"health"}}) {
        const cli::CliRun run = rig.Run({command[0], "--json"});
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_TRUE(Has(run.out, "\"disk\": 1,")) << run.out;
        EXPECT_TRUE(Has(run.out, named)) << run.out;
    }
    const cli::CliRun optimize = rig.Run({"optimize", "on", "--yes", "--json"});
    EXPECT_EQ(optimize.exitCode, cli::ExitRestartRequired) << optimize.out;
    EXPECT_TRUE(Has(optimize.out, named)) << optimize.out;

    const cli::CliRun list = rig.Run({"list"});
    EXPECT_EQ(list.exitCode, cli::ExitSystemFailure);
    EXPECT_TRUE(Has(list.out, "not opened (error 32)")) << list.out;
    EXPECT_TRUE(Has(list.out, "Tavik VX310 Series SSD 512GB")) << list.out;
    EXPECT_TRUE(Has(list.err, "disk 0 could not be opened")) << list.err;
    EXPECT_TRUE(Has(list.err, "error code 32")) << list.err;

    // Every disk opened: the field is there, empty.
    Rig plain({DemoDrive::Vx310Inbox});
    EXPECT_TRUE(Has(plain.Run({"status", "--json"}).out, "\"disksNotOpened\": [],")) << plain.Run({"status", "--json"}).out;
}

TEST(CliLog, DevicePathsDeviceNamesAndFoldersAreRefusedAndFilesTaken) {
    struct Case {
        const char* path;
        const char* refusal;  // a part of the reason; null: taken
    };
    const Case cases[] = {
        {"zephra.log", nullptr},
        {"C:\\logs\\zephra.log", nullptr},
        {"logs/zephra.txt", nullptr},
        {"\\\\server\\share\\zephra.log", nullptr},
        {"\\\\?\\C:\\logs\\zephra.log", nullptr},
        {"\\\\?\\UNC\\server\\share\\zephra.log", nullptr},
        {"console.log", nullptr},  // a device name inside a longer name is a name
        {"nul-results.txt", nullptr},
        {"COM10", nullptr},
        {"LPT", nullptr},
        {"C:\\CON\\zephra.log", nullptr},  // only the last component is read as a device
        {"\\\\.\\PhysicalDrive0", "names a device"},
        {"//./PhysicalDrive0", "names a device"},
        {"\\\\.\\C:", "names a device"},
        {"\\\\.\\C:\\logs\\zephra.log", "names a device"},
        {"\\\\.\\pipe\\zephra", "names a device"},
        {"\\\\.", "names a device"},
        {"//?/C:/logs/zephra.log", "names a device"},  // with slashes, \\?\ is \\.\ to Windows
        {"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition0", "device or a volume"},
        {"\\\\?\\globalroot\\device\\harddisk0\\dr0", "device or a volume"},
        {"\\\\?\\PhysicalDrive0", "device or a volume"},
        {"\\\\?\\C:", "device or a volume"},
        {"\\\\?\\C:\\", "device or a volume"},
        {"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}\\zephra.log", "device or a volume"},
        {"\\\\?\\UNC\\server", "device or a volume"},
        {"\\\\?\\UNC\\server\\share", "device or a volume"},
        {"\\??\\C:\\zephra.log", "namespace"},
        {"CON", "name of a device"},
        {"nul", "name of a device"},
        {"Prn", "name of a device"},
        {"AUX", "name of a device"},
        {"NUL.txt", "name of a device"},
        {"aux.log.txt", "name of a device"},
        {"COM1", "name of a device"},
        {"com9.log", "name of a device"},
        {"LPT1", "name of a device"},
        {"lpt9", "name of a device"},
        {"COM\xC2\xB9", "name of a device"},
        {"CONOUT$", "name of a device"},
        {"C:\\logs\\NUL", "name of a device"},
        {"logs/con.txt", "name of a device"},
        {"C:NUL", "name of a device"},
        {"NUL ", "name of a device"},  // Windows drops trailing spaces and dots
        {"NUL.", "name of a device"},
        {"nul .txt", "name of a device"},
        {"COM1:", "name of a device"},
        {"logs\\", "names a folder"},
        {"logs/", "names a folder"},
        {"C:", "names a folder"},
        {".", "names a folder"},
        {"logs\\..", "names a folder"},
        {"", "empty"},
        {"zephra\x01.log", "control character"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::optional<std::string> refusal = cli::LogPathRefusal(c.path);
        if (!c.refusal) {
            EXPECT_FALSE(refusal) << *refusal;
        } else {
            ASSERT_TRUE(refusal);
            EXPECT_TRUE(Has(*refusal, c.refusal)) << *refusal;
        }
    }
}

// A refused --log is a usage error that names why, before any drive is touched; a file is
// appended to, never emptied; a folder is refused by the open's own check.
TEST(CliLog, TheLogIsAppendedAndARefusedOneTouchesNoDrive) {
    const std::string path = ::testing::TempDir() + "zephra-cli-append-test.txt";
    {
        std::ofstream file(path, std::ios::trunc);
        file << "first line, kept\n";
    }
    Rig rig({DemoDrive::Vx310Inbox});
    EXPECT_EQ(rig.Run({"status", "--log", path}).exitCode, 0);
    EXPECT_EQ(rig.Run({"list", "--log", path}).exitCode, 0);
    const std::string log = ReadFile(path);
    EXPECT_EQ(log.rfind("first line, kept\n", 0), 0u) << log;
    const std::size_t first = log.find("Get Disk information start");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("Get Disk information start", first + 1), std::string::npos) << log;  // both runs
    std::remove(path.c_str());

    // Every command opens its log the same way: the self-test and the history too.
    const std::vector<std::vector<std::string>> commands{
        {"optimize", "on", "--yes"}, {"selftest", "short"}, {"history"}};
    for (const std::string& refused : {std::string("\\\\.\\PhysicalDrive0"), std::string("NUL"), ::testing::TempDir()}) {
        for (std::vector<std::string> args : commands) {
            SCOPED_TRACE(refused + " " + args[0]);
            Rig untouched({DemoDrive::Vx310Inbox});
            args.insert(args.end(), {"--log", refused});
            const cli::CliRun run = untouched.Run(args);
            EXPECT_EQ(run.exitCode, cli::ExitUsage);
            EXPECT_TRUE(Has(run.err, refused)) << run.err;
            EXPECT_TRUE(untouched.machine->Computer().Machine().Trace().empty());
            EXPECT_EQ(untouched.Writes(0), 0);
        }
    }
    // The folder, named without its final separator, passes the path check and is refused
    // by the open.
    std::string folder = ::testing::TempDir();
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    const cli::CliRun run = rig.Run({"status", "--log", folder});
    EXPECT_EQ(run.exitCode, cli::ExitUsage);
    EXPECT_TRUE(Has(run.err, "not a regular file")) << run.err;
}

// health: every kind of log on every path, its exit code and what the JSON says; status
// carries the same health object and is not failed by it.
TEST(CliHealth, ExitCodesAndJsonForEachKindOnEachPath) {
    struct Case {
        demo::DemoHealth health;
        int exitCode;
        const char* errorCode;  // null: no error
        const char* inJson;     // a member the document carries
        const char* systemError = "\"systemError\": null";
    };
    const Case cases[] = {
        {demo::DemoHealth::Healthy, 0, nullptr, "\"summary\": \"Good \u00b7 38 \u00b0C \u00b7 3 % used\""},
        {demo::DemoHealth::Worn, 0, nullptr, "\"percentageUsed\": 112"},
        {demo::DemoHealth::Hot, 8, "health-critical", "\"warnings\": [\n"},
        {demo::DemoHealth::SpareLow, 8, "health-critical", "\"spare-below-threshold\""},
        {demo::DemoHealth::ReadOnly, 8, "health-critical", "\"read-only\""},
        // The read's own code: refused by the drive or its driver, or answered short.
        {demo::DemoHealth::Refused, 9, "health-unavailable", "\"health\": null", "\"systemError\": 1117,"},
        {demo::DemoHealth::Short, 9, "health-unavailable", "\"health\": null", "\"systemError\": 13,"},
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
                EXPECT_NE(health.out.find(c.systemError), std::string::npos) << health.out;
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
    // In the capacity's units (2^40 bytes a TB), with the exact count beside.
    EXPECT_NE(text.out.find("4.60 TB (9876543 units of 512,000 bytes)"), std::string::npos) << text.out;
}

TEST(CliHealth, DiskNamesAnyNvmeDriveAndNothingElse) {
    Rig rig({DemoDrive::OtherNvme, DemoDrive::OtherSata, DemoDrive::Vx310Inbox});
    EXPECT_EQ(rig.Run({"health", "--disk", "0"}).exitCode, 0);  // another maker's NVMe drive
    const cli::CliRun sata = rig.Run({"health", "--disk", "1", "--json"});
    EXPECT_EQ(sata.exitCode, cli::ExitNotSupported);
    EXPECT_NE(sata.out.find("\"not-supported\""), std::string::npos);
    EXPECT_EQ(rig.Run({"health", "--disk", "9"}).exitCode, cli::ExitNotSupported);
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
