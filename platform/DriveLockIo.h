#pragma once
// The seam to the machine-wide lock that keeps one conversation with a drive at a time
// across the window, the command line and the health service: a named mutex in the global
// namespace, reachable from every session. One call through per system call; the Windows
// binding (WinDriveLockIo.cpp) calls KERNEL32 and ADVAPI32, the simulated machine
// (sim/SimDriveLocks.h) keeps its own named locks shared by simulated processes.

#include <cstdint>
#include <string_view>

#include "platform/DeviceIo.h"

namespace platform {

// What a wait on the lock came to (WaitForSingleObject's WAIT_OBJECT_0, WAIT_ABANDONED,
// WAIT_TIMEOUT, WAIT_FAILED).
enum class LockWait { Acquired, Abandoned, TimedOut, Failed };

class DriveLockIo {
public:
    virtual ~DriveLockIo() = default;

    // CreateMutexW, not owned, with rights that let the system account and administrators
    // (the service, the elevated window and command line) open and take it; opens the one
    // that exists. Null on failure.
    virtual Handle CreateLock(std::wstring_view name) = 0;
    // WaitForSingleObject. Abandoned: its holder ended without releasing it; the caller
    // holds it now.
    virtual LockWait Wait(Handle lock, std::uint32_t milliseconds) = 0;
    // ReleaseMutex.
    virtual bool Release(Handle lock) = 0;
    virtual bool Close(Handle lock) = 0;
    virtual std::uint32_t LastError() = 0;
};

// The real system's (Windows build only).
DriveLockIo& SystemDriveLockIo();

}  // namespace platform
