#include "cli/CliCommands.h"

#include <algorithm>

#include "optimize/DriveWords.h"

namespace cli {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

namespace {

void Describe(Reply& reply, const DriveFacts& facts) {
    const discovery::DiskInfo& d = *facts.seen.record;
    reply.Say("Disk " + std::to_string(d.phyDriveIndex) + ": " + Latin1ToUtf8(d.modelNumber.data()));
    std::vector<std::vector<std::string>> rows{
        {"  Serial:", Latin1ToUtf8(d.serialNumber.data())},
        {"  Firmware:", Latin1ToUtf8(d.firmwareRev.data())},
        {"  Transport:", TransportNames(facts.seen).second},
        {"  Capacity:", facts.capacityText + " (" + std::to_string(facts.capacityBytes) + " bytes)"},
        {"  Status:", facts.status + " (" + std::to_string(d.optimizeState) + ")"},
    };
    const std::string lines = Aligned(rows);
    reply.Say(lines.substr(0, lines.size() - 1));
}

}  // namespace

CliRun Status(const Request& request, const CliSystem& system) {
    Reply reply(request);
    reply.Set("drive", Json::Null());
    const Pass pass = RunPass(system, {});  // the window's pass: up to the first supported drive
    reply.Set("disksNotOpened", DisksNotOpenedJson(pass.examined));
    if (pass.listingError) return ListingFailed(reply, *pass.listingError);
    const std::vector<ExaminedDisk>& examined = pass.examined;
    const auto shown = std::find_if(examined.begin(), examined.end(),
                                    [](const ExaminedDisk& seen) { return seen.verdict == DiskVerdict::Accepted; });
    if (shown == examined.end()) return NoSupportedDrive(reply, examined);
    const DriveFacts facts = FactsOf(*shown, system);
    reply.Set("drive", DriveJson(facts));
    Describe(reply, facts);
    return reply.Finish(ExitSuccess);
}

}  // namespace cli
