#include "cli/CliCommands.h"

#include <algorithm>

#include "optimize/SwitchFlow.h"

namespace cli {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

bool AnyAccessDenied(const std::vector<ExaminedDisk>& examined) {
    return std::any_of(examined.begin(), examined.end(), [](const ExaminedDisk& seen) {
        return seen.verdict == DiskVerdict::NotOpened && seen.openError == ErrorAccessDenied;
    });
}

CliRun NoSupportedDrive(Reply& reply, const std::vector<ExaminedDisk>& examined) {
    if (AnyAccessDenied(examined))
        return reply.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
    // A disk that could not be opened may be the drive: that is a failure, never "no drive".
    const auto unopened = std::find_if(examined.begin(), examined.end(), [](const ExaminedDisk& seen) {
        return seen.verdict == DiskVerdict::NotOpened;
    });
    if (unopened != examined.end())
        return OpenFailed(reply, *unopened, "no supported drive was found on the disks that could be examined.");
    return reply.Fail(ExitNoSupportedDrive, "no-supported-drive", std::nullopt,
                      "No device detected: no supported drive (Tavik VX310 Series SSD) on this computer.");
}

CliRun OpenFailed(Reply& reply, const ExaminedDisk& seen, const std::string& consequence) {
    if (seen.openError == ErrorAccessDenied)
        return reply.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
    return reply.FailSystem("open-failed", seen.openError,
                            "disk " + std::to_string(seen.record->phyDriveIndex) + " could not be opened (" +
                                Utf8(OpenDeviceErrorText(seen.openError)) + "); " + consequence);
}

Json DisksNotOpenedJson(const std::vector<ExaminedDisk>& examined) {
    Json disks = Json::Array();
    for (const ExaminedDisk& seen : examined) {
        if (seen.verdict != DiskVerdict::NotOpened) continue;
        Json disk = Json::Object();
        disk.Set("disk", Json::Number(seen.record->phyDriveIndex));
        disk.Set("systemError", Json::Unsigned(seen.openError));
        disks.Add(std::move(disk));
    }
    return disks;
}

Pass RunPass(const CliSystem& system, discovery::PassScope scope) {
    Pass pass;
    scope.askWhyNotOpened = true;
    pass.examined = discovery::ExamineDrives(system.machine, scope, &pass.listingError);
    return pass;
}

CliRun ListingFailed(Reply& reply, std::uint32_t code) {
    return reply.FailSystem("listing-failed", code,
                            "the computer's drives could not be listed, error code " +
                                std::to_string(static_cast<std::int32_t>(code)) + ".");
}

}  // namespace cli
