#include "cli/Cli.h"

#include <cstdio>

#include "cli/CliArgs.h"
#include "cli/CliBasics.h"
#include "cli/CliCommands.h"
#include "cli/CliReport.h"
#include "cli/HistoryCommand.h"
#include "cli/SelfTestCommand.h"
#include "discovery/DebugLog.h"

#ifndef ZEPHRA_VERSION
#define ZEPHRA_VERSION "0.0.0"
#endif

namespace cli {
const char* CliVersion() { return ZEPHRA_VERSION; }

const char* CliUsage() {
    return "usage: zephra-cli COMMAND [--json] [--log FILE]\n"
           "\n"
           "Finds and switches the Tavik VX310 Series SSD without a window.\n"
           "\n"
           "Commands:\n"
           "  list                 every physical drive examined: number, model, serial, firmware,\n"
           "                       transport, capacity, whether it is a supported drive, its state\n"
           "  status               the supported drive that Zephra's window shows, or none\n"
           "  health [--disk N]    the health log of the supported drive (or of disk N, any drive\n"
           "                       identified on an NVMe path): warnings, temperature, wear, spare,\n"
           "                       data read and written, power-on hours, errors\n"
           "  history [--disk N]   the health history that the health service keeps for the same drive:\n"
           "                       one line a sample (time, temperature, spare, wear, data, errors)\n"
           "  selftest short|extended [--disk N] [--wait]\n"
           "                       starts the drive's own self-test (short: about 2 minutes; extended:\n"
           "                       the time the drive states). --wait follows it to its end, reading\n"
           "                       its progress once a second: a bar on standard error when that is a\n"
           "                       console, a line per percentage otherwise\n"
           "  selftest abort [--disk N]\n"
           "                       stops the running self-test (one another tool started too)\n"
           "  selftest status [--disk N] [--wait]\n"
           "                       the running test and its progress, and the drive's last results\n"
           "                       (newest first); the exit code follows the newest result\n"
           "  optimize on|off --yes [--disk N] [--shutdown]\n"
           "                       turns the drive's optimize feature on or off. Without --yes it only\n"
           "                       says what it would do. --disk N (the number list shows) is needed\n"
           "                       when several supported drives are present. A drive already in the\n"
           "                       asked state is not written. The drive takes the setting at its next\n"
           "                       power-on after a shutdown (a restart may not be enough): without\n"
           "                       --shutdown that is left to you (exit 3010); with it the computer is\n"
           "                       shut down and powered off at once (exit 1641).\n"
           "\n"
           "Options:\n"
           "  --json               one JSON document on standard output (errors included)\n"
           "  --log FILE           append the drive enumeration's debug log and the errors to FILE,\n"
           "                       a regular file (never a device such as NUL, COM1 or \\\\.\\...)\n"
           "  --help, --version\n"
           "\n"
           "Sizes are in binary units, as Windows shows them: GB = 2^30 bytes, TB = 2^40 bytes.\n"
           "The JSON documents give exact byte counts.\n"
           "\n"
           "Exit codes:\n"
           "  0     success (also: the drive already is in the asked state; selftest: the test passed,\n"
           "        or was started or aborted as asked)\n"
           "  1     usage error (also a --log FILE that is refused or cannot be opened)\n"
           "  2     no supported drive on this computer, every disk examined (the only \"not applicable\")\n"
           "  3     optimize without --yes: nothing was done\n"
           "  4     several supported drives and no --disk\n"
           "  5     access denied: run as administrator\n"
           "  6     the drive's optimize state could not be read (Unknown): not switched\n"
           "  7     --disk N names no supported drive\n"
           "  8     health: a critical warning is set\n"
           "  9     health: the drive's health log could not be read (refused or incomplete; the\n"
           "        system's code in the JSON's systemError)\n"
           "  10    a system call failed: the listing, an open, identify or the vendor command; also\n"
           "        a disk that could not be opened when no supported drive was found\n"
           "        (the system's error code is in the message and in the JSON's systemError)\n"
           "  11    selftest: the drive's self-test failed (the message names the failing segment)\n"
           "  12    selftest: the self-test was aborted (by an abort, a reset or the drive itself)\n"
           "  13    selftest: the drive does not offer the device self-test\n"
           "  14    selftest: a self-test already runs, so none was started (or it ran far past its time)\n"
           "  15    optimize: the drive stayed busy with another Zephra program; nothing was written\n"
           "  16    history: the drive's history file cannot be read as one\n"
           "  1167  the drive changed between listing and writing; nothing was written\n"
           "  3010  switched; the drive takes the setting at its next power-on after a shutdown\n"
           "  1641  switched, and the shutdown was started (--shutdown)\n";
}

CliRun RunCli(const std::vector<std::string>& args, const CliSystem& system) {
    if (IsSelfTestCommand(args)) return RunSelfTest(args, system);
    if (auto history = RunHistoryCommand(args, system)) return *history;
    Request request;
    std::string error;
    if (!Parse(args, request, error)) {
        const bool json = request.json;
        request = Request{};
        request.json = json;
        Reply reply(request);
        CliRun run = reply.Fail(ExitUsage, "usage", std::nullopt, error);
        if (!json) run.err += "\n" + std::string(CliUsage());
        return run;
    }
    if (request.command == Command::Help || request.command == Command::Version) {
        Reply reply(request);
        if (request.command == Command::Help) {
            reply.Set("usage", Json::Utf8(CliUsage()));
            CliRun run = reply.Finish(ExitSuccess);
            if (!request.json) run.out = CliUsage();
            return run;
        }
        reply.Set("version", Json::Utf8(CliVersion()));
        reply.Say(std::string("zephra-cli ") + CliVersion());
        return reply.Finish(ExitSuccess);
    }

    CommandLog log;
    if (request.logPath) {
        if (const auto refusal = log.Open(*request.logPath, system)) {
            Reply reply(request);
            return reply.Fail(ExitUsage, "usage", std::nullopt, *refusal);
        }
    }
    switch (request.command) {
        case Command::List: return List(request, system);
        case Command::Status: return Status(request, system);
        case Command::Health: return Health(request, system);
        default: return Optimize(request, system);
    }
}

}  // namespace cli
