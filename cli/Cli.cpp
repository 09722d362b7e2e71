#include "cli/Cli.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>

#include "cli/HistoryCommand.h"
#include "cli/Json.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Transport.h"
#include "discovery/DebugLog.h"
#include "discovery/Enumerate.h"
#include "devicecmd/HealthDecode.h"
#include "optimize/DriveWords.h"
#include "optimize/HealthWords.h"
#include "optimize/SwitchFlow.h"

#ifndef ZEPHRA_VERSION
#define ZEPHRA_VERSION "0.0.0"
#endif

namespace cli {
namespace {

using discovery::DiskVerdict;
using discovery::ExaminedDisk;

constexpr char NeedsAdministrator[] =
    "zephra-cli needs administrator rights: run it from an elevated command prompt or as the system account.";
constexpr std::uint32_t ErrorAccessDenied = 5;

enum class Command { None, Help, Version, List, Status, Optimize, Health };

struct Request {
    Command command = Command::None;
    bool json = false;
    std::optional<std::string> logPath;
    // optimize
    std::optional<bool> turnOn;
    bool yes = false;
    bool shutdown = false;
    std::optional<std::int32_t> disk;
};

const char* CommandName(Command command) {
    switch (command) {
        case Command::Help: return "help";
        case Command::Version: return "version";
        case Command::List: return "list";
        case Command::Status: return "status";
        case Command::Optimize: return "optimize";
        case Command::Health: return "health";
        default: return nullptr;
    }
}

bool ParseDisk(const std::string& text, std::int32_t& disk) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max())) return false;
    disk = static_cast<std::int32_t>(value);
    return true;
}

// Whether --json is among the options, the values of --log and --disk not counted (an
// option is never their value), so that even a usage error is told in JSON when JSON was
// asked for.
bool AsksForJson(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") return true;
        const bool takesValue = args[i] == "--log" || args[i] == "--disk";
        if (takesValue && i + 1 < args.size() && (args[i + 1].empty() || args[i + 1][0] != '-')) ++i;
    }
    return false;
}

bool Parse(const std::vector<std::string>& args, Request& request, std::string& error) {
    request.json = AsksForJson(args);
    std::vector<std::string> words;
    bool optimizeOption = false;
    bool help = false;
    bool version = false;
    bool diskOption = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            request.json = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "--log") {
            // An option in its place is a forgotten file name, not a file to write.
            if (i + 1 == args.size() || args[i + 1].empty() || args[i + 1][0] == '-') {
                error = "--log needs a file name";
                return false;
            }
            if (request.logPath) {
                error = "--log is given twice";
                return false;
            }
            request.logPath = args[++i];
        } else if (arg == "--yes") {
            request.yes = optimizeOption = true;
        } else if (arg == "--shutdown") {
            request.shutdown = optimizeOption = true;
        } else if (arg == "--restart") {
            error = "--restart is now --shutdown: the drive takes the setting at its next power-on after a "
                    "shutdown, which a restart may not give it";
            return false;
        } else if (arg == "--disk") {
            std::int32_t disk = 0;
            if (i + 1 == args.size() || !ParseDisk(args[i + 1], disk)) {
                error = "--disk needs the drive number that list shows";
                return false;
            }
            if (request.disk) {
                error = "--disk is given twice";
                return false;
            }
            ++i;
            request.disk = disk;
            diskOption = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            words.push_back(arg);
        }
    }
    if (help || (!words.empty() && words[0] == "help")) {
        request.command = Command::Help;
        return true;
    }
    if (version) {
        request.command = Command::Version;
        return true;
    }
    if (words.empty()) {
        error = "no command given";
        return false;
    }
    const std::string& command = words[0];
    std::size_t expected = 1;
    if (command == "list") {
        request.command = Command::List;
    } else if (command == "status") {
        request.command = Command::Status;
    } else if (command == "health") {
        request.command = Command::Health;
    } else if (command == "optimize") {
        request.command = Command::Optimize;
        if (words.size() < 2 || (words[1] != "on" && words[1] != "off")) {
            error = "optimize needs on or off";
            return false;
        }
        request.turnOn = words[1] == "on";
        expected = 2;
    } else {
        error = "unknown command " + command;
        return false;
    }
    if (words.size() > expected) {
        error = "unexpected " + words[expected];
        return false;
    }
    if (optimizeOption && request.command != Command::Optimize) {
        error = "--yes and --shutdown belong to optimize";
        return false;
    }
    if (diskOption && request.command != Command::Optimize && request.command != Command::Health) {
        error = "--disk belongs to optimize and health";
        return false;
    }
    return true;
}

std::string Utf8(const std::wstring& wide) {
    std::string out;
    for (const wchar_t w : wide) {
        const auto c = static_cast<std::uint32_t>(w) & 0xFFFF;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// An identify text (8-bit, ASCII by rule) for the terminal: other bytes as Latin-1.
std::string Latin1ToUtf8(const char* text) {
    std::wstring wide;
    for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return Utf8(wide);
}

// ---- what is said about a drive ----

bool Identified(DiskVerdict verdict) {
    return verdict == DiskVerdict::OtherMaker || verdict == DiskVerdict::OtherController ||
           verdict == DiskVerdict::Accepted;
}

const char* VerdictName(DiskVerdict verdict) {
    switch (verdict) {
        case DiskVerdict::NotOpened: return "not-opened";
        case DiskVerdict::BusUnknown: return "bus-unknown";
        case DiskVerdict::Sata: return "sata";
        case DiskVerdict::UnknownUsb: return "usb-unknown-bridge";
        case DiskVerdict::NotIdentified: return "not-identified";
        case DiskVerdict::OtherMaker: return "other-maker";
        case DiskVerdict::OtherController: return "other-controller";
        case DiskVerdict::Accepted: return "supported";
    }
    return "unknown";
}

// The path commands take, for an identified drive; "other" for the rest.
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

struct DriveFacts {
    const ExaminedDisk& seen;
    bool identified;
    bool supported;
    std::uint64_t capacityBytes;
    std::string capacityText;
    std::string status;  // the state's words, for a supported drive
};

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

Json HealthJson(const std::optional<devicecmd::DriveHealth>& health);

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

// ---- the answer: JSON document or text ----

class Reply {
public:
    explicit Reply(const Request& request) : request_(request) {}

    // Sets a field, or replaces it in its place.
    void Set(const std::string& key, Json value) {
        for (auto& field : fields_) {
            if (field.first == key) {
                field.second = std::move(value);
                return;
            }
        }
        fields_.emplace_back(key, std::move(value));
    }
    void Say(const std::string& line) { text_ += line + "\n"; }

    CliRun Finish(int exitCode) { return Done(exitCode, Json::Null(), ""); }

    // code: a stable name; systemError: the system's code where one caused it. The line
    // also goes to the --log file, when one is open.
    CliRun Fail(int exitCode, const char* code, std::optional<std::uint32_t> systemError, const std::string& message) {
        Json error = Json::Object();
        error.Set("code", Json::Utf8(code));
        error.Set("systemError", systemError ? Json::Unsigned(*systemError) : Json::Null());
        error.Set("message", Json::Utf8(message));
        discovery::DebugLog(discovery::LogErrors, "zephra-cli error %s (exit %d): %s\n", code, exitCode,
                            message.c_str());
        return Done(exitCode, std::move(error), message);
    }

    // A failed system call: one exit code for all, the system's code in the message.
    CliRun FailSystem(const char* code, std::uint32_t systemError, const std::string& message) {
        return Fail(ExitSystemFailure, code, systemError, message);
    }

private:
    CliRun Done(int exitCode, Json error, const std::string& message) {
        CliRun run;
        run.exitCode = exitCode;
        if (request_.json) {
            Json doc = Json::Object();
            doc.Set("schemaVersion", Json::Number(JsonSchemaVersion));
            const char* command = CommandName(request_.command);
            doc.Set("command", command ? Json::Utf8(command) : Json::Null());
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

    const Request& request_;
    std::vector<std::pair<std::string, Json>> fields_;
    std::string text_;
};

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

// The pass of a command; a listing that could not be made is a failure of its own, never
// a machine without drives.
struct Pass {
    std::vector<ExaminedDisk> examined;
    std::optional<std::uint32_t> listingError;
};

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

// ---- list ----

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
    if (pass.listingError) return ListingFailed(reply, *pass.listingError);
    if (examined.empty()) {
        reply.Say("No physical drive found.");
    } else {
        const std::string table = Aligned(rows);
        reply.Say(table.substr(0, table.size() - 1));
    }
    // The list is incomplete without the drives that could not be opened.
    if (AnyAccessDenied(examined))
        return reply.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
    return reply.Finish(ExitSuccess);
}

// ---- status ----

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

CliRun Status(const Request& request, const CliSystem& system) {
    Reply reply(request);
    reply.Set("drive", Json::Null());
    const Pass pass = RunPass(system, {});  // the window's pass: up to the first supported drive
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

// ---- optimize ----

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
            if (named != examined.end() && named->verdict == DiskVerdict::NotOpened) {
                if (named->openError == ErrorAccessDenied)
                    return reply.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
                return reply.FailSystem("open-failed", named->openError,
                                        "disk " + std::to_string(*request.disk) + ": " +
                                            Utf8(OpenDeviceErrorText(named->openError)) + ".");
            }
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

// ---- health ----

// Counters that may pass 2^53 are strings, so that no reader loses digits.
Json HealthJson(const std::optional<devicecmd::DriveHealth>& health) {
    if (!health) return Json::Null();
    const devicecmd::DriveHealth& h = *health;
    auto counter = [](const devicecmd::U128& value) { return Json::Utf8(devicecmd::ToDecimal(value)); };
    Json warnings = Json::Array();
    for (const std::string& name : CriticalWarningNames(h.criticalWarning)) warnings.Add(Json::Utf8(name));
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
        for (const std::wstring& words : CriticalWarningWords(h.criticalWarning))
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

// The health of the supported drive, or of any drive identified on an NVMe path (--disk N).
CliRun Health(const Request& request, const CliSystem& system) {
    Reply reply(request);
    discovery::PassScope scope;  // without --disk: the window's pass
    if (request.disk) scope.everyDisk = scope.healthOfEveryDrive = true;
    const Pass pass = RunPass(system, scope);
    if (pass.listingError) return ListingFailed(reply, *pass.listingError);
    const std::vector<ExaminedDisk>& examined = pass.examined;
    const auto shown = std::find_if(examined.begin(), examined.end(), [&](const ExaminedDisk& seen) {
        return request.disk ? seen.record->phyDriveIndex == *request.disk : seen.verdict == DiskVerdict::Accepted;
    });
    if (shown == examined.end()) {
        reply.Set("drive", Json::Null());
        if (!request.disk) return NoSupportedDrive(reply, examined);
        return reply.Fail(ExitNotSupported, "not-supported", std::nullopt,
                          "there is no disk " + std::to_string(*request.disk) + "; see zephra-cli list.");
    }
    const DriveFacts facts = FactsOf(*shown, system);
    reply.Set("drive", DriveJson(facts));
    if (shown->verdict == DiskVerdict::NotOpened && shown->openError == ErrorAccessDenied)
        return reply.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
    const std::string name = DriveLine(facts);
    if (!facts.identified)
        return reply.Fail(ExitNotSupported, "not-supported", std::nullopt,
                          name + " did not identify on an NVMe path, so its health log is not asked for.");
    if (!shown->record->health)
        return reply.Fail(ExitHealthUnavailable, "health-unavailable", std::nullopt,
                          name + ": the drive's health log could not be read (refused or incomplete).");
    DescribeHealthLog(reply, facts);
    if (shown->record->health->HasCriticalWarning())
        return reply.Fail(ExitHealthCritical, "health-critical", std::nullopt,
                          name + ": " + Utf8(DescribeHealth(shown->record->health).text));
    return reply.Finish(ExitSuccess);
}

// Hands the debug log a file for the length of one command.
class LogFile {
public:
    explicit LogFile(std::FILE* file) : file_(file) {
        if (file_) discovery::SetDebugLogStream(file_);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() {
        if (!file_) return;
        discovery::SetDebugLogStream(nullptr);
        std::fclose(file_);
    }

private:
    std::FILE* file_;
};

}  // namespace

const char* CliVersion() { return ZEPHRA_VERSION; }

const char* CliUsage() {
    return "usage: zephra-cli COMMAND [--json] [--log FILE]\n"
           "\n"
           "Finds and switches the Tavik VX310 Series SSD without a window.\n"
           "\n"
           "Commands:\n"
           "  list                 every physical drive examined: number, model, serial, firmware,\n"
           "                       transport, capacity, whether it is a supported drive, its state\n"
           "  status               the supported drive that Zephra's window shows, or none\n"
           "  health [--disk N]    the health log of the supported drive (or of disk N, any drive\n"
           "                       identified on an NVMe path): warnings, temperature, wear, spare,\n"
           "                       data read and written, power-on hours, errors\n"
           "  history [--disk N]   the health history that the health service keeps for the same drive:\n"
           "                       one line a sample (time, temperature, spare, wear, data, errors)\n"
           "  optimize on|off --yes [--disk N] [--shutdown]\n"
           "                       turns the drive's optimize feature on or off. Without --yes it only\n"
           "                       says what it would do. --disk N (the number list shows) is needed\n"
           "                       when several supported drives are present. A drive already in the\n"
           "                       asked state is not written. The drive takes the setting at its next\n"
           "                       power-on after a shutdown (a restart may not be enough): without\n"
           "                       --shutdown that is left to you (exit 3010); with it the computer is\n"
           "                       shut down and powered off at once (exit 1641).\n"
           "\n"
           "Options:\n"
           "  --json               one JSON document on standard output (errors included)\n"
           "  --log FILE           write the drive enumeration's debug log and the errors to FILE\n"
           "  --help, --version\n"
           "\n"
           "Exit codes:\n"
           "  0     success (also: the drive already is in the asked state)\n"
           "  1     usage error\n"
           "  2     no supported drive on this computer (the only \"not applicable\")\n"
           "  3     optimize without --yes: nothing was done\n"
           "  4     several supported drives and no --disk\n"
           "  5     access denied: run as administrator\n"
           "  6     the drive's optimize state could not be read (Unknown): not switched\n"
           "  7     --disk N names no supported drive\n"
           "  8     health: a critical warning is set\n"
           "  9     health: the drive's health log could not be read (refused or incomplete)\n"
           "  10    a system call failed: the listing, an open, identify or the vendor command\n"
           "        (the system's error code is in the message and in the JSON's systemError)\n"
           "  11    history: the drive's history file cannot be read as one\n"
           "  12    optimize: the drive stayed busy with another Zephra program; nothing was written\n"
           "  1167  the drive changed between listing and writing; nothing was written\n"
           "  3010  switched; the drive takes the setting at its next power-on after a shutdown\n"
           "  1641  switched, and the shutdown was started (--shutdown)\n";
}

CliRun RunCli(const std::vector<std::string>& args, const CliSystem& system) {
    if (auto history = RunHistoryCommand(args, system)) return *history;
    Request request;
    std::string error;
    if (!Parse(args, request, error)) {
        const bool json = request.json;
        request = Request{};
        request.json = json;
        Reply reply(request);
        CliRun run = reply.Fail(ExitUsage, "usage", std::nullopt, error);
        if (!json) run.err += "\n" + std::string(CliUsage());
        return run;
    }
    if (request.command == Command::Help || request.command == Command::Version) {
        Reply reply(request);
        if (request.command == Command::Help) {
            reply.Set("usage", Json::Utf8(CliUsage()));
            CliRun run = reply.Finish(ExitSuccess);
            if (!request.json) run.out = CliUsage();
            return run;
        }
        reply.Set("version", Json::Utf8(CliVersion()));
        reply.Say(std::string("zephra-cli ") + CliVersion());
        return reply.Finish(ExitSuccess);
    }

    std::FILE* log = nullptr;
    if (request.logPath) {
        log = system.openLog ? system.openLog(*request.logPath) : nullptr;
        if (!log) {
            Reply reply(request);
            // The caller's file name is the fault; the drives are not touched.
            return reply.Fail(ExitUsage, "usage", std::nullopt, "cannot write the log file " + *request.logPath);
        }
    }
    const LogFile logFile(log);
    switch (request.command) {
        case Command::List: return List(request, system);
        case Command::Status: return Status(request, system);
        case Command::Health: return Health(request, system);
        default: return Optimize(request, system);
    }
}

}  // namespace cli
