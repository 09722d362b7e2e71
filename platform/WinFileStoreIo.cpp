// Binds the file store seam to KERNEL32, and to ADVAPI32 for the folder's rights.
#include "platform/FileStoreIo.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>

namespace platform {
namespace {

// Owns a HANDLE from CreateFileW.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (Usable()) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(handle_);
            ::SetLastError(error);  // the caller reports the failure, not the close
        }
    }
    bool Usable() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// A security descriptor made from SDDL, freed with LocalFree.
class Descriptor {
public:
    explicit Descriptor(const wchar_t* sddl) {
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_, nullptr);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (descriptor_) ::LocalFree(descriptor_);
    }
    PSECURITY_DESCRIPTOR Get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Protected from the parent's rights: full control for the system account and
// administrators, read for users; inherited by files and folders made inside.
constexpr wchar_t HistoryFolderRights[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";

std::wstring Path(std::wstring_view path) { return std::wstring(path); }

class WinFileStoreIo final : public FileStoreIo {
public:
    std::wstring ProgramDataFolder() override {
        // The environment's value, not the shell's known-folder call: shell32.dll is a large
        // load for a console program. A service's environment is the system's own.
        wchar_t buffer[MAX_PATH];
        const DWORD length = ::GetEnvironmentVariableW(L"ProgramData", buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return {};
        return std::wstring(buffer, length);
    }
    bool CreateFolder(std::wstring_view path) override {
        const Descriptor rights(HistoryFolderRights);
        if (!rights.Get()) return false;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, rights.Get(), FALSE};
        if (::CreateDirectoryW(Path(path).c_str(), &attributes)) return true;
        return ::GetLastError() == ERROR_ALREADY_EXISTS;
    }
    bool ReadWhole(std::wstring_view path, std::uint64_t limit, std::uint64_t* size, std::string* bytes) override {
        const FileHandle file(::CreateFileW(Path(path).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Usable()) return false;
        LARGE_INTEGER length{};
        if (!::GetFileSizeEx(file.Get(), &length)) return false;
        *size = static_cast<std::uint64_t>(length.QuadPart);
        bytes->clear();
        if (*size > limit) return true;
        bytes->resize(static_cast<std::size_t>(*size));
        std::size_t at = 0;
        while (at < bytes->size()) {
            DWORD read = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes->size() - at, 1u << 20));
            if (!::ReadFile(file.Get(), &(*bytes)[at], chunk, &read, nullptr)) return false;
            if (read == 0) break;  // shorter than its size said: what is there
            at += read;
        }
        bytes->resize(at);
        return true;
    }
    bool AppendDurably(std::wstring_view path, std::string_view bytes) override {
        const FileHandle file(::CreateFileW(Path(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH,
                                            nullptr));
        if (!file.Usable()) return false;
        std::size_t at = 0;
        while (at < bytes.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
            if (!::WriteFile(file.Get(), bytes.data() + at, chunk, &written, nullptr)) return false;
            if (written == 0) {
                ::SetLastError(ERROR_WRITE_FAULT);
                return false;
            }
            at += written;
        }
        return ::FlushFileBuffers(file.Get()) != FALSE;
    }
    bool Truncate(std::wstring_view path, std::uint64_t size) override {
        const FileHandle file(::CreateFileW(Path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        if (!file.Usable()) return false;
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) return false;
        if (!::SetEndOfFile(file.Get())) return false;
        return ::FlushFileBuffers(file.Get()) != FALSE;
    }
    bool Rename(std::wstring_view from, std::wstring_view to) override {
        return ::MoveFileExW(Path(from).c_str(), Path(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    std::uint32_t LastError() override { return ::GetLastError(); }
};

}  // namespace

FileStoreIo& SystemFileStoreIo() {
    static WinFileStoreIo io;
    return io;
}

}  // namespace platform
