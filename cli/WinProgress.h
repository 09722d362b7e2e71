#pragma once
// What selftest --wait needs of Windows: a wait, and standard error written at once.

#include <cstdint>
#include <string>

namespace cli {

void WaitMilliseconds(std::uint32_t milliseconds);
// Writes ASCII text to standard error now, not at the end of the run.
void WriteProgress(const std::string& text);
// Whether standard error is a console (then a bar is redrawn in place).
bool ProgressIsConsole();

}  // namespace cli
