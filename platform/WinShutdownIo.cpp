// Binds the shutdown seam to ADVAPI32 (token and privilege) and USER32 (ExitWindowsEx).
// ExitWindowsEx is looked up when a shutdown is asked for, from the system folder: a
// program that never shuts down (the command line without --shutdown) loads no user32.dll.
#include "platform/ShutdownIo.h"

#include <windows.h>

namespace platform {
namespace {

class WinShutdownIo final : public ShutdownIo {
public:
    bool OpenProcessToken(std::uint32_t access, Handle* token) override {
        HANDLE opened = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), access, &opened)) return false;
        *token = opened;
        return true;
    }
    bool LookupPrivilege(const wchar_t* name, PrivilegeId* id) override {
        LUID luid{};
        if (!::LookupPrivilegeValueW(nullptr, name, &luid)) return false;
        id->lowPart = luid.LowPart;
        id->highPart = luid.HighPart;
        return true;
    }
    bool AdjustTokenPrivilege(Handle token, PrivilegeId id, std::uint32_t attributes) override {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid.LowPart = id.lowPart;
        privileges.Privileges[0].Luid.HighPart = id.highPart;
        privileges.Privileges[0].Attributes = attributes;
        return ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
    }
    bool CloseHandle(Handle handle) override { return ::CloseHandle(handle) != FALSE; }
    bool ExitSession(std::uint32_t flags, std::uint32_t reason) override {
        using ExitWindowsExFunction = BOOL(WINAPI*)(UINT, DWORD);
        const HMODULE user32 = ::LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!user32) return false;
        const auto exitWindows =
            reinterpret_cast<ExitWindowsExFunction>(reinterpret_cast<void*>(::GetProcAddress(user32, "ExitWindowsEx")));
        return exitWindows && exitWindows(flags, reason) != FALSE;
    }
    std::uint32_t LastError() override { return ::GetLastError(); }
};

}  // namespace

ShutdownIo& SystemShutdownIo() {
    static WinShutdownIo io;
    return io;
}

}  // namespace platform
