#pragma once
// One conversation with a drive at a time, machine-wide: the window, the command line and
// the health service each hold the drive's lock around their commands to it. The switch
// waits a bounded time and then reports the drive busy; a poll does not wait, and skips the
// drive until its next poll. A lock whose holder ended without releasing it is taken over.

#include <cstdint>
#include <string>

#include "platform/DriveLockIo.h"

// "Global\Zephra.PhysicalDrive<N>": per disk number, so that a pass takes it before it
// knows which drive answers there.
std::wstring DriveLockName(std::int32_t disk);

// How long the window and the command line wait for a drive another program is talking
// to (a poll's commands take well under a second).
constexpr std::uint32_t SwitchLockWaitMs = 10000;

// ERROR_BUSY: the code a busy drive is reported with.
constexpr std::uint32_t ErrorDriveBusy = 170;

class DriveLock {
public:
    enum class State {
        Held,       // taken
        TakenOver,  // taken from a holder that ended holding it
        Busy,       // another holder kept it for the whole wait
        Failed,     // the lock could not be made or waited on: errorCode
        Unlocked,   // no lock to take (no seam given): the caller goes on alone
    };

    // Takes disk's lock, waiting at most waitMs; locks null gives Unlocked.
    static DriveLock Take(platform::DriveLockIo* locks, std::int32_t disk, std::uint32_t waitMs);

    DriveLock(DriveLock&& other) noexcept;
    DriveLock& operator=(DriveLock&&) = delete;
    DriveLock(const DriveLock&) = delete;
    DriveLock& operator=(const DriveLock&) = delete;
    ~DriveLock();

    State state() const { return state_; }
    // The caller may talk to the drive.
    bool MayProceed() const { return state_ == State::Held || state_ == State::TakenOver || state_ == State::Unlocked; }
    std::uint32_t errorCode() const { return errorCode_; }

private:
    DriveLock() = default;

    platform::DriveLockIo* locks_ = nullptr;
    platform::Handle handle_ = nullptr;
    bool held_ = false;
    State state_ = State::Unlocked;
    std::uint32_t errorCode_ = 0;
};
