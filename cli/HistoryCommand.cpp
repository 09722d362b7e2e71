#include "cli/HistoryCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "cli/CliBasics.h"
#include "cli/Json.h"
#include "discovery/DebugLog.h"
#include "discovery/Enumerate.h"
#include "history/HistoryStore.h"

namespace cli {

namespace {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

constexpr std::uint32_t ErrorAccessDenied = 5;

struct HistoryRequest {
    bool json = false;
    std::optional<std::int32_t> disk;
    std::optional<std::string> logPath;
};

bool TakesValue(const std::string& arg) { return arg == "--disk" || arg == "--log"; }

// The first word that is no option nor an option's value.
std::optional<std::string> CommandWord(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (TakesValue(args[i])) {
            ++i;
        } else if (args[i].empty() || args[i][0] != '-') {
            return args[i];
        }
    }
    return std::nullopt;
}

bool ParseRequest(const std::vector<std::string>& args, HistoryRequest& request, std::string& error) {
    bool commandSeen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-';
        if (arg == "--json") {
            request.json = true;
        } else if (arg == "--disk") {
            const std::string value = hasValue ? args[i + 1] : std::string();
            if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos ||
                std::strtoull(value.c_str(), nullptr, 10) > std::numeric_limits<std::int32_t>::max()) {
                error = "--disk needs the drive number that list shows";
                return false;
            }
            if (request.disk) {
                error = "--disk is given twice";
                return false;
            }
            request.disk = static_cast<std::int32_t>(std::strtoull(value.c_str(), nullptr, 10));
            ++i;
        } else if (arg == "--log") {
            if (!hasValue) {
                error = "--log needs a file name";
                return false;
            }
            if (request.logPath) {
                error = "--log is given twice";
                return false;
            }
            request.logPath = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = arg == "--yes" || arg == "--shutdown" ? arg + " belongs to optimize" : "unknown option " + arg;
            return false;
        } else if (!commandSeen) {
            commandSeen = true;
        } else {
            error = "unexpected " + arg;
            return false;
        }
    }
    return true;
}

// The answer, as the other commands give it: a JSON document or text and a message.
class Answer {
public:
    explicit Answer(bool json) : json_(json) {}
    void Set(const std::string& key, Json value) { fields_.emplace_back(key, std::move(value)); }
    void Say(const std::string& text) { text_ += text; }

    CliRun Finish(int exitCode) { return Done(exitCode, Json::Null(), ""); }
    CliRun Fail(int exitCode, const char* code, std::optional<std::uint32_t> systemError, const std::string& message) {
        Json error = Json::Object();
        error.Set("code", Json::Utf8(code));
        error.Set("systemError", systemError ? Json::Unsigned(*systemError) : Json::Null());
        error.Set("message", Json::Utf8(message));
        discovery::DebugLog(discovery::LogErrors, "zephra-cli error %s (exit %d): %s\n", code, exitCode,
                            message.c_str());
        return Done(exitCode, std::move(error), message);
    }

private:
    CliRun Done(int exitCode, Json error, const std::string& message) {
        CliRun run;
        run.exitCode = exitCode;
        if (json_) {
            Json doc = Json::Object();
            doc.Set("schemaVersion", Json::Number(JsonSchemaVersion));
            doc.Set("command", Json::Utf8("history"));
            doc.Set("exitCode", Json::Number(exitCode));
            for (auto& field : fields_) doc.Set(field.first, std::move(field.second));
            doc.Set("error", std::move(error));
            run.out = doc.Dump();
        } else {
            run.out = text_;
            if (!message.empty()) run.err = "zephra-cli: " + message + "\n";
        }
        return run;
    }

    bool json_;
    std::vector<std::pair<std::string, Json>> fields_;
    std::string text_;
};

bool Identified(DiskVerdict verdict) {
    return verdict == DiskVerdict::OtherMaker || verdict == DiskVerdict::OtherController ||
           verdict == DiskVerdict::Accepted;
}

Json SampleJson(const history::HistorySample& s) {
    auto counter = [](const devicecmd::U128& value) { return Json::Utf8(devicecmd::ToDecimal(value)); };
    Json out = Json::Object();
    out.Set("time", Json::Utf8(history::FormatUtc(s.timeUtc)));
    out.Set("temperatureCelsius", s.temperatureKelvin ? Json::Number(s.temperatureKelvin - 273) : Json::Null());
    out.Set("availableSpare", Json::Number(s.availableSpare));
    out.Set("availableSpareThreshold", Json::Number(s.availableSpareThreshold));
    out.Set("percentageUsed", Json::Number(s.percentageUsed));
    out.Set("dataUnitsRead", counter(s.dataUnitsRead));
    out.Set("dataUnitsWritten", counter(s.dataUnitsWritten));
    out.Set("powerOnHours", counter(s.powerOnHours));
    out.Set("powerCycles", counter(s.powerCycles));
    out.Set("unsafeShutdowns", counter(s.unsafeShutdowns));
    out.Set("mediaErrors", counter(s.mediaErrors));
    out.Set("errorLogEntries", counter(s.errorLogEntries));
    out.Set("warningTemperatureMinutes", Json::Unsigned(s.warningTemperatureMinutes));
    out.Set("criticalTemperatureMinutes", Json::Unsigned(s.criticalTemperatureMinutes));
    out.Set("criticalWarning", Json::Number(s.criticalWarning));
    return out;
}

std::string Table(const std::vector<history::HistorySample>& samples) {
    std::vector<std::vector<std::string>> rows{{"TIME (UTC)", "TEMP C", "SPARE %", "THRESHOLD %", "USED %", "UNITS READ",
                                                "UNITS WRITTEN", "POWER-ON H", "CYCLES", "UNSAFE", "MEDIA ERR",
                                                "ERROR LOG", "WARN MIN", "CRIT MIN", "WARNING"}};
    for (const auto& s : samples) {
        char bits[8];
        std::snprintf(bits, sizeof bits, "0x%02X", static_cast<unsigned>(s.criticalWarning));
        rows.push_back({history::FormatUtc(s.timeUtc),
                        s.temperatureKelvin ? std::to_string(s.temperatureKelvin - 273) : std::string("-"),
                        std::to_string(s.availableSpare), std::to_string(s.availableSpareThreshold),
                        std::to_string(s.percentageUsed), devicecmd::ToDecimal(s.dataUnitsRead),
                        devicecmd::ToDecimal(s.dataUnitsWritten), devicecmd::ToDecimal(s.powerOnHours),
                        devicecmd::ToDecimal(s.powerCycles), devicecmd::ToDecimal(s.unsafeShutdowns),
                        devicecmd::ToDecimal(s.mediaErrors), devicecmd::ToDecimal(s.errorLogEntries),
                        std::to_string(s.warningTemperatureMinutes), std::to_string(s.criticalTemperatureMinutes),
                        bits});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
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

CliRun History(const HistoryRequest& request, const CliSystem& system) {
    Answer answer(request.json);
    discovery::PassScope scope;  // without --disk: the window's pass
    scope.everyDisk = request.disk.has_value();
    scope.askWhyNotOpened = true;
    std::optional<std::uint32_t> listingError;
    const std::vector<ExaminedDisk> examined = discovery::ExamineDrives(system.machine, scope, &listingError);
    if (listingError)
        return answer.Fail(ExitSystemFailure, "listing-failed", *listingError,
                           "the computer's drives could not be listed, error code " +
                               std::to_string(static_cast<std::int32_t>(*listingError)) + ".");
    const auto shown = std::find_if(examined.begin(), examined.end(), [&](const ExaminedDisk& seen) {
        return request.disk ? seen.record->phyDriveIndex == *request.disk : seen.verdict == DiskVerdict::Accepted;
    });
    const bool denied = std::any_of(examined.begin(), examined.end(), [](const ExaminedDisk& seen) {
        return seen.verdict == DiskVerdict::NotOpened && seen.openError == ErrorAccessDenied;
    });
    constexpr char NeedsAdministrator[] =
        "zephra-cli needs administrator rights: run it from an elevated command prompt or as the system account.";
    if (shown == examined.end()) {
        answer.Set("drive", Json::Null());
        if (request.disk)
            return answer.Fail(ExitNotSupported, "not-supported", std::nullopt,
                               "there is no disk " + std::to_string(*request.disk) + "; see zephra-cli list.");
        if (denied) return answer.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
        return answer.Fail(ExitNoSupportedDrive, "no-supported-drive", std::nullopt,
                           "No device detected: no supported drive (Tavik VX310 Series SSD) on this computer.");
    }
    const discovery::DiskInfo& d = *shown->record;
    const std::string name = "disk " + std::to_string(d.phyDriveIndex);
    if (shown->verdict == DiskVerdict::NotOpened && shown->openError == ErrorAccessDenied) {
        answer.Set("drive", Json::Null());
        return answer.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
    }
    if (!Identified(shown->verdict)) {
        answer.Set("drive", Json::Null());
        return answer.Fail(ExitNotSupported, "not-supported", std::nullopt,
                           name + " did not identify on an NVMe path, so it has no health history.");
    }
    Json drive = Json::Object();
    drive.Set("disk", Json::Number(d.phyDriveIndex));
    drive.Set("model", Json::Text(d.modelNumber.data()));
    drive.Set("serial", Json::Text(d.serialNumber.data()));
    drive.Set("firmware", Json::Text(d.firmwareRev.data()));
    drive.Set("supported", Json::Bool(shown->verdict == DiskVerdict::Accepted));
    answer.Set("drive", std::move(drive));
    if (!system.files)
        return answer.Fail(ExitSystemFailure, "history-read-failed", 0u, "the history folder cannot be reached.");

    history::HistoryStore store(*system.files);
    const history::HistoryReadResult read = store.Read(d.modelNumber.data(), d.serialNumber.data());
    const std::string path = Utf8(read.path);
    answer.Set("file", read.path.empty() ? Json::Null() : Json::Utf8(path));
    const std::string heading = "Disk " + std::to_string(d.phyDriveIndex) + ": " +
                                Latin1ToUtf8(d.modelNumber.data()) + ", serial " +
                                Latin1ToUtf8(d.serialNumber.data()) + "\n";
    switch (read.status) {
        case history::HistoryRead::Failed:
            answer.Set("tornLineSkipped", Json::Bool(false));
            answer.Set("samples", Json::Null());
            return answer.Fail(ExitSystemFailure, "history-read-failed", read.systemError,
                               "the history file " + path + " could not be read, error code " +
                                   std::to_string(static_cast<std::int32_t>(read.systemError)) + ".");
        case history::HistoryRead::Unparsable:
            answer.Set("tornLineSkipped", Json::Bool(false));
            answer.Set("samples", Json::Null());
            return answer.Fail(ExitHistoryUnparsable, "history-unparsable", std::nullopt,
                               path + " is not a history file that can be read (" +
                                   (read.badLine ? "line " + std::to_string(read.badLine) : std::string("too large")) +
                                   "); the health service keeps it aside and starts a new one at its next sample.");
        case history::HistoryRead::NoHistory:
            answer.Set("tornLineSkipped", Json::Bool(false));
            answer.Set("samples", Json::Array());
            answer.Say(heading + "No history recorded yet (the health service writes " + path + ").\n");
            return answer.Finish(ExitSuccess);
        case history::HistoryRead::Read:
            break;
    }
    Json samples = Json::Array();
    for (const auto& s : read.samples) samples.Add(SampleJson(s));
    answer.Set("tornLineSkipped", Json::Bool(read.tornTail));
    answer.Set("samples", std::move(samples));
    answer.Say(heading + path + ": " + std::to_string(read.samples.size()) +
               (read.samples.size() == 1 ? " sample" : " samples") +
               (read.tornTail ? " (a torn last line, cut by a power loss, was skipped)" : "") + "\n");
    if (!read.samples.empty()) answer.Say(Table(read.samples));
    return answer.Finish(ExitSuccess);
}

}  // namespace

std::optional<CliRun> RunHistoryCommand(const std::vector<std::string>& args, const CliSystem& system) {
    if (CommandWord(args) != std::optional<std::string>("history")) return std::nullopt;
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h" || arg == "/?" || arg == "--version") return std::nullopt;
    HistoryRequest request;
    request.json = std::find(args.begin(), args.end(), "--json") != args.end();
    std::string error;
    if (!ParseRequest(args, request, error)) {
        Answer answer(request.json);
        CliRun run = answer.Fail(ExitUsage, "usage", std::nullopt, error);
        if (!request.json) run.err += "\n" + std::string(CliUsage());
        return run;
    }
    CommandLog log;
    if (request.logPath) {
        if (const auto refusal = log.Open(*request.logPath, system))
            return Answer(request.json).Fail(ExitUsage, "usage", std::nullopt, *refusal);
    }
    return History(request, system);
}

}  // namespace cli
