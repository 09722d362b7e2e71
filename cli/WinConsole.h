#pragma once
// What a console entry point of the command line needs of Windows beyond the seams: its
// arguments in UTF-8, the string table, the log file, and the two output streams.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace cli {

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv);
std::wstring LoadProgramText(unsigned id);
std::FILE* OpenLogFile(const std::string& utf8Path);
// Writes the run's output and returns its exit code.
int Deliver(const CliRun& run);

}  // namespace cli
