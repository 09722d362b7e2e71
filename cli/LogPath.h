#pragma once
// Whether a --log path may be opened at all. The log is a file on disk, appended to; a
// path that names a device (a raw disk, a console, a serial port, NUL) or a folder is
// refused before anything is opened, with the reason. What the open then finds is checked
// by the opener too (a regular file), since a path alone cannot tell everything.

#include <optional>
#include <string>

namespace cli {

// Null when the path may be opened; otherwise why not, in words for a usage error. The
// path is UTF-8 and read as Windows reads it ('/' and '\' alike, names case-insensitive).
std::optional<std::string> LogPathRefusal(const std::string& path);

}  // namespace cli
