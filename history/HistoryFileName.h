#pragma once
// The history file's name, from the drive's model and serial as identify gives them.

#include <cstddef>
#include <string>
#include <string_view>

namespace history {

// Longest name made, extension included: well inside a path limit of 260 under
// "C:\ProgramData\Zephra\History\".
constexpr std::size_t MaxFileNameBytes = 120;

// "<model>_<serial>.csv", made safe for every Windows file system: letters, digits, '-'
// and '.' are kept, any other byte (a space, a reserved character such as ':' '/' '\' '*'
// '?', a control or non-ASCII byte) becomes '_', runs of them one '_'; no leading or
// trailing '.' or '_'; a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) gets a
// leading '_'; too long a name is cut. When more than spaces changed, eight hex digits of a
// hash of the original model and serial follow, so that two drives whose texts differ only
// in what was replaced never share a file.
std::string HistoryFileName(std::string_view model, std::string_view serial);

}  // namespace history
