#include "cli/WinConsole.h"

#include <windows.h>


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
    return path.empty() ? nullptr : ::_wfopen(path.c_str(), L"w");
}

int Deliver(const CliRun& run) {
    std::fputs(run.out.c_str(), stdout);
    std::fputs(run.err.c_str(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    return run.exitCode;
}

}  // namespace cli
