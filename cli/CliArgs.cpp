#include "cli/CliArgs.h"

#include "cli/CliBasics.h"

#include <cstdlib>
#include <limits>

namespace cli {
namespace {

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

}  // namespace

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

}  // namespace cli
