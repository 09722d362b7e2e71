#pragma once
// The optimize switch without its window: ask, open the drive shown in the panel, make
// sure the path still leads to that drive, send it the new state, and on success request
// the forced shutdown so that the drive starts with the new setting. The work on the
// drive alone (SwitchDrive) also serves the command line, which asks no one and leaves
// the restart to its caller.

#include <cstdint>
#include <string>

#include "discovery/DiskInfo.h"
#include "platform/DeviceIo.h"
#include "platform/DriveLockIo.h"
#include "platform/ShutdownIo.h"

// What the switch asks of the person at the machine.
class SwitchUser {
public:
    virtual ~SwitchUser() = default;
    // The Yes/No confirmation; true only for Yes.
    virtual bool ConfirmSwitch() = 0;
    // One error box with this text; returns once it is closed.
    virtual void ShowSwitchError(const std::wstring& text) = 0;
};

enum class SwitchOutcome {
    NotConfirmed,       // nothing touched
    OpenFailed,         // the drive could not be opened
    NotTheSameDrive,    // the path leads to another drive now, or it did not identify
    CommandFailed,      // the drive refused the new state
    ShutdownRequested,  // switched; the shutdown request was accepted
    ShutdownRefused,    // switched; the program stays open without a word
    Switched,           // switched; no shutdown asked for (SwitchDrive)
    DriveBusy,          // another program held the drive's lock for the whole wait; nothing sent
};

struct SwitchResult {
    SwitchOutcome outcome = SwitchOutcome::NotConfirmed;
    std::uint8_t newState = 0;    // the value sent, or that would have been sent
    std::uint32_t errorCode = 0;  // shown in the error box
    // The drive table no longer matches the drives: refresh the panel now that the box is closed.
    bool refreshPanel = false;
    // NotTheSameDrive: the drive answered identify with other texts (not: it did not answer).
    bool otherDrive = false;
};

// The value a click sends: 2 (feature off) for a drive in state 0, 0 (feature on) otherwise.
std::uint8_t NewOptimizeState(std::uint8_t optimizeState);

// The error texts with the system error code in signed decimal.
std::wstring OpenDeviceErrorText(std::uint32_t errorCode);
// "Close Optimize error..." when newState is 2, "Open Optimize error..." otherwise.
std::wstring SwitchErrorText(std::uint8_t newState, std::uint32_t errorCode);
// The drive is busy with another Zephra program (the health service, the command line).
std::wstring DriveBusyText();

// Error code shown when the drive behind the path is not the drive in the record
// (ERROR_DEVICE_NOT_CONNECTED).
constexpr std::uint32_t ErrorDeviceNotConnected = 1167;

// The drive of the record gets newState: the first sector read, the open, the second
// identify and the one vendor write; the handle is closed before it returns. Switched, or
// OpenFailed / NotTheSameDrive / CommandFailed with the error code the window shows. With
// locks, all of it happens under the drive's machine-wide lock (DriveLock.h), waited for
// at most SwitchLockWaitMs: DriveBusy (ErrorDriveBusy) when another program kept it, and
// OpenFailed with the system's code when the lock could not be had.
SwitchResult SwitchDrive(const discovery::DiskInfo& drive, platform::DeviceIo& io, std::uint8_t newState,
                         platform::DriveLockIo* locks = nullptr);

// One click's work on the drive of the record. At most one open and one vendor command.
SwitchResult RunOptimizeSwitch(const discovery::DiskInfo& drive, platform::DeviceIo& io,
                               platform::ShutdownIo& shutdown, SwitchUser& user,
                               platform::DriveLockIo* locks = nullptr);

// Enables the shutdown privilege and requests a forced shutdown. Nonzero when the request
// was accepted; the program goes on running until the system ends it.
int ShutdownComputer(platform::ShutdownIo& io);

// The command line's shutdown: the same privilege, then ExitWindowsEx with these flags and
// reason (the window's request above is ExitShutdown | ExitForce with reason 0).
int ShutdownComputer(platform::ShutdownIo& io, std::uint32_t flags, std::uint32_t reason);
