#include "cli/CliCommands.h"

#include <algorithm>

#include "devicecmd/PrivateCmd.h"
#include "optimize/SwitchFlow.h"

namespace cli {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

CliRun Optimize(const Request& request, const CliSystem& system) {
    Reply reply(request);
    const std::uint8_t wanted =
        *request.turnOn ? devicecmd::OptimizeStateOptimized : devicecmd::OptimizeStateOptimizable;
    const std::string onOff = *request.turnOn ? "on" : "off";
    // Every field in every document, null until known.
    reply.Set("requested", Json::Utf8(onOff));
    reply.Set("drive", Json::Null());
    reply.Set("written", Json::Bool(false));
    reply.Set("newState", Json::Null());
    reply.Set("restart", Json::Null());
    reply.Set("disksNotOpened", Json::Null());
    if (!request.yes) {
        const std::string which =
            request.disk ? "disk " + std::to_string(*request.disk) : std::string("the supported drive");
        return reply.Fail(ExitConfirmationNeeded, "confirmation-needed", std::nullopt,
                          "optimize " + onOff + " would send " + which + " the vendor command that turns its optimize "
                          "feature " + onOff + "; the drive takes it at its next power-on after a shutdown. Nothing "
                          "was done: add --yes to do it.");
    }

    // The listing of list, so that what optimize sends is list's and then the switch.
    discovery::PassScope scope;
    scope.everyDisk = true;
    scope.healthOfEveryDrive = true;
    const Pass pass = RunPass(system, scope);
    reply.Set("disksNotOpened", DisksNotOpenedJson(pass.examined));
    // A drive missing from an incomplete listing might be the one asked for: nothing is sent.
    if (pass.listingError) return ListingFailed(reply, *pass.listingError);
    const std::vector<ExaminedDisk>& examined = pass.examined;
    std::vector<const ExaminedDisk*> supported;
    for (const ExaminedDisk& seen : examined)
        if (seen.verdict == DiskVerdict::Accepted) supported.push_back(&seen);

    const ExaminedDisk* target = nullptr;
    if (request.disk) {
        const auto named = std::find_if(examined.begin(), examined.end(), [&](const ExaminedDisk& seen) {
            return seen.record->phyDriveIndex == *request.disk;
        });
        if (named != examined.end() && named->verdict == DiskVerdict::Accepted) {
            target = &*named;
        } else {
            if (named != examined.end()) reply.Set("drive", DriveJson(FactsOf(*named, system)));
            if (named != examined.end() && named->verdict == DiskVerdict::NotOpened)
                return OpenFailed(reply, *named, "nothing was written.");
            return reply.Fail(ExitNotSupported, "not-supported", std::nullopt,
                              "disk " + std::to_string(*request.disk) +
                                  " is not a supported drive (Tavik VX310 Series SSD); see zephra-cli list.");
        }
    } else if (supported.size() == 1) {
        target = supported[0];
    } else if (supported.empty()) {
        return NoSupportedDrive(reply, examined);
    } else {
        std::string numbers;
        for (const ExaminedDisk* seen : supported)
            numbers += (numbers.empty() ? "" : ", ") + std::to_string(seen->record->phyDriveIndex);
        return reply.Fail(ExitSeveralDrives, "several-supported-drives", std::nullopt,
                          "several supported drives (disks " + numbers + "): choose one with --disk N.");
    }

    const discovery::DiskInfo& drive = *target->record;
    const DriveFacts facts = FactsOf(*target, system);
    reply.Set("drive", DriveJson(facts));
    const std::string name = DriveLine(facts);
    if (drive.optimizeState == wanted) {
        reply.Say(name + " is already " + (*request.turnOn ? "optimized" : "not optimized") + " (" + facts.status +
                  "): nothing was written.");
        return reply.Finish(ExitSuccess);
    }
    if (drive.optimizeState != devicecmd::OptimizeStateOptimized &&
        drive.optimizeState != devicecmd::OptimizeStateOptimizable) {
        return reply.Fail(ExitStateUnknown, "state-unknown", std::nullopt,
                          name + ": its optimize state could not be read (" + facts.status +
                              "), so it is not switched.");
    }

    const SwitchResult result = SwitchDrive(drive, system.machine.io, wanted, system.locks);
    const std::uint32_t code = result.errorCode;
    switch (result.outcome) {
        case SwitchOutcome::Switched:
            break;
        case SwitchOutcome::OpenFailed:
            if (code == ErrorAccessDenied)
                return reply.Fail(ExitAccessDenied, "access-denied", code, NeedsAdministrator);
            return reply.FailSystem("open-failed", code,
                                    name + ": " + Utf8(OpenDeviceErrorText(code)) + "; nothing was written.");
        case SwitchOutcome::NotTheSameDrive:
            // Only a drive that answered with other texts has changed; one that did not
            // answer failed (whatever code it left).
            if (result.otherDrive)
                return reply.Fail(ExitDriveChanged, "drive-changed", code,
                                  Utf8(OpenDeviceErrorText(code)) + ": the drive behind " + name +
                                      " is not the listed one any more; nothing was written.");
            return reply.FailSystem("identify-failed", code,
                                    name + " did not identify again (" + Utf8(OpenDeviceErrorText(code)) +
                                        "); nothing was written.");
        case SwitchOutcome::DriveBusy:
            return reply.Fail(ExitDriveBusy, "drive-busy", code,
                              name + ": " + Utf8(DriveBusyText()) + " Nothing was written.");
        default:
            return reply.FailSystem("command-failed", code, name + ": " + Utf8(SwitchErrorText(wanted, code)) + ".");
    }

    reply.Set("written", Json::Bool(true));
    reply.Set("newState", Json::Number(wanted));
    const std::string done = name + ": optimize turned " + onOff + ".";
    if (!request.shutdown) {
        reply.Set("restart", Json::Utf8("required"));
        reply.Say(done + " The drive takes the setting at its next power-on after a shutdown: shut the computer "
                         "down and start it again (a restart may not be enough).");
        return reply.Finish(ExitRestartRequired);
    }
    if (ShutdownComputer(system.shutdown, CliShutdownFlags, CliShutdownReason)) {
        reply.Set("restart", Json::Utf8("started"));
        reply.Say(done + " The computer shuts down now; the drive takes the setting when it is started again.");
        return reply.Finish(ExitShutdownStarted);
    }
    reply.Set("restart", Json::Utf8("refused"));
    reply.Say(done + " The shutdown request was refused: shut the computer down and start it again for the drive "
                     "to take the setting.");
    return reply.Finish(ExitRestartRequired);
}

}  // namespace cli
