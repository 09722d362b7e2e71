// The start mark: the program's first code creates the file that ZEPHRA_START_MARK names,
// so that tools/wine-start.sh can tell a start that Wine lost (no file: none of the
// program's code ran) from a program that ran and failed. Linked into the test and demo
// programs of the Windows build only; the shipped programs do not carry it.
#include <windows.h>

namespace {

// Also the text tools/wine-run.sh looks for in a program to know that it writes the mark.
constexpr char kStartMarkVariable[] = "ZEPHRA_START_MARK";

// Priority 101, the first one left to programs: before every other static constructor,
// so that a fault in one of those counts as the program's own failure.
__attribute__((constructor(101))) void WriteStartMark() {
    char path[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableA(kStartMarkVariable, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) return;
    // The mark is this process's: a program it starts in turn is no part of this start.
    ::SetEnvironmentVariableA(kStartMarkVariable, nullptr);
    const HANDLE file = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

}  // namespace
