#pragma once
// What the command line was asked: the arguments read into a Request, or a usage error.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// One value per command; a new command adds its value here, its name in CommandName and
// its word in Parse, and a dispatch line in RunCli.
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

// The command's name in the JSON documents; null for none.
const char* CommandName(Command command);

// args without the program name. False with the reason in error; request.json is set
// even then, so that a usage error is told in JSON when JSON was asked for.
bool Parse(const std::vector<std::string>& args, Request& request, std::string& error);

}  // namespace cli
