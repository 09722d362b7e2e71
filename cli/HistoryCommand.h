#pragma once
// zephra-cli history [--disk N] [--json] [--log FILE]: the health history that the health
// service keeps for a drive the listing shows (the supported drive, or disk N when it
// identified on an NVMe path), read through the one history parser. It only reads: a file
// that does not parse is left for the service to keep aside.

#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace cli {

// The command's run when the first word of args that is no option is "history" (and no
// --help or --version is asked for); none otherwise.
std::optional<CliRun> RunHistoryCommand(const std::vector<std::string>& args, const CliSystem& system);

}  // namespace cli
