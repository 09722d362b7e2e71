#include "cli/SelfTestCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "cli/CliBasics.h"
#include "discovery/DebugLog.h"
#include "discovery/Enumerate.h"
#include "optimize/SelfTestFlow.h"
#include "optimize/SelfTestWords.h"

namespace cli {
namespace {

using devicecmd::SelfTestAction;
using devicecmd::SelfTestEntry;
using devicecmd::SelfTestLog;
using devicecmd::SelfTestVerdict;
using discovery::DiskVerdict;
using discovery::ExaminedDisk;

constexpr std::uint32_t ErrorAccessDenied = 5;
constexpr char NeedsAdministrator[] =
    "zephra-cli needs administrator rights: run it from an elevated command prompt or as the system account.";

enum class Action { Short, Extended, Abort, Status };

struct Request {
    std::optional<Action> action;
    bool json = false;
    bool wait = false;
    std::optional<std::int32_t> disk;
    std::optional<std::string> logPath;
};

const char* ActionName(Action action) {
    switch (action) {
        case Action::Short: return "short";
        case Action::Extended: return "extended";
        case Action::Abort: return "abort";
        default: return "status";
    }
}

bool Parse(const std::vector<std::string>& args, Request& request, std::string& error) {
    // --json counts wherever it stands, so that a usage error is told in JSON too.
    request.json = std::find(args.begin(), args.end(), "--json") != args.end();
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
        } else if (arg == "--wait") {
            request.wait = true;
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
            request.disk = disk;
            ++i;
        } else if (arg == "--log") {
            if (i + 1 == args.size() || args[i + 1].empty() || args[i + 1][0] == '-') {
                error = "--log needs a file name";
                return false;
            }
            if (request.logPath) {
                error = "--log is given twice";
                return false;
            }
            request.logPath = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg + " for selftest";
            return false;
        } else {
            words.push_back(arg);
        }
    }
    if (words.size() < 2) {
        error = "selftest needs short, extended, abort or status";
        return false;
    }
    const std::string& action = words[1];
    if (action == "short") request.action = Action::Short;
    else if (action == "extended") request.action = Action::Extended;
    else if (action == "abort") request.action = Action::Abort;
    else if (action == "status") request.action = Action::Status;
    else {
        error = "selftest needs short, extended, abort or status, not " + action;
        return false;
    }
    if (words.size() > 2) {
        error = "unexpected " + words[2];
        return false;
    }
    if (request.wait && request.action == Action::Abort) {
        error = "--wait belongs to short, extended and status";
        return false;
    }
    return true;
}

const char* TransportName(std::uint8_t busType) {
    switch (busType) {
        case devicecmd::TransportNvmeInbox: return "inbox";
        case devicecmd::TransportNvmeMiniport: return "miniport";
        case devicecmd::TransportUsbBridge: return "usb-bridge";
        case devicecmd::TransportIntelRst: return "intel-rst";
        default: return "other";
    }
}

bool OnNvmePath(const ExaminedDisk& seen) {
    const bool identified = seen.verdict == DiskVerdict::OtherMaker || seen.verdict == DiskVerdict::OtherController ||
                            seen.verdict == DiskVerdict::Accepted;
    const std::uint8_t bus = seen.record->busType;
    return identified && (bus == devicecmd::TransportNvmeInbox || bus == devicecmd::TransportNvmeMiniport ||
                          bus == devicecmd::TransportUsbBridge || bus == devicecmd::TransportIntelRst);
}

Json DriveJson(const discovery::DiskInfo& d) {
    Json drive = Json::Object();
    drive.Set("disk", Json::Number(d.phyDriveIndex));
    drive.Set("model", Json::Text(d.modelNumber.data()));
    drive.Set("serial", Json::Text(d.serialNumber.data()));
    drive.Set("firmware", Json::Text(d.firmwareRev.data()));
    drive.Set("transport", Json::Utf8(TransportName(d.busType)));
    return drive;
}

Json EntryJson(const SelfTestEntry& e) {
    const auto verdict = [&]() -> const char* {
        switch (e.Verdict()) {
            case SelfTestVerdict::Passed: return "passed";
            case SelfTestVerdict::Failed: return "failed";
            case SelfTestVerdict::Aborted: return "aborted";
            default: return "unknown";
        }
    };
    Json out = Json::Object();
    out.Set("test", Json::Utf8(SelfTestName(e.testCode)));
    out.Set("verdict", Json::Utf8(verdict()));
    out.Set("result", Json::Utf8(SelfTestResultName(e.resultCode)));
    out.Set("resultCode", Json::Number(e.resultCode));
    out.Set("words", Json::Utf8(SelfTestResultWords(e)));
    const auto segment = e.FailedSegmentNumber();
    out.Set("failedSegment", segment ? Json::Number(*segment) : Json::Null());
    // Eight bytes in the log: a string, as the health counters are, so that no digit is lost.
    out.Set("powerOnHours", Json::Utf8(std::to_string(e.powerOnHours)));
    out.Set("nsid", e.nsid ? Json::Unsigned(*e.nsid) : Json::Null());
    out.Set("failingLba", e.failingLba ? Json::Utf8(std::to_string(*e.failingLba)) : Json::Null());
    out.Set("statusCodeType", e.statusCodeType ? Json::Number(*e.statusCodeType) : Json::Null());
    out.Set("statusCode", e.statusCode ? Json::Number(*e.statusCode) : Json::Null());
    return out;
}

std::string EntryLine(const SelfTestEntry& e) {
    std::string line = SelfTestName(e.testCode) + " test " + SelfTestResultWords(e) + ", at power-on hour " +
                       std::to_string(e.powerOnHours);
    if (e.failingLba) line += ", failing LBA " + std::to_string(*e.failingLba);
    return line;
}

std::string RunningWords(const SelfTestLog& log) {
    const std::string test = SelfTestName(log.currentOperation);
    return std::string(test[0] == 'e' ? "an " : "a ") + test + " self-test is running (" +
           std::to_string(log.completionPercent) + " % done)";
}

// The document or the text, with the exit code: the selftest command's answer.
class Answer {
public:
    explicit Answer(const Request& request) : request_(request) {
        selfTest_ = Json::Object();
        fields_.emplace_back("action", request.action ? Json::Utf8(ActionName(*request.action)) : Json::Null());
        fields_.emplace_back("drive", Json::Null());
    }
    void SetDrive(Json drive) { fields_[1].second = std::move(drive); }
    void SetSelfTest(const std::string& key, Json value) { selfTest_.Set(key, std::move(value)); }
    void Say(const std::string& line) { text_ += line + "\n"; }

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
    CliRun FailSystem(const char* code, std::uint32_t systemError, const std::string& message) {
        return Fail(ExitSystemFailure, code, systemError,
                    message + " (error code " + std::to_string(static_cast<std::int32_t>(systemError)) + ")");
    }

private:
    CliRun Done(int exitCode, Json error, const std::string& message) {
        CliRun run;
        run.exitCode = exitCode;
        if (request_.json) {
            Json doc = Json::Object();
            doc.Set("schemaVersion", Json::Number(JsonSchemaVersion));
            doc.Set("command", Json::Utf8("selftest"));
            doc.Set("exitCode", Json::Number(exitCode));
            for (auto& field : fields_) doc.Set(field.first, std::move(field.second));
            doc.Set("selfTest", std::move(selfTest_));
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
    Json selfTest_ = Json::Null();
    std::string text_;
};

// The drive's log in the document: what runs now and every result, newest first.
void SetLog(Answer& answer, const SelfTestLog& log) {
    if (log.Running()) {
        Json running = Json::Object();
        running.Set("test", Json::Utf8(SelfTestName(log.currentOperation)));
        running.Set("percent", Json::Number(log.completionPercent));
        answer.SetSelfTest("running", std::move(running));
    } else {
        answer.SetSelfTest("running", Json::Null());
    }
    Json results = Json::Array();
    for (const SelfTestEntry& e : log.results) results.Add(EntryJson(e));
    answer.SetSelfTest("results", std::move(results));
}

// The outcome of a result: its exit code and error code.
CliRun Conclude(Answer& answer, const std::string& name, const SelfTestEntry* result, bool stated) {
    if (result == nullptr) {
        if (stated) {
            answer.Say(name + ": no self-test result in the drive's log.");
            return answer.Finish(ExitSuccess);
        }
        return answer.Fail(ExitSelfTestAborted, "selftest-aborted", std::nullopt,
                           name + ": the self-test ended without a result in the drive's log.");
    }
    answer.SetSelfTest("result", EntryJson(*result));
    const std::string line = name + ": " + EntryLine(*result) + ".";
    switch (result->Verdict()) {
        case SelfTestVerdict::Passed:
            answer.Say(line);
            return answer.Finish(ExitSuccess);
        case SelfTestVerdict::Aborted:
            return answer.Fail(ExitSelfTestAborted, "selftest-aborted", std::nullopt, line);
        default:  // failed, or a result the standard does not define: not a pass
            return answer.Fail(ExitSelfTestFailed, "selftest-failed", std::nullopt, line);
    }
}

// Progress on standard error: a bar redrawn in place on a console, a line per change elsewhere.
class ProgressReport {
public:
    // Quiet with --json: a management system reads one document and no other output.
    ProgressReport(const CliSystem& system, bool quiet) : system_(system), quiet_(quiet) {}
    ~ProgressReport() { End(); }
    void Show(const SelfTestLog& log) {
        if (quiet_ || !system_.progress) return;
        const unsigned percent = log.completionPercent > 100 ? 100u : log.completionPercent;
        const std::string test = SelfTestName(log.currentOperation) + " self-test";
        if (system_.progressIsConsole) {
            constexpr unsigned Width = 30;
            const unsigned filled = percent * Width / 100;
            char figure[8];
            std::snprintf(figure, sizeof figure, "%3u", percent);
            system_.progress("\r" + test + " [" + std::string(filled, '#') + std::string(Width - filled, ' ') + "] " +
                             figure + " %");
            drawn_ = true;
        } else if (static_cast<int>(percent) != last_) {
            system_.progress(test + ": " + std::to_string(percent) + " %\n");
        }
        last_ = static_cast<int>(percent);
    }
    void End() {
        if (drawn_ && system_.progress) system_.progress("\n");
        drawn_ = false;
    }

private:
    const CliSystem& system_;
    bool quiet_;
    int last_ = -1;
    bool drawn_ = false;
};

// Follows the running test to its end and concludes with its result.
CliRun Follow(const Request& request, Answer& answer, SelfTestDrive& drive, const CliSystem& system,
              const std::string& name, const SelfTestLog& before, std::uint8_t testCode,
              std::uint16_t extendedMinutes, bool started) {
    ProgressReport report(system, request.json);
    const auto wait = [&](std::uint32_t ms) {
        if (system.wait) system.wait(ms);
    };
    const FollowResult followed = FollowSelfTest(drive, wait, [&](const SelfTestLog& log) { report.Show(log); },
                                                 SelfTestMaxWaits(testCode, extendedMinutes), started);
    report.End();
    answer.SetSelfTest("logReads", Json::Unsigned(followed.reads));
    if (followed.end == FollowEnd::LogFailed)
        return answer.FailSystem("command-failed", drive.LastError(),
                                 name + ": the drive's self-test log could not be read while following the test; the "
                                        "drive may have gone away or refused it");
    SetLog(answer, *followed.log);
    if (followed.end == FollowEnd::TooLong)
        return answer.Fail(ExitSelfTestRunning, "selftest-running", std::nullopt,
                           name + ": " + RunningWords(*followed.log) + " far past its expected time; no longer "
                                  "followed.");
    return Conclude(answer, name, NewResult(before, *followed.log), false);
}

CliRun Run(const Request& request, const CliSystem& system) {
    Answer answer(request);
    discovery::PassScope scope;  // without --disk: the window's pass
    scope.askWhyNotOpened = true;
    if (request.disk) scope.everyDisk = true;
    std::optional<std::uint32_t> listingError;
    const std::vector<ExaminedDisk> examined = discovery::ExamineDrives(system.machine, scope, &listingError);
    if (listingError)
        return answer.FailSystem("listing-failed", *listingError, "the computer's drives could not be listed");
    const auto shown = std::find_if(examined.begin(), examined.end(), [&](const ExaminedDisk& seen) {
        return request.disk ? seen.record->phyDriveIndex == *request.disk : seen.verdict == DiskVerdict::Accepted;
    });
    const bool denied = std::any_of(examined.begin(), examined.end(), [](const ExaminedDisk& seen) {
        return seen.verdict == DiskVerdict::NotOpened && seen.openError == ErrorAccessDenied;
    });
    if (shown == examined.end()) {
        if (denied) return answer.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
        if (!request.disk)
            return answer.Fail(ExitNoSupportedDrive, "no-supported-drive", std::nullopt,
                               "No device detected: no supported drive (Tavik VX310 Series SSD) on this computer.");
        return answer.Fail(ExitNotSupported, "not-supported", std::nullopt,
                           "there is no disk " + std::to_string(*request.disk) + "; see zephra-cli list.");
    }
    const discovery::DiskInfo& record = *shown->record;
    const std::string name = "disk " + std::to_string(record.phyDriveIndex) + " (" + Latin1ToUtf8(record.modelNumber.data()) + ")";
    if (shown->verdict == DiskVerdict::NotOpened && shown->openError == ErrorAccessDenied)
        return answer.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
    if (!OnNvmePath(*shown))
        return answer.Fail(ExitNotSupported, "not-supported", std::nullopt,
                           "disk " + std::to_string(record.phyDriveIndex) +
                               " did not identify on an NVMe path, so it is sent no self-test.");
    answer.SetDrive(DriveJson(record));

    SelfTestDrive drive(record, system.machine.io);
    if (!drive.Opened()) {
        if (drive.OpenError() == ErrorAccessDenied)
            return answer.Fail(ExitAccessDenied, "access-denied", ErrorAccessDenied, NeedsAdministrator);
        return answer.FailSystem("open-failed", drive.OpenError(), name + " could not be opened");
    }
    const std::optional<SelfTestSupport> support = drive.Support();
    if (!support) return answer.FailSystem("identify-failed", drive.LastError(), name + " did not identify");
    answer.SetSelfTest("supported", Json::Bool(support->offered));
    answer.SetSelfTest("extendedTestMinutes", Json::Number(support->extendedMinutes));
    if (!support->offered)
        return answer.Fail(ExitSelfTestNotSupported, "selftest-not-supported", std::nullopt,
                           name + " does not offer the device self-test.");

    const std::optional<SelfTestLog> before = drive.ReadLog();
    if (!before) return answer.FailSystem("command-failed", drive.LastError(), name + ": its self-test log could not be read");
    SetLog(answer, *before);
    answer.SetSelfTest("started", Json::Bool(false));

    switch (*request.action) {
        case Action::Status: {
            if (before->Running()) {
                answer.Say(name + ": " + RunningWords(*before) + ".");
                if (!request.wait) return answer.Finish(ExitSuccess);
                return Follow(request, answer, drive, system, name, *before, before->currentOperation,
                              support->extendedMinutes, false);
            }
            answer.Say(name + ": no self-test is running.");
            for (const SelfTestEntry& e : before->results) answer.Say("  " + EntryLine(e));
            return Conclude(answer, name, before->Newest(), true);
        }
        case Action::Abort: {
            if (!before->Running()) {
                answer.Say(name + ": no self-test is running; nothing to abort.");
                return answer.Finish(ExitSuccess);
            }
            if (!drive.Send(SelfTestAction::Abort))
                return answer.FailSystem("command-failed", drive.LastError(), name + ": the abort was refused");
            answer.SetSelfTest("aborted", Json::Bool(true));
            if (const std::optional<SelfTestLog> after = drive.ReadLog()) SetLog(answer, *after);
            answer.Say(name + ": the " + SelfTestName(before->currentOperation) + " self-test was aborted.");
            return answer.Finish(ExitSuccess);
        }
        default: break;
    }

    const bool extended = *request.action == Action::Extended;
    if (before->Running())
        return answer.Fail(ExitSelfTestRunning, "selftest-running", std::nullopt,
                           name + ": " + RunningWords(*before) +
                               "; none started. Follow it with selftest status --wait or stop it with selftest abort.");
    if (!drive.Send(extended ? SelfTestAction::Extended : SelfTestAction::Short))
        return answer.FailSystem("command-failed", drive.LastError(), name + ": the drive refused the self-test");
    answer.SetSelfTest("started", Json::Bool(true));
    const std::string test = extended ? "extended" : "short";
    if (!request.wait) {
        answer.Say(name + ": " + test + " self-test started. Follow it with zephra-cli selftest status.");
        return answer.Finish(ExitSuccess);
    }
    return Follow(request, answer, drive, system, name, *before, extended ? 2 : 1, support->extendedMinutes, true);
}

}  // namespace

bool IsSelfTestCommand(const std::vector<std::string>& args) {
    bool named = false;
    bool first = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // Help and version go to the command line's own answer, wherever they stand.
        if (arg == "--help" || arg == "-h" || arg == "/?" || arg == "--version") return false;
        if (arg == "--disk" || arg == "--log") {
            ++i;
            continue;
        }
        if (!arg.empty() && arg[0] == '-') continue;
        if (first) named = arg == "selftest";
        first = false;
    }
    return named;
}

CliRun RunSelfTest(const std::vector<std::string>& args, const CliSystem& system) {
    Request request;
    std::string error;
    if (!Parse(args, request, error)) {
        Answer answer(request);
        CliRun run = answer.Fail(ExitUsage, "usage", std::nullopt, error);
        if (!request.json) run.err += "\n" + std::string(CliUsage());
        return run;
    }
    CommandLog log;
    if (request.logPath) {
        if (const auto refusal = log.Open(*request.logPath, system))
            return Answer(request).Fail(ExitUsage, "usage", std::nullopt, *refusal);
    }
    return Run(request, system);
}

LastSelfTest ReadLastSelfTest(const CliSystem& system, const discovery::DiskInfo& drive) {
    LastSelfTest last;
    SelfTestDrive opened(drive, system.machine.io);
    if (!opened.Opened()) return last;
    const std::optional<SelfTestLog> log = opened.ReadLog();
    if (!log) {
        last.line = "not read";
        return last;
    }
    if (const SelfTestEntry* newest = log->Newest()) {
        last.json = EntryJson(*newest);
        last.line = EntryLine(*newest);
    } else {
        last.line = "none";
    }
    if (log->Running()) last.line += "; " + RunningWords(*log);
    return last;
}

}  // namespace cli
