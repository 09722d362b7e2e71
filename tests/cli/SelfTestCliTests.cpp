// zephra-cli selftest on the demo's simulated machine: each way a test ends and its exit
// code, how often the drive is asked while --wait follows a test, the progress on standard
// error, a test already running, and the last result in health's document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "sim/SimNvmeController.h"
#include "sim/SimShutdown.h"

namespace {

using demo::DemoDrive;
using demo::DemoSelfTest;

const std::map<unsigned, std::wstring> kTexts{
    {139, L"Has been optimized"}, {140, L"Optimizable"}, {141, L"Unknown"}};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Rig {
    explicit Rig(std::vector<DemoDrive> drives, DemoSelfTest kind = DemoSelfTest::Passes, std::uint8_t running = 0,
                 std::uint32_t shortSeconds = 120) {
        demo::DemoOptions options;
        options.selfTestShortSeconds = shortSeconds;
        options.drives = std::move(drives);
        options.selfTest = kind;
        options.selfTestRunning = running;
        machine = std::make_unique<demo::DemoMachine>(options);
    }

    cli::CliRun Run(std::vector<std::string> args) {
        const platform::System system = machine->System();
        cli::CliSystem bound{system, shutdown, [](unsigned id) { return kTexts.at(id); },
                             [](const std::string& path) { return std::fopen(path.c_str(), "w"); }};
        bound.wait = [this](std::uint32_t ms) {
            ++waits;
            waitedMs += ms;
            if (onWait) onWait(waits);
            machine->Computer().AdvanceTime(ms);
        };
        bound.progress = [this](const std::string& text) { progress += text; };
        bound.progressIsConsole = console;
        return cli::RunCli(args, bound);
    }

    sim::SimNvmeController& Controller() { return *machine->Computer().Disk(0).controller; }
    int Sent(std::uint8_t opcode, std::optional<std::uint8_t> logId = std::nullopt) {
        int count = 0;
        for (const auto& command : Controller().History()) {
            if (static_cast<std::uint8_t>(command.command[0]) != opcode) continue;
            if (logId && static_cast<std::uint8_t>(command.command[10]) != *logId) continue;
            ++count;
        }
        return count;
    }

    std::unique_ptr<demo::DemoMachine> machine;
    sim::SimShutdown shutdown;
    int waits = 0;
    std::uint64_t waitedMs = 0;
    std::function<void(int)> onWait;
    std::string progress;
    bool console = false;
};

const DemoDrive kPaths[] = {DemoDrive::Vx310Inbox, DemoDrive::Vx310Miniport, DemoDrive::Vx310Usb, DemoDrive::Vx310Rst};

TEST(CliSelfTest, EachEndOfAWaitedTestHasItsExitCodeOnEachPath) {
    struct Case {
        DemoSelfTest kind;
        int exitCode;
        const char* errorCode;  // null: no error
        std::vector<const char*> inJson;
    };
    const Case cases[] = {
        {DemoSelfTest::Passes, 0, nullptr, {"\"verdict\": \"passed\"", "\"started\": true", "\"test\": \"short\""}},
        {DemoSelfTest::FailingSegment, 11, "selftest-failed",
         {"\"result\": \"failed-segment\"", "\"failedSegment\": 2", "failed in segment 2", "\"failingLba\": \""}},
        {DemoSelfTest::Aborted, 12, "selftest-aborted", {"\"result\": \"aborted-unknown\""}},
        {DemoSelfTest::Unsupported, 13, "selftest-not-supported", {"\"supported\": false"}},
        {DemoSelfTest::LogRefused, 10, "command-failed", {"\"systemError\": 1117"}},
    };
    for (const DemoDrive path : kPaths) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "path " << int(path) << " kind " << int(c.kind));
            Rig rig({DemoDrive::OtherSata, path}, c.kind, 0, 20);
            const cli::CliRun run = rig.Run({"selftest", "short", "--wait", "--json"});
            EXPECT_EQ(run.exitCode, c.exitCode) << run.out;
            for (const char* member : c.inJson) EXPECT_TRUE(Has(run.out, member)) << member << "\n" << run.out;
            if (c.errorCode) {
                EXPECT_TRUE(Has(run.out, std::string("\"code\": \"") + c.errorCode + "\"")) << run.out;
            } else {
                EXPECT_TRUE(Has(run.out, "\"error\": null")) << run.out;
            }
            // A drive that does not offer the test is never sent it; one whose log cannot be
            // read is not started, as it could not be followed.
            const bool sent = c.kind != DemoSelfTest::Unsupported && c.kind != DemoSelfTest::LogRefused;
            int tests = 0;  // the VX310 is the second disk
            for (const auto& command : rig.machine->Computer().Disk(1).controller->History())
                tests += static_cast<std::uint8_t>(command.command[0]) == sim::NvmeDeviceSelfTest;
            EXPECT_EQ(tests, sent ? 1 : 0);
        }
    }
}

// The test is followed with one log read per wait of a second, never faster, and the
// progress on standard error rises to the end.
TEST(CliSelfTest, WaitPollsOnceASecondWithOneLogReadEach) {
    for (const bool console : {false, true}) {
        Rig rig({DemoDrive::Vx310Inbox});
        rig.console = console;
        const cli::CliRun run = rig.Run({"selftest", "short", "--wait"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(rig.waitedMs, rig.waits * 1000ull);
        // 120 s of test: 120 waits; a read before the start, then one after each wait.
        EXPECT_EQ(rig.waits, 120);
        EXPECT_EQ(rig.Sent(sim::NvmeGetLogPage, sim::LogPageSelfTestId), rig.waits + 1);
        EXPECT_EQ(rig.Sent(sim::NvmeDeviceSelfTest), 1);
        EXPECT_TRUE(Has(run.out, "short test passed")) << run.out;
        if (console) {
            EXPECT_TRUE(Has(rig.progress, "\rshort self-test [###############               ]  50 %")) << rig.progress;
            EXPECT_EQ(rig.progress.back(), '\n');
        } else {
            // One line per percentage, rising: 0 % to 99 %, no line repeated.
            EXPECT_TRUE(Has(rig.progress, "short self-test: 1 %\nshort self-test: 2 %\n")) << rig.progress;
            EXPECT_TRUE(Has(rig.progress, "short self-test: 99 %\n"));
            EXPECT_FALSE(Has(rig.progress, "\r"));
            EXPECT_LE(std::count(rig.progress.begin(), rig.progress.end(), '\n'), 100);
        }
    }
    // With --json the document is the whole output.
    Rig json({DemoDrive::Vx310Inbox});
    const cli::CliRun run = json.Run({"selftest", "short", "--wait", "--json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(json.progress.empty() && run.err.empty()) << json.progress << run.err;
    EXPECT_TRUE(Has(run.out, "\"logReads\": 120")) << run.out;
}

// A test another program started before this one: shown, not started over, aborted.
TEST(CliSelfTest, AnotherProgramsTestIsShownAndAborted) {
    for (const DemoDrive path : kPaths) {
        SCOPED_TRACE(int(path));
        Rig rig({path}, DemoSelfTest::Passes, 2);
        EXPECT_EQ(rig.Run({"selftest", "short"}).exitCode, cli::ExitSelfTestRunning);
        const cli::CliRun status = rig.Run({"selftest", "status"});
        EXPECT_EQ(status.exitCode, 0);
        EXPECT_TRUE(Has(status.out, "an extended self-test is running (0 % done)")) << status.out;
        const cli::CliRun abort = rig.Run({"selftest", "abort", "--json"});
        EXPECT_EQ(abort.exitCode, 0) << abort.out;
        EXPECT_TRUE(Has(abort.out, "\"aborted\": true") && Has(abort.out, "\"result\": \"aborted-by-command\""))
            << abort.out;
        EXPECT_EQ(rig.Sent(sim::NvmeDeviceSelfTest), 1);  // the abort alone
    }
}

// A test started here is shown, followed and aborted; nothing starts over it.
TEST(CliSelfTest, ARunningTestIsShownFollowedAndAborted) {
    Rig rig({DemoDrive::Vx310Miniport});
    EXPECT_EQ(rig.Run({"selftest", "status"}).exitCode, 0);  // none ever
    const cli::CliRun started = rig.Run({"selftest", "extended"});
    EXPECT_EQ(started.exitCode, 0);
    EXPECT_EQ(rig.waits, 0);  // without --wait nothing waits
    rig.machine->Computer().AdvanceTime(60 * 1000);
    const cli::CliRun status = rig.Run({"selftest", "status", "--json"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(Has(status.out, "\"running\": {\n")) << status.out;
    EXPECT_TRUE(Has(status.out, "\"percent\": 10")) << status.out;
    EXPECT_TRUE(Has(status.out, "\"extendedTestMinutes\": 10")) << status.out;

    const cli::CliRun second = rig.Run({"selftest", "short", "--json"});
    EXPECT_EQ(second.exitCode, cli::ExitSelfTestRunning);
    EXPECT_TRUE(Has(second.out, "\"selftest-running\""));
    EXPECT_EQ(rig.Sent(sim::NvmeDeviceSelfTest), 1);

    EXPECT_EQ(rig.Run({"selftest", "abort"}).exitCode, 0);
    const cli::CliRun after = rig.Run({"selftest", "status"});
    EXPECT_EQ(after.exitCode, cli::ExitSelfTestAborted);
    EXPECT_TRUE(Has(after.err, "extended test aborted by an abort command")) << after.err;
    // Nothing left to abort: no command sent.
    EXPECT_EQ(rig.Run({"selftest", "abort"}).exitCode, 0);
    EXPECT_EQ(rig.Sent(sim::NvmeDeviceSelfTest), 2);

    // status --wait follows a running test to its end.
    EXPECT_EQ(rig.Run({"selftest", "short"}).exitCode, 0);
    EXPECT_EQ(rig.Run({"selftest", "status", "--wait"}).exitCode, 0);
    EXPECT_EQ(rig.waits, 120);
}

// A drive that goes away while its test is followed: the failure and its code, not a pass.
TEST(CliSelfTest, ADriveThatGoesAwayIsReportedWithItsCode) {
    Rig rig({DemoDrive::Vx310Inbox});
    rig.onWait = [&](int waits) {
        if (waits == 5) rig.machine->Computer().Machine().Detach(rig.machine->Computer().Disk(0).physicalPath);
    };
    const cli::CliRun run = rig.Run({"selftest", "short", "--wait", "--json"});
    EXPECT_EQ(run.exitCode, cli::ExitSystemFailure) << run.out;
    EXPECT_TRUE(Has(run.out, "\"code\": \"command-failed\"")) << run.out;
    EXPECT_FALSE(Has(run.out, "\"systemError\": null")) << run.out;
    EXPECT_FALSE(Has(run.out, "\"systemError\": 0,")) << run.out;
    EXPECT_EQ(rig.waits, 5);
}

// A drive whose test never ends is followed for three times the test's longest time and
// ten minutes more, then left running with its own code.
TEST(CliSelfTest, ATestThatNeverEndsIsLeft) {
    Rig rig({DemoDrive::Vx310Inbox}, DemoSelfTest::Passes, 0, 1000000);
    const cli::CliRun run = rig.Run({"selftest", "short", "--wait", "--json"});
    EXPECT_EQ(run.exitCode, cli::ExitSelfTestRunning) << run.out;
    EXPECT_EQ(rig.waits, (2 * 3 + 10) * 60);
    EXPECT_TRUE(Has(run.out, "\"running\": {\n")) << run.out;
}

TEST(CliSelfTest, HealthCarriesTheLastResult) {
    Rig rig({DemoDrive::Vx310Usb}, DemoSelfTest::FailingSegment);
    const cli::CliRun before = rig.Run({"health", "--json"});
    EXPECT_EQ(before.exitCode, 0);
    EXPECT_TRUE(Has(before.out, "\"lastSelfTest\": null")) << before.out;
    EXPECT_EQ(rig.Run({"selftest", "extended", "--wait"}).exitCode, cli::ExitSelfTestFailed);
    const cli::CliRun after = rig.Run({"health", "--json"});
    EXPECT_TRUE(Has(after.out, "\"lastSelfTest\": {\n")) << after.out;
    EXPECT_TRUE(Has(after.out, "\"test\": \"extended\"")) << after.out;
    EXPECT_TRUE(Has(after.out, "\"failedSegment\": 2")) << after.out;
    EXPECT_EQ(rig.Run({"selftest", "status"}).exitCode, cli::ExitSelfTestFailed);
    EXPECT_TRUE(Has(rig.Run({"health"}).out, "Last self-test:                   extended test failed in segment 2"));
}

TEST(CliSelfTest, UsageErrorsTouchNoDrive) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"selftest"}, {"selftest", "long"}, {"selftest", "abort", "--wait"},
          {"selftest", "short", "--yes"}, {"selftest", "short", "extended"}, {"selftest", "status", "--disk"}}) {
        Rig rig({DemoDrive::Vx310Inbox});
        const cli::CliRun run = rig.Run(args);
        EXPECT_EQ(run.exitCode, cli::ExitUsage) << args.back();
        EXPECT_TRUE(rig.Controller().History().empty()) << args.back();
    }
    Rig rig({DemoDrive::OtherSata, DemoDrive::Vx310Inbox});
    EXPECT_EQ(rig.Run({"selftest", "status", "--disk", "0"}).exitCode, cli::ExitNotSupported);
    EXPECT_EQ(rig.Run({"selftest", "status", "--disk", "7"}).exitCode, cli::ExitNotSupported);
    EXPECT_EQ(rig.Run({"selftest", "status", "--disk", "1"}).exitCode, 0);
    Rig none({DemoDrive::OtherSata});
    EXPECT_EQ(none.Run({"selftest", "short"}).exitCode, cli::ExitNoSupportedDrive);
    // Help still answers with the usage, which names the command and its exit codes.
    const cli::CliRun help = none.Run({"selftest", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Has(help.out, "selftest short|extended") && Has(help.out, "  13    selftest:")) << help.out;
}

}  // namespace
