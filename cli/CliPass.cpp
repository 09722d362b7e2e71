#include "cli/CliCommands.h"

#include <algorithm>

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
    return reply.Fail(ExitNoSupportedDrive, "no-supported-drive", std::nullopt,
                      "No device detected: no supported drive (Tavik VX310 Series SSD) on this computer.");
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
