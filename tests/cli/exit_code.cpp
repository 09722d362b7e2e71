// Starts a program with the rest of the command line, lets it use this console's
// standard streams, waits for it and writes its exit code, in decimal, to a file. Under
// Wine the code a Unix parent sees is cut to 8 bits; 3010, 1641 and 1167 are not.
//
//   exit_code.exe CODE-FILE PROGRAM.exe [ARGUMENT ...]
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The start mark is left to the started program, which inherits the variable: this
// launcher writes none of its own (see tools/wine-start.sh).
[[maybe_unused]] __attribute__((used)) constexpr char kStartMarkPassedOn[] = "ZEPHRA_START_MARK";

// One argument as the C runtime of the started program splits it again.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: exit_code CODE-FILE PROGRAM.exe [ARGUMENT ...]\n");
        return 2;
    }
    std::wstring commandLine;
    for (int i = 2; i < argc; ++i) commandLine += (i > 2 ? L" " : L"") + Quoted(argv[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // A start that failed (Wine's ERROR_INTERNAL_ERROR: the program ended before any of
    // its code ran) leaves the start mark unwritten, and tools/wine-start.sh starts this
    // launcher and the program again; a program that is not there fails each time alike.
    if (!::CreateProcessW(argv[2], &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "exit_code: cannot start the program (error %lu)\n", ::GetLastError());
        return 2;
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    std::FILE* file = ::_wfopen(argv[1], L"w");
    if (!file) return 2;
    std::fprintf(file, "%lu\n", code);
    std::fclose(file);
    return 0;
}
