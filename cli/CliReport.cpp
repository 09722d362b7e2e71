#include "cli/CliReport.h"

#include <algorithm>
#include <cstdio>

#include "devicecmd/Transport.h"
#include "discovery/DebugLog.h"
#include "optimize/DriveWords.h"
#include "optimize/HealthWords.h"

namespace cli {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

namespace {

const char* VerdictName(DiskVerdict verdict) {
    switch (verdict) {
        case DiskVerdict::NotOpened: return "not-opened";
        case DiskVerdict::BusUnknown: return "bus-unknown";
        case DiskVerdict::Sata: return "sata";
        case DiskVerdict::UnknownUsb: return "usb-unknown-bridge";
        case DiskVerdict::RaidVolume: return "raid-volume";
        case DiskVerdict::NotIdentified: return "not-identified";
        case DiskVerdict::OtherMaker: return "other-maker";
        case DiskVerdict::OtherController: return "other-controller";
        case DiskVerdict::Accepted: return "supported";
    }
    return "unknown";
}

}  // namespace

bool Identified(DiskVerdict verdict) {
    return verdict == DiskVerdict::OtherMaker || verdict == DiskVerdict::OtherController ||
           verdict == DiskVerdict::Accepted;
}

std::pair<const char*, const char*> TransportNames(const ExaminedDisk& seen) {
    if (Identified(seen.verdict)) {
        switch (seen.record->busType) {
            case devicecmd::TransportNvmeInbox: return {"inbox", "inbox NVMe"};
            case devicecmd::TransportNvmeMiniport: return {"miniport", "miniport"};
            case devicecmd::TransportUsbBridge: return {"usb-bridge", "USB bridge"};
            case devicecmd::TransportIntelRst: return {"intel-rst", "Intel RST"};
            default: break;
        }
    }
    return {"other", "other"};
}

DriveFacts FactsOf(const ExaminedDisk& seen, const CliSystem& system) {
    const discovery::DiskInfo& d = *seen.record;
    DriveFacts facts{seen, Identified(seen.verdict), seen.verdict == DiskVerdict::Accepted, 0, {}, {}};
    if (facts.identified) {
        facts.capacityBytes = d.totalSectors * d.bytesPerSector;
        facts.capacityText = Utf8(FormatCapacity(d.totalSectors, d.bytesPerSector));
    }
    if (facts.supported) facts.status = Utf8(system.text(OptimizeStatusTextId(d.optimizeState)));
    return facts;
}

Json DriveJson(const DriveFacts& facts) {
    const discovery::DiskInfo& d = *facts.seen.record;
    auto text = [&](const char* value) { return facts.identified ? Json::Text(value) : Json::Null(); };
    Json drive = Json::Object();
    drive.Set("disk", Json::Number(d.phyDriveIndex));
    drive.Set("model", text(d.modelNumber.data()));
    drive.Set("serial", text(d.serialNumber.data()));
    drive.Set("firmware", text(d.firmwareRev.data()));
    drive.Set("transport", Json::Utf8(TransportNames(facts.seen).first));
    drive.Set("capacityBytes", facts.identified ? Json::Unsigned(facts.capacityBytes) : Json::Null());
    drive.Set("capacityText", facts.identified ? Json::Utf8(facts.capacityText) : Json::Null());
    drive.Set("supported", Json::Bool(facts.supported));
    drive.Set("optimizeState", facts.supported ? Json::Number(d.optimizeState) : Json::Null());
    drive.Set("status", facts.supported ? Json::Utf8(facts.status) : Json::Null());
    drive.Set("examined", Json::Utf8(VerdictName(facts.seen.verdict)));
    drive.Set("openError", facts.seen.verdict == DiskVerdict::NotOpened && facts.seen.openError
                               ? Json::Unsigned(facts.seen.openError)
                               : Json::Null());
    drive.Set("health", HealthJson(facts.seen.record->health));
    return drive;
}

std::string DriveLine(const DriveFacts& facts) {
    const discovery::DiskInfo& d = *facts.seen.record;
    return "disk " + std::to_string(d.phyDriveIndex) + " (" + Latin1ToUtf8(d.modelNumber.data()) + ")";
}

// Counters that may pass 2^53 are strings, so that no reader loses digits.
Json HealthJson(const std::optional<devicecmd::DriveHealth>& health) {
    if (!health) return Json::Null();
    const devicecmd::DriveHealth& h = *health;
    auto counter = [](const devicecmd::U128& value) { return Json::Utf8(devicecmd::ToDecimal(value)); };
    Json warnings = Json::Array();
    for (const std::string& name : HealthWarningNames(h)) warnings.Add(Json::Utf8(name));
    const std::optional<int> celsius = h.TemperatureCelsius();
    Json out = Json::Object();
    out.Set("summary", Json::Utf8(Utf8(DescribeHealth(health).text)));
    out.Set("criticalWarning", Json::Number(h.criticalWarning));
    out.Set("warnings", std::move(warnings));
    out.Set("temperatureCelsius", celsius ? Json::Number(*celsius) : Json::Null());
    out.Set("temperatureKelvin", celsius ? Json::Number(h.temperatureKelvin) : Json::Null());
    out.Set("availableSpare", Json::Number(h.availableSpare));
    out.Set("availableSpareThreshold", Json::Number(h.availableSpareThreshold));
    out.Set("percentageUsed", Json::Number(h.percentageUsed));
    out.Set("dataUnitsRead", counter(h.dataUnitsRead));
    out.Set("dataUnitsWritten", counter(h.dataUnitsWritten));
    out.Set("bytesRead", Json::Utf8(devicecmd::DataUnitsToBytesDecimal(h.dataUnitsRead)));
    out.Set("bytesWritten", Json::Utf8(devicecmd::DataUnitsToBytesDecimal(h.dataUnitsWritten)));
    out.Set("hostReadCommands", counter(h.hostReadCommands));
    out.Set("hostWriteCommands", counter(h.hostWriteCommands));
    out.Set("controllerBusyMinutes", counter(h.controllerBusyMinutes));
    out.Set("powerCycles", counter(h.powerCycles));
    out.Set("powerOnHours", counter(h.powerOnHours));
    out.Set("unsafeShutdowns", counter(h.unsafeShutdowns));
    out.Set("mediaErrors", counter(h.mediaErrors));
    out.Set("errorLogEntries", counter(h.errorLogEntries));
    out.Set("warningTemperatureMinutes", Json::Unsigned(h.warningTemperatureMinutes));
    out.Set("criticalTemperatureMinutes", Json::Unsigned(h.criticalTemperatureMinutes));
    return out;
}

std::string Aligned(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace cli
