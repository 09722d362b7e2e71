#pragma once
// What every command of the command line shares, whatever its own arguments and report:
// the words of a drive in UTF-8, the --disk number, and the --log file for one command.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/Cli.h"

namespace cli {

// UTF-16 text (the program's own words) as UTF-8.
std::string Utf8(const std::wstring& wide);
// An identify text (8-bit, ASCII by rule) for the terminal: other bytes as Latin-1.
std::string Latin1ToUtf8(const char* text);

// The drive number of --disk N: digits only, within a signed 32-bit number.
bool ParseDisk(const std::string& text, std::int32_t& disk);

// The debug log goes to this file for the length of one command, and the file is closed
// when the command ends.
class CommandLog {
public:
    CommandLog() = default;
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;
    ~CommandLog();
    // Opens path, a regular file appended to, never a device or a folder. Null when the
    // log runs; otherwise why it cannot, in words for the usage error.
    std::optional<std::string> Open(const std::string& path, const CliSystem& system);

private:
    std::FILE* file_ = nullptr;
};

}  // namespace cli
