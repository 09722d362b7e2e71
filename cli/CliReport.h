#pragma once
// What the commands say: the facts of a drive in words, its JSON object, and the Reply
// that becomes either the text on the two streams or one JSON document.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/CliArgs.h"
#include "cli/CliBasics.h"
#include "cli/Json.h"
#include "devicecmd/HealthDecode.h"
#include "discovery/DebugLog.h"
#include "discovery/Enumerate.h"

namespace cli {


// Whether the drive identified on one of the NVMe paths.
bool Identified(discovery::DiskVerdict verdict);
// The path commands take, for an identified drive, as JSON and as text; "other" for the rest.
std::pair<const char*, const char*> TransportNames(const discovery::ExaminedDisk& seen);

struct DriveFacts {
    const discovery::ExaminedDisk& seen;
    bool identified;
    bool supported;
    std::uint64_t capacityBytes;
    std::string capacityText;
    std::string status;  // the state's words, for a supported drive
};

DriveFacts FactsOf(const discovery::ExaminedDisk& seen, const CliSystem& system);
Json DriveJson(const DriveFacts& facts);
Json HealthJson(const std::optional<devicecmd::DriveHealth>& health);
// "disk N (model)", as messages name a drive.
std::string DriveLine(const DriveFacts& facts);
// Rows of cells in columns two spaces apart, each row a line.
std::string Aligned(const std::vector<std::vector<std::string>>& rows);

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

}  // namespace cli
