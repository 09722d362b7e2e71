#pragma once
// The seam to the shutdown: the process token, the shutdown privilege and the request to
// end the session. One call through per system call; the Windows binding
// (WinShutdownIo.cpp) calls ADVAPI32 and USER32, the simulated machine
// (sim/SimShutdown.h) records the request.

#include <cstdint>

#include "platform/DeviceIo.h"

namespace platform {

// Token access rights, privilege attributes and ExitWindowsEx flags the program uses.
enum : std::uint32_t { TokenAdjustPrivileges = 0x0020, TokenQuery = 0x0008 };
enum : std::uint32_t { PrivilegeEnabled = 0x00000002 };
enum : std::uint32_t { ExitShutdown = 0x00000001, ExitForce = 0x00000004, ExitPowerOff = 0x00000008 };
// Shutdown reason codes (SHTDN_REASON_*): what the event log records for the request.
enum : std::uint32_t {
    ReasonNone = 0,
    ReasonMajorApplication = 0x00040000,
    ReasonMinorMaintenance = 0x00000001,
    ReasonFlagPlanned = 0x80000000,
};
enum : std::uint32_t { ErrorNotAllAssigned = 1300 };

constexpr wchar_t ShutdownPrivilegeName[] = L"SeShutdownPrivilege";

// A locally unique identifier (LUID) of a privilege.
struct PrivilegeId {
    std::uint32_t lowPart = 0;
    std::int32_t highPart = 0;
};

class ShutdownIo {
public:
    virtual ~ShutdownIo() = default;

    // OpenProcessToken on the current process; *token is set on success.
    virtual bool OpenProcessToken(std::uint32_t access, Handle* token) = 0;
    // LookupPrivilegeValueW on the local system.
    virtual bool LookupPrivilege(const wchar_t* name, PrivilegeId* id) = 0;
    // AdjustTokenPrivileges with one privilege, not disabling all, no previous state.
    // Succeeds even when the privilege is not held: the last error then says 1300.
    virtual bool AdjustTokenPrivilege(Handle token, PrivilegeId id, std::uint32_t attributes) = 0;
    virtual bool CloseHandle(Handle handle) = 0;
    // ExitWindowsEx.
    virtual bool ExitSession(std::uint32_t flags, std::uint32_t reason) = 0;
    // The calling thread's last system error.
    virtual std::uint32_t LastError() = 0;
};

// The real system's (Windows build only).
ShutdownIo& SystemShutdownIo();

}  // namespace platform
