#include "demo/DemoShutdown.h"

#include <cstdio>
#include <fstream>

namespace demo {

std::string TracedShutdown::Result(bool ok) {
    return ok ? "true" : "false, error " + std::to_string(inner_.LastError());
}

bool TracedShutdown::OpenProcessToken(std::uint32_t access, platform::Handle* token) {
    const bool ok = inner_.OpenProcessToken(access, token);
    log_.Write("OpenProcessToken(GetCurrentProcess(), " + TraceHex(access) + ")",
               ok ? "true, " + TraceHex(reinterpret_cast<std::uintptr_t>(*token)) : Result(false));
    return ok;
}

bool TracedShutdown::LookupPrivilege(const wchar_t* name, platform::PrivilegeId* id) {
    const bool ok = inner_.LookupPrivilege(name, id);
    log_.Write("LookupPrivilegeValueW(NULL, " + TraceText(name ? name : L"") + ")",
               ok ? "true, luid " + TraceHex(id->lowPart) : Result(false));
    return ok;
}

bool TracedShutdown::AdjustTokenPrivilege(platform::Handle token, platform::PrivilegeId id, std::uint32_t attributes) {
    const bool ok = inner_.AdjustTokenPrivilege(token, id, attributes);
    // The system says in the last error whether everything was assigned, even on success.
    log_.Write("AdjustTokenPrivileges(" + TraceHex(reinterpret_cast<std::uintptr_t>(token)) + ", FALSE, luid " +
                   TraceHex(id.lowPart) + " attributes " + TraceHex(attributes) + ")",
               (ok ? std::string("true") : std::string("false")) + ", last error " +
                   std::to_string(inner_.LastError()));
    return ok;
}

bool TracedShutdown::CloseHandle(platform::Handle handle) {
    const bool ok = inner_.CloseHandle(handle);
    log_.Write("CloseHandle(" + TraceHex(reinterpret_cast<std::uintptr_t>(handle)) + ")", Result(ok));
    return ok;
}

std::string TracedShutdown::ExitCall(std::uint32_t flags, std::uint32_t reason) {
    return "ExitWindowsEx(" + TraceHex(flags) + ", " + TraceHex(reason) + ")";
}

bool TracedShutdown::ExitSession(std::uint32_t flags, std::uint32_t reason) {
    // An accepted request may end the process inside the call; whoever ends it writes
    // the line then.
    const bool ok = inner_.ExitSession(flags, reason);
    log_.Write(ExitCall(flags, reason), Result(ok));
    return ok;
}

std::uint32_t TracedShutdown::LastError() {
    const std::uint32_t error = inner_.LastError();
    log_.Write("GetLastError()", std::to_string(error));
    return error;
}

std::optional<std::uint8_t> ReadStateFile(const std::string& path) {
    std::ifstream file(path);
    std::string value;
    if (!file || !(file >> value)) return std::nullopt;
    if (value == "0") return 0;
    if (value == "2") return 2;
    if (value == "ff") return 0xFF;
    return std::nullopt;
}

bool WriteStateFile(const std::string& path, std::uint8_t state) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) return false;
    const bool ok = state == 0xFF ? std::fputs("ff\n", file) >= 0 : std::fprintf(file, "%u\n", state) > 0;
    return std::fclose(file) == 0 && ok;
}

}  // namespace demo
