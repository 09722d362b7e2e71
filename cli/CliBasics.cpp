#include "cli/CliBasics.h"

#include <cstdlib>
#include <limits>

#include "cli/LogPath.h"
#include "discovery/DebugLog.h"

namespace cli {

std::string Utf8(const std::wstring& wide) {
    std::string out;
    for (const wchar_t w : wide) {
        const auto c = static_cast<std::uint32_t>(w) & 0xFFFF;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Latin1ToUtf8(const char* text) {
    std::wstring wide;
    for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return Utf8(wide);
}

bool ParseDisk(const std::string& text, std::int32_t& disk) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max())) return false;
    disk = static_cast<std::int32_t>(value);
    return true;
}

CommandLog::~CommandLog() {
    if (!file_) return;
    discovery::SetDebugLogStream(nullptr);
    std::fclose(file_);
}

std::optional<std::string> CommandLog::Open(const std::string& path, const CliSystem& system) {
    // The caller's file name is the fault; the drives are not touched.
    if (const auto refusal = LogPathRefusal(path))
        return "--log " + path + ": " + *refusal + "; the log is a file, appended to.";
    std::FILE* file = system.openLog ? system.openLog(path) : nullptr;
    if (!file)
        return "cannot write the log file " + path +
               ": it cannot be opened for appending, or it is not a regular file.";
    if (file_) {
        discovery::SetDebugLogStream(nullptr);
        std::fclose(file_);
    }
    file_ = file;
    discovery::SetDebugLogStream(file_);
    return std::nullopt;
}

}  // namespace cli
