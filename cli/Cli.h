#pragma once
// The command line's whole behaviour, bound to a system by its entry point: the product's
// (cli/CliMain.cpp) binds the real one, the demo's the simulated machine. Commands:
//
//   list                                       every physical drive the pass examined
//   status                                     the supported drive the window would show
//   optimize on|off --yes [--disk N] [--shutdown]
//   health [--disk N]                          the drive's health log, every field
//   selftest short|extended|abort|status [--disk N] [--wait]   the drive's self-test (SelfTestCommand.h)
//   history [--disk N]                         the drive's health history (cli/HistoryCommand.h)
//
// with --json (one JSON document on standard output) and --log FILE (the enumeration's
// debug log) on each. The exit code says how it went (CliExit).
//
// Inside: CliArgs reads the arguments, CliReport says things (text or JSON), and each
// command has a file of its own (ListCommand.cpp, ...); RunCli dispatches.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/DriveLockIo.h"
#include "platform/FileStoreIo.h"
#include "platform/ShutdownIo.h"
#include "platform/System.h"

namespace cli {

// Exit codes, as deployment systems read them: every outcome has a code of its own, and
// every failed system call exits ExitSystemFailure (its code goes into the message and
// the JSON's systemError), so that no system code can pass for an outcome.
enum CliExit : int {
    ExitSuccess = 0,                // also: the drive already is in the asked state
    ExitUsage = 1,
    ExitNoSupportedDrive = 2,       // the only "not applicable"
    ExitConfirmationNeeded = 3,     // optimize without --yes: nothing done
    ExitSeveralDrives = 4,          // several supported drives and no --disk
    ExitAccessDenied = 5,           // not run as administrator
    ExitStateUnknown = 6,           // the drive's optimize state could not be read: not switched
    ExitNotSupported = 7,           // --disk N names no supported drive
    ExitHealthCritical = 8,         // health: a critical-warning bit of the drive is set
    ExitHealthUnavailable = 9,      // health: the drive's health log could not be read
    ExitSystemFailure = 10,         // the listing, an open, identify or the vendor command failed
    ExitSelfTestFailed = 11,        // selftest: the drive's test failed (the failing segment is named)
    ExitSelfTestAborted = 12,       // selftest: the test was aborted (a command, a reset, the drive)
    ExitSelfTestNotSupported = 13,  // selftest: the drive does not offer the device self-test
    ExitSelfTestRunning = 14,       // selftest: a test already runs, so none was started
    ExitDriveBusy = 15,             // another program kept the drive's lock for the whole wait; nothing written
    ExitHistoryUnparsable = 16,     // history: the drive's history file cannot be read as one
    ExitDriveChanged = 1167,        // another drive behind the path now; nothing written
    ExitShutdownStarted = 1641,     // ERROR_SUCCESS_REBOOT_INITIATED: switched, shutdown started
    ExitRestartRequired = 3010,     // ERROR_SUCCESS_REBOOT_REQUIRED: switched, power cycle pending
};

// The command line's shutdown (--shutdown): power off, forced as the window's is, with a
// planned reason so that the event log does not record an unexpected shutdown.
constexpr std::uint32_t CliShutdownFlags = platform::ExitPowerOff | platform::ExitForce;
constexpr std::uint32_t CliShutdownReason =
    platform::ReasonFlagPlanned | platform::ReasonMajorApplication | platform::ReasonMinorMaintenance;

// Version of the JSON documents' layout; raised only when a field changes meaning or goes.
constexpr int JsonSchemaVersion = 1;

struct CliSystem {
    platform::System machine;
    platform::ShutdownIo& shutdown;
    // A text of the program's string table (the state's words).
    std::function<std::wstring(unsigned id)> text;
    // Opens the --log file to append to it, never truncating it; null when it cannot be, or
    // when what was opened is not a regular file on disk (a device, a pipe, a folder).
    std::function<std::FILE*(const std::string& path)> openLog;
    // The files the program keeps (the health history); history fails without them.
    platform::FileStoreIo* files = nullptr;
    // The machine-wide drive locks the switch takes; none: the switch takes no lock.
    platform::DriveLockIo* locks = nullptr;
    // Waits this many milliseconds (selftest --wait between two reads of the drive's log).
    std::function<void(std::uint32_t milliseconds)> wait = {};
    // Writes to standard error at once (selftest --wait's progress); whether that is a console.
    std::function<void(const std::string& text)> progress = {};
    bool progressIsConsole = false;
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
