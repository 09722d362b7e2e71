// Binds the device seam to the real Windows calls.
#include "platform/DeviceIo.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {

class WinDeviceIo final : public DeviceIo {
public:
    Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share,
                std::uint32_t creation, std::uint32_t flags) override {
        const std::wstring terminated(path);
        return ::CreateFileW(terminated.c_str(), access, share, nullptr, creation, flags, nullptr);
    }
    bool Close(Handle handle) override { return ::CloseHandle(handle) != FALSE; }
    bool IoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) override {
        DWORD returned = 0;
        const BOOL ok = ::DeviceIoControl(handle, code, const_cast<void*>(in), inSize, out, outSize,
                                          &returned, nullptr);
        if (bytesReturned) *bytesReturned = returned;
        return ok != FALSE;
    }
    bool Read(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
        DWORD read = 0;
        const BOOL ok = ::ReadFile(handle, buffer, size, &read, nullptr);
        if (bytesRead) *bytesRead = read;
        return ok != FALSE;
    }
    std::uint32_t Seek(Handle handle, std::int32_t distance, std::uint32_t origin) override {
        return ::SetFilePointer(handle, distance, nullptr, origin);
    }
    std::uint32_t LastError() override { return ::GetLastError(); }
    void SetLastError(std::uint32_t error) override { ::SetLastError(error); }
    void DebugOutput(std::wstring_view text) override {
        // OutputDebugStringW may change the last error (it does with no debugger attached
        // under some systems); a retry line must not hide why the device call failed.
        const DWORD lastError = ::GetLastError();
        const std::wstring terminated(text);
        ::OutputDebugStringW(terminated.c_str());
        ::SetLastError(lastError);
    }
};

}  // namespace

DeviceIo& SystemDeviceIo() {
    static WinDeviceIo io;  // stateless: every call goes straight to the system
    return io;
}

}  // namespace platform
