#include "cli/LogPath.h"

#include <cstddef>
#include <string>

namespace cli {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) c = Upper(c);
    return text;
}

// "X:\name..." after the \\?\ prefix: a file on a drive letter. "X:" or "X:\" alone is the
// volume or its root, not a file.
bool IsDriveFilePath(const std::string& rest) {
    return rest.size() > 3 && IsLetter(rest[0]) && rest[1] == ':' && rest[2] == '\\';
}

// "UNC\server\share\name..." after the \\?\ prefix: a file on a share.
bool IsUncFilePath(const std::string& rest) {
    if (UpperAscii(rest.substr(0, 4)) != "UNC\\") return false;
    const std::size_t server = rest.find('\\', 4);
    if (server == std::string::npos || server == 4) return false;
    const std::size_t share = rest.find('\\', server + 1);
    return share != std::string::npos && share > server + 1 && share + 1 < rest.size();
}

// The names Windows keeps for devices in every folder (with any extension). COM and LPT
// take the digits 0 to 9 and the superscripts 1 to 3 (UTF-8).
bool IsDeviceName(const std::string& upper) {
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"})
        if (upper == name) return true;
    if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
    const std::string digit = upper.substr(3);
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
           digit == "\xC2\xB3";
}

}  // namespace

std::optional<std::string> LogPathRefusal(const std::string& path) {
    if (path.empty()) return std::string("the file name is empty");
    for (const char c : path)
        if (static_cast<unsigned char>(c) < 0x20) return std::string("the file name holds a control character");

    // The device namespace. Only "\\?\" written with backslashes passes a path through
    // as it is; with a slash anywhere in the prefix Windows reads it as "\\.\".
    if (IsSeparator(path[0]) && path.size() >= 2 && IsSeparator(path[1]) && path.size() >= 3 &&
        (path[2] == '.' || path[2] == '?') && (path.size() == 3 || IsSeparator(path[3]))) {
        if (!StartsWith(path, "\\\\?\\"))
            return std::string("it names a device (\\\\.\\), not a file");
        const std::string rest = path.substr(4);
        if (!IsDriveFilePath(rest) && !IsUncFilePath(rest))
            return std::string("it names a device or a volume: after \\\\?\\ only a file on a drive letter "
                               "(\\\\?\\C:\\...) or a share (\\\\?\\UNC\\...) is taken");
    } else if (StartsWith(path, "\\??\\") || StartsWith(path, "/?" "?/")) {
        // The system's own object namespace, passed through by CreateFile as it is.
        return std::string("it names an object of the system's namespace (\\??\\), not a file");
    }

    // The last component: after the last separator, or after "X:" in "X:name".
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (IsSeparator(path[i])) start = i + 1;
    if (start == 0 && path.size() >= 2 && IsLetter(path[0]) && path[1] == ':') start = 2;
    std::string last = path.substr(start);
    // Windows drops trailing dots and spaces from a name: "NUL. " is NUL, ".." a folder.
    while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
    if (last.empty()) return std::string("it names a folder, not a file");
    // A device name stays one with any extension or stream ("NUL.txt", "COM1:"), and with
    // spaces before them.
    std::string base = last.substr(0, last.find_first_of(".:"));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (IsDeviceName(UpperAscii(base))) return base + " is the name of a device, not a file";
    return std::nullopt;
}

}  // namespace cli
