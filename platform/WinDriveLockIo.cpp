// Binds the drive lock seam to KERNEL32's mutexes, their rights made by ADVAPI32.
#include "platform/DriveLockIo.h"

#include <windows.h>

#include <sddl.h>

#include <string>

namespace platform {
namespace {

// Every right on the mutex for the system account (the service) and administrators (the
// elevated window and command line), whichever of them made it first.
constexpr wchar_t LockRights[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";

class WinDriveLockIo final : public DriveLockIo {
public:
    Handle CreateLock(std::wstring_view name) override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(LockRights, SDDL_REVISION_1, &descriptor, nullptr))
            return nullptr;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const HANDLE lock = ::CreateMutexW(&attributes, FALSE, std::wstring(name).c_str());
        const DWORD error = ::GetLastError();
        ::LocalFree(descriptor);
        ::SetLastError(error);
        return lock;
    }
    LockWait Wait(Handle lock, std::uint32_t milliseconds) override {
        switch (::WaitForSingleObject(lock, milliseconds)) {
            case WAIT_OBJECT_0: return LockWait::Acquired;
            case WAIT_ABANDONED: return LockWait::Abandoned;
            case WAIT_TIMEOUT: return LockWait::TimedOut;
            default: return LockWait::Failed;
        }
    }
    bool Release(Handle lock) override { return ::ReleaseMutex(lock) != FALSE; }
    bool Close(Handle lock) override { return ::CloseHandle(lock) != FALSE; }
    std::uint32_t LastError() override { return ::GetLastError(); }
};

}  // namespace

DriveLockIo& SystemDriveLockIo() {
    static WinDriveLockIo io;
    return io;
}

}  // namespace platform
