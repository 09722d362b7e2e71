// The command line's demo entry point: zephra-cli bound to the simulated machine, as
// zephra-demo binds the window program. The demo's machine options come first, then the
// command with its own options:
//
//   zephra-cli-demo [--drive KIND]... [--state S] [--fault NAME] [--before-write KIND]
//                   [--health KIND] [--selftest KIND] [--selftest-short S] [--selftest-extended S]
//                   [--selftest-running short|extended]
//                   [--trace FILE] [--state-file FILE] COMMAND [options]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/WinConsole.h"
#include "cli/WinProgress.h"
#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "demo/DemoShutdown.h"
#include "demo/TracedSystem.h"
#include "sim/SimShutdown.h"

namespace {

// The demo options that describe the machine; each takes a value.
const std::set<std::string> MachineOptions{"--drive",    "--state",          "--fault",
                                           "--before-write", "--health", "--selftest",
                                           "--selftest-short", "--selftest-extended", "--selftest-running",
                                           "--trace",
                                           "--state-file"};


}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::string> args = cli::Utf8Arguments(argc, argv);
    std::size_t split = 0;
    while (split + 1 < args.size() && MachineOptions.count(args[split])) split += 2;

    std::vector<const char*> demoArgv{"zephra-cli-demo"};
    for (std::size_t i = 0; i < split; ++i) demoArgv.push_back(args[i].c_str());
    const std::vector<std::string> command(args.begin() + static_cast<std::ptrdiff_t>(split), args.end());

    demo::DemoOptions options;
    std::string error;
    if (!demo::ParseDemoOptions(static_cast<int>(demoArgv.size()), demoArgv.data(), options, error)) {
        cli::CliRun usage;
        usage.exitCode = cli::ExitUsage;
        usage.err = "zephra-cli-demo: " + error + "\n\n" + demo::DemoCliUsage() + cli::CliUsage();
        return cli::Deliver(usage);
    }
    // The demo's own help beside the command line's; with --json, the command line's document.
    const bool json = std::find(command.begin(), command.end(), "--json") != command.end();
    if (!command.empty() && (command[0] == "--help" || command[0] == "-h") && !json) {
        cli::CliRun help;
        help.out = demo::DemoCliUsage() + cli::CliUsage();
        return cli::Deliver(help);
    }

    std::FILE* traceFile = nullptr;
    if (!options.traceFile.empty()) {
        traceFile = std::fopen(options.traceFile.c_str(), "w");
        if (!traceFile) {
            std::fprintf(stderr, "zephra-cli-demo: cannot write %s\n", options.traceFile.c_str());
            return cli::ExitUsage;
        }
    }
    if (!options.stateFile.empty() && !options.stateGiven) {
        if (const auto kept = demo::ReadStateFile(options.stateFile)) options.state = *kept;
    }

    int status = 0;
    {
        demo::DemoMachine machine(options);
        demo::TraceLog trace(traceFile);
        machine.SetMachineLock(trace.MachineLock());
        demo::TracedSystem traced(trace, machine.System(), machine.Watch());
        // The simulated session records the request; the command line itself ends the run.
        sim::SimShutdown session;
        demo::TracedShutdown shutdown(trace, session);
        // The history files and the drive locks are the host's (under Wine, the prefix's), so
        // that the demo's programs meet each other as the product's do.
        cli::CliSystem system{traced.Machine(), shutdown, cli::LoadProgramText, cli::OpenLogFile,
                              &platform::SystemFileStoreIo(), &platform::SystemDriveLockIo()};
        // The drive's time passes while the command waits, at once: the simulated test
        // runs its minutes in no time, and its progress still rises with each read.
        system.wait = [&machine](std::uint32_t ms) { machine.Computer().AdvanceTime(ms); };
        system.progress = cli::WriteProgress;
        system.progressIsConsole = cli::ProgressIsConsole();
        status = cli::Deliver(cli::RunCli(command, system));
        if (!options.stateFile.empty()) {
            if (const auto state = machine.Vx310State()) demo::WriteStateFile(options.stateFile, *state);
        }
    }
    if (traceFile) std::fclose(traceFile);
    return status;
}
