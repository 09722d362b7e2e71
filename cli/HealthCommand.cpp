#include "cli/CliCommands.h"

#include <algorithm>
#include <cstdio>

#include "cli/SelfTestCommand.h"
#include "optimize/HealthWords.h"

namespace cli {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

namespace {

void DescribeHealthLog(Reply& reply, const DriveFacts& facts) {
    const discovery::DiskInfo& d = *facts.seen.record;
    const devicecmd::DriveHealth& h = *d.health;
    auto number = [](const devicecmd::U128& value) { return devicecmd::ToDecimal(value); };
    auto units = [&](const devicecmd::U128& value) {
        return Utf8(FormatDataUnits(value)) + " (" + number(value) + " units of 512,000 bytes)";
    };
    std::string warning = "none";
    if (h.HasCriticalWarning()) {
        warning.clear();
        for (const std::wstring& words : HealthWarningWords(h))
            warning += (warning.empty() ? "" : ", ") + Utf8(words);
    }
    char bits[8];
    std::snprintf(bits, sizeof bits, "0x%02X", static_cast<unsigned>(h.criticalWarning));
    const std::optional<int> celsius = h.TemperatureCelsius();
    const std::string degrees = Utf8(L" \u00B0C");
    reply.Say("Disk " + std::to_string(d.phyDriveIndex) + ": " + Latin1ToUtf8(d.modelNumber.data()));
    const std::vector<std::vector<std::string>> rows{
        {"  Firmware:", Latin1ToUtf8(d.firmwareRev.data())},
        {"  Transport:", TransportNames(facts.seen).second},
        {"  Health:", Utf8(DescribeHealth(d.health).text)},
        {"  Critical warning:", warning + " (" + bits + ")"},
        {"  Temperature:", celsius ? std::to_string(*celsius) + degrees + " (" + std::to_string(h.temperatureKelvin) + " K)"
                                   : std::string("not reported")},
        {"  Available spare:", std::to_string(h.availableSpare) + " % (threshold " +
                                   std::to_string(h.availableSpareThreshold) + " %)"},
        {"  Percentage used:", std::to_string(h.percentageUsed) + " %"},
        {"  Data read:", units(h.dataUnitsRead)},
        {"  Data written:", units(h.dataUnitsWritten)},
        {"  Host read commands:", number(h.hostReadCommands)},
        {"  Host write commands:", number(h.hostWriteCommands)},
        {"  Controller busy time:", number(h.controllerBusyMinutes) + " minutes"},
        {"  Power cycles:", number(h.powerCycles)},
        {"  Power-on hours:", number(h.powerOnHours)},
        {"  Unsafe shutdowns:", number(h.unsafeShutdowns)},
        {"  Media and data integrity errors:", number(h.mediaErrors)},
        {"  Error log entries:", number(h.errorLogEntries)},
        {"  Warning temperature time:", std::to_string(h.warningTemperatureMinutes) + " minutes"},
        {"  Critical temperature time:", std::to_string(h.criticalTemperatureMinutes) + " minutes"},
    };
    const std::string lines = Aligned(rows);
    reply.Say(lines.substr(0, lines.size() - 1));
}

}  // namespace

// The health of the supported drive, or of any drive identified on an NVMe path (--disk N).
CliRun Health(const Request& request, const CliSystem& system) {
    Reply reply(request);
    discovery::PassScope scope;  // without --disk: the window's pass
    if (request.disk) scope.everyDisk = scope.healthOfEveryDrive = true;
    reply.Set("drive", Json::Null());
    const Pass pass = RunPass(system, scope);
    reply.Set("disksNotOpened", DisksNotOpenedJson(pass.examined));
    if (pass.listingError) return ListingFailed(reply, *pass.listingError);
    const std::vector<ExaminedDisk>& examined = pass.examined;
    const auto shown = std::find_if(examined.begin(), examined.end(), [&](const ExaminedDisk& seen) {
        return request.disk ? seen.record->phyDriveIndex == *request.disk : seen.verdict == DiskVerdict::Accepted;
    });
    if (shown == examined.end()) {
        if (!request.disk) return NoSupportedDrive(reply, examined);
        return reply.Fail(ExitNotSupported, "not-supported", std::nullopt,
                          "there is no disk " + std::to_string(*request.disk) + "; see zephra-cli list.");
    }
    const DriveFacts facts = FactsOf(*shown, system);
    reply.Set("drive", DriveJson(facts));
    if (shown->verdict == DiskVerdict::NotOpened) return OpenFailed(reply, *shown, "its health log was not read.");
    const std::string name = DriveLine(facts);
    if (!facts.identified)
        return reply.Fail(ExitNotSupported, "not-supported", std::nullopt,
                          name + " did not identify on an NVMe path, so its health log is not asked for.");
    if (!shown->record->health) {
        const std::optional<std::uint32_t> code = shown->healthError;
        return reply.Fail(ExitHealthUnavailable, "health-unavailable", code,
                          name + ": the drive's health log could not be read (refused or incomplete)" +
                              (code ? ", error code " + std::to_string(static_cast<std::int32_t>(*code)) : "") + ".");
    }
    DescribeHealthLog(reply, facts);
    LastSelfTest lastSelfTest = ReadLastSelfTest(system, *shown->record);
    reply.Set("lastSelfTest", std::move(lastSelfTest.json));
    if (!lastSelfTest.line.empty()) {
        // In the column of the rows above, whose longest label is the integrity errors'.
        std::string label = "  Last self-test:";
        label.resize(sizeof "  Media and data integrity errors:" + 1, ' ');
        reply.Say(label + lastSelfTest.line);
    }
    if (shown->record->health->HasCriticalWarning())
        return reply.Fail(ExitHealthCritical, "health-critical", std::nullopt,
                          name + ": " + Utf8(DescribeHealth(shown->record->health).text));
    return reply.Finish(ExitSuccess);
}

}  // namespace cli
