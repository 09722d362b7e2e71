#pragma once
// The commands, each in a file of its own, and what they share: the pass over the drives
// and the failures every command reports alike.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/CliArgs.h"
#include "cli/CliReport.h"
#include "discovery/Enumerate.h"

namespace cli {

constexpr char NeedsAdministrator[] =
    "zephra-cli needs administrator rights: run it from an elevated command prompt or as the system account.";
constexpr std::uint32_t ErrorAccessDenied = 5;

// The pass of a command; a listing that could not be made is a failure of its own, never
// a machine without drives.
struct Pass {
    std::vector<discovery::ExaminedDisk> examined;
    std::optional<std::uint32_t> listingError;
};

Pass RunPass(const CliSystem& system, discovery::PassScope scope);
CliRun ListingFailed(Reply& reply, std::uint32_t code);
bool AnyAccessDenied(const std::vector<discovery::ExaminedDisk>& examined);
// No supported drive among those examined: 5 when a disk refused the caller, 10
// (open-failed) when a disk could not be opened for another reason (it might be the
// drive), and only otherwise 2.
CliRun NoSupportedDrive(Reply& reply, const std::vector<discovery::ExaminedDisk>& examined);
// A disk whose open failed: 5 for access denied, else 10 (open-failed) with its number and
// the system's code; consequence ends the message.
CliRun OpenFailed(Reply& reply, const discovery::ExaminedDisk& seen, const std::string& consequence);
// The disks that could not be opened, and so not examined, as the documents'
// "disksNotOpened": [{"disk", "systemError"}] (empty when every disk opened).
Json DisksNotOpenedJson(const std::vector<discovery::ExaminedDisk>& examined);

CliRun List(const Request& request, const CliSystem& system);
CliRun Status(const Request& request, const CliSystem& system);
CliRun Optimize(const Request& request, const CliSystem& system);
CliRun Health(const Request& request, const CliSystem& system);

}  // namespace cli
