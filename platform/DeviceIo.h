#pragma once
// The narrow seam through which the program reaches the system's files and devices.
// The Windows build binds it to the real calls (WinDeviceIo.cpp); tests and the demo
// bind it to the simulated machine in sim/. Nothing above this seam includes
// <windows.h>, so the device layer also builds and runs natively.
//
// Other parts of the system (device-installation lists, volumes, shutdown) get seams
// of their own beside this one, in the same shape: one abstract class per area,
// one Windows binding, one simulated binding.

#include <cstdint>
#include <string_view>
#include <utility>

namespace platform {

// A handle as the system hands it out (a Windows HANDLE).
using Handle = void*;

inline Handle InvalidHandle() { return reinterpret_cast<Handle>(~std::uintptr_t{0}); }
inline bool IsUsable(Handle h) { return h != nullptr && h != InvalidHandle(); }

// CreateFileW values the program passes.
enum Access : std::uint32_t { AccessNone = 0, AccessWrite = 0x40000000, AccessRead = 0x80000000 };
enum Share : std::uint32_t { ShareNone = 0, ShareRead = 1, ShareWrite = 2 };
enum Creation : std::uint32_t { OpenExisting = 3 };
enum Attributes : std::uint32_t { AttributesNone = 0, AttributeNormal = 0x80 };
enum SeekOrigin : std::uint32_t { SeekBegin = 0 };

// Files and devices: CreateFileW, CloseHandle, DeviceIoControl, ReadFile,
// SetFilePointer, GetLastError, SetLastError and OutputDebugStringW, each one call through.
class DeviceIo {
public:
    virtual ~DeviceIo() = default;

    virtual Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share,
                        std::uint32_t creation, std::uint32_t flagsAndAttributes) = 0;
    virtual bool Close(Handle handle) = 0;
    // in and out may be the same buffer, as the system allows.
    virtual bool IoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) = 0;
    virtual bool Read(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) = 0;
    // Returns the new position's low 32 bits, or 0xFFFFFFFF on failure.
    virtual std::uint32_t Seek(Handle handle, std::int32_t distance, std::uint32_t origin) = 0;
    // The calling thread's last system error: what the last failing call left.
    virtual std::uint32_t LastError() = 0;
    // Only for a reply that the call delivered but that falls short of what the request
    // needs, or that says the device refused the command: the call succeeded, so nothing
    // else would say why the operation failed.
    virtual void SetLastError(std::uint32_t error) = 0;
    virtual void DebugOutput(std::wstring_view text) = 0;
};

// An open device on a system: what every device-command operation takes.
struct Device {
    DeviceIo* io = nullptr;
    Handle handle = nullptr;

    bool IsUsable() const { return io != nullptr && platform::IsUsable(handle); }
};

// Owns a handle opened through a DeviceIo and closes it once.
class UniqueHandle {
public:
    UniqueHandle() = default;
    UniqueHandle(DeviceIo& io, Handle handle) : io_(&io), handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : io_(other.io_), handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            io_ = other.io_;
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    static UniqueHandle Open(DeviceIo& io, std::wstring_view path, std::uint32_t access,
                             std::uint32_t share, std::uint32_t creation, std::uint32_t flags) {
        return UniqueHandle(io, io.Open(path, access, share, creation, flags));
    }

    bool IsUsable() const { return io_ != nullptr && platform::IsUsable(handle_); }
    Handle Get() const { return handle_; }
    Device Ref() const { return Device{io_, handle_}; }
    void Reset() {
        if (IsUsable()) io_->Close(handle_);
        handle_ = nullptr;
    }

private:
    DeviceIo* io_ = nullptr;
    Handle handle_ = nullptr;
};

// The real system's files and devices (Windows build only).
DeviceIo& SystemDeviceIo();

}  // namespace platform
