#pragma once
// zephra-cli selftest: the drive's own diagnostic (the NVMe device self-test).
//
//   selftest short|extended [--disk N] [--wait]   starts a test; --wait follows it to its end
//   selftest abort [--disk N]                     stops the running test
//   selftest status [--disk N] [--wait]           what runs now and the drive's last results
//
// with --json and --log FILE as on every command.

#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "discovery/DiskInfo.h"

namespace cli {

// Whether the command line names the selftest command (its first word).
bool IsSelfTestCommand(const std::vector<std::string>& args);
CliRun RunSelfTest(const std::vector<std::string>& args, const CliSystem& system);

// The newest result in the drive's self-test log, as health reports it: the JSON object
// (null when the drive has none or the log could not be read) and a line of text.
struct LastSelfTest {
    Json json = Json::Null();
    std::string line;
};
LastSelfTest ReadLastSelfTest(const CliSystem& system, const discovery::DiskInfo& drive);

}  // namespace cli
