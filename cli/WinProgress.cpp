#include "cli/WinProgress.h"

#include <windows.h>

namespace cli {

void WaitMilliseconds(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void WriteProgress(const std::string& text) {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD written = 0;
    ::WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool ProgressIsConsole() {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return err != nullptr && err != INVALID_HANDLE_VALUE && ::GetFileType(err) == FILE_TYPE_CHAR &&
           ::GetConsoleMode(err, &mode) != 0;
}

}  // namespace cli
