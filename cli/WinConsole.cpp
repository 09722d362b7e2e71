#include "cli/WinConsole.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>

namespace cli {
namespace {

std::string ToUtf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size) - 1);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
    out.resize(static_cast<std::size_t>(size) - 1);
    return out;
}

// Writes one stream's whole text at once. The C library writes to a character device such
// as NUL one byte per call, which under Wine cost about 30 us a byte. A console gets the text
// as UTF-16, so that the degree sign and the like show whatever its code page; anything
// else gets UTF-8 with CRLF line ends, as the C library's text mode wrote it.
void WriteStream(DWORD which, const std::string& text) {
    if (text.empty()) return;
    const HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = FromUtf8(text);
        DWORD written = 0;
        for (std::size_t at = 0; at < wide.size(); at += written) {
            // Old consoles refuse one call of much more than 32 KiB.
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
            if (!::WriteConsoleW(handle, wide.data() + at, chunk, &written, nullptr) || written == 0) return;
        }
        return;
    }
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) bytes += '\r';
        bytes += text[i];
    }
    DWORD written = 0;
    for (std::size_t at = 0; at < bytes.size(); at += written) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
        if (!::WriteFile(handle, bytes.data() + at, chunk, &written, nullptr) || written == 0) return;
    }
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(ToUtf8(argv[i]));
    return args;
}

// The string table read as resource data (kernel32 only): LoadStringW would bring user32
// into the process, and loading it was most of a run's start-up cost. Block n of the table
// holds ids 16 * (n - 1) to 16 * n - 1 as 16 counted UTF-16 strings.
std::wstring LoadProgramText(unsigned id) {
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), MAKEINTRESOURCEW(6));  // RT_STRING
    if (!found) return {};
    const HGLOBAL loaded = ::LoadResource(module, found);
    const auto* data = static_cast<const wchar_t*>(loaded ? ::LockResource(loaded) : nullptr);
    if (!data) return {};
    const DWORD size = ::SizeofResource(module, found) / sizeof(wchar_t);
    DWORD at = 0;
    for (unsigned index = 0; at < size; ++index) {
        const DWORD length = data[at++];
        if (length > size - at) return {};
        if (index == id % 16) return std::wstring(data + at, length);
        at += length;
    }
    return {};
}

std::FILE* OpenLogFile(const std::string& utf8Path) {
    const std::wstring path = FromUtf8(utf8Path);
    if (path.empty()) return nullptr;
    // Append access alone: every write lands at the end, and nothing the file held is lost.
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // Whatever the path said, what was opened must be a file on disk: a console, a serial
    // port, a pipe, a disk or a volume (a link may lead to one) is closed unwritten.
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
                         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    const int descriptor =
        regular ? ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_APPEND) : -1;
    if (descriptor == -1) {
        ::CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(descriptor, "a");
    if (!stream) ::_close(descriptor);  // closes the handle too
    return stream;
}

int Deliver(const CliRun& run) {
    // Anything the C library still holds goes first, to keep the order.
    std::fflush(stdout);
    std::fflush(stderr);
    WriteStream(STD_OUTPUT_HANDLE, run.out);
    WriteStream(STD_ERROR_HANDLE, run.err);
    return run.exitCode;
}

}  // namespace cli
