#pragma once
// The command line's whole behaviour, bound to a system by its entry point: the product's
// (cli/CliMain.cpp) binds the real one, the demo's the simulated machine. Commands:
//
//   list                                       every physical drive the pass examined
//   status                                     the supported drive the window would show
//   optimize on|off --yes [--disk N] [--restart]
//   health [--disk N]                          the drive's health log, every field
//
// with --json (one JSON document on standard output) and --log FILE (the enumeration's
// debug log) on each. The exit code says how it went (CliExit).

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/ShutdownIo.h"
#include "platform/System.h"

namespace cli {

// Exit codes, as deployment systems read them; any other value is the system error code
// of a failed open or vendor command.
enum CliExit : int {
    ExitSuccess = 0,
    ExitUsage = 1,
    ExitNoSupportedDrive = 2,
    ExitAccessDenied = 5,          // ERROR_ACCESS_DENIED: not run as administrator
    ExitHealthCritical = 8,        // health: a critical-warning bit of the drive is set
    ExitDriveChanged = 1167,       // ERROR_DEVICE_NOT_CONNECTED: another drive behind the path now
    ExitRestartStarted = 1641,     // ERROR_SUCCESS_REBOOT_INITIATED
    ExitRestartRequired = 3010,    // ERROR_SUCCESS_REBOOT_REQUIRED
};

// Version of the JSON documents' layout; raised only when a field changes meaning or goes.
constexpr int JsonSchemaVersion = 1;

struct CliSystem {
    platform::System machine;
    platform::ShutdownIo& shutdown;
    // A text of the program's string table (the state's words).
    std::function<std::wstring(unsigned id)> text;
    // Opens the --log file for writing; null when it cannot be.
    std::function<std::FILE*(const std::string& path)> openLog;
};

struct CliRun {
    int exitCode = ExitSuccess;
    std::string out;  // standard output
    std::string err;  // standard error
};

// args without the program name, UTF-8.
CliRun RunCli(const std::vector<std::string>& args, const CliSystem& system);

const char* CliUsage();

// Version of the program, as the build names it.
const char* CliVersion();

}  // namespace cli
