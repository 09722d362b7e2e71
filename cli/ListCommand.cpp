#include "cli/CliCommands.h"

#include <algorithm>

#include "optimize/HealthWords.h"

namespace cli {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

CliRun List(const Request& request, const CliSystem& system) {
    Reply reply(request);
    discovery::PassScope scope;
    scope.everyDisk = true;
    scope.healthOfEveryDrive = true;
    const Pass pass = RunPass(system, scope);
    const std::vector<ExaminedDisk>& examined = pass.examined;

    Json drives = Json::Array();
    std::vector<std::vector<std::string>> rows{
        {"DISK", "MODEL", "SERIAL", "FIRMWARE", "TRANSPORT", "CAPACITY", "SUPPORTED", "STATE", "HEALTH"}};
    for (const ExaminedDisk& seen : examined) {
        const DriveFacts facts = FactsOf(seen, system);
        drives.Add(DriveJson(facts));
        const discovery::DiskInfo& d = *seen.record;
        const std::string dash = "-";
        auto text = [&](const char* value) { return facts.identified && *value ? Latin1ToUtf8(value) : dash; };
        std::string supported = facts.supported ? "yes" : "no";
        if (seen.verdict == DiskVerdict::NotOpened)
            supported = seen.openError ? "not opened (error " + std::to_string(seen.openError) + ")" : "not opened";
        rows.push_back({std::to_string(d.phyDriveIndex), text(d.modelNumber.data()), text(d.serialNumber.data()),
                        text(d.firmwareRev.data()), TransportNames(seen).second,
                        facts.identified ? facts.capacityText : dash, supported,
                        facts.supported ? std::to_string(d.optimizeState) + " " + facts.status : dash,
                        facts.identified ? Utf8(DescribeHealth(d.health).text) : dash});
    }
    reply.Set("drives", std::move(drives));
    reply.Set("disksNotOpened", DisksNotOpenedJson(examined));
    if (pass.listingError) return ListingFailed(reply, *pass.listingError);
    if (examined.empty()) {
        reply.Say("No physical drive found.");
    } else {
        const std::string table = Aligned(rows);
        reply.Say(table.substr(0, table.size() - 1));
    }
    // The list is incomplete without the drives that could not be opened: each row is
    // printed, and the run fails (access denied first, as it concerns every disk).
    if (AnyAccessDenied(examined))
        return reply.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
    for (const ExaminedDisk& seen : examined)
        if (seen.verdict == DiskVerdict::NotOpened) return OpenFailed(reply, seen, "the list is incomplete.");
    return reply.Finish(ExitSuccess);
}

}  // namespace cli
