#pragma once
// The shutdown as the demo plays it: every call traced like the rest of the system, and
// the VX310's optimize state kept in a file between runs, so that a switch followed by
// the "restart" shows the new state when the demo is started again.

#include <cstdint>
#include <optional>
#include <string>

#include "demo/TracedSystem.h"
#include "platform/ShutdownIo.h"

namespace demo {

class TracedShutdown final : public platform::ShutdownIo {
public:
    TracedShutdown(TraceLog& log, platform::ShutdownIo& inner) : log_(log), inner_(inner) {}

    bool OpenProcessToken(std::uint32_t access, platform::Handle* token) override;
    bool LookupPrivilege(const wchar_t* name, platform::PrivilegeId* id) override;
    bool AdjustTokenPrivilege(platform::Handle token, platform::PrivilegeId id, std::uint32_t attributes) override;
    bool CloseHandle(platform::Handle handle) override;
    bool ExitSession(std::uint32_t flags, std::uint32_t reason) override;
    std::uint32_t LastError() override;

    // "ExitWindowsEx(0x5, 0x0)", as the trace writes the request.
    static std::string ExitCall(std::uint32_t flags, std::uint32_t reason);

private:
    std::string Result(bool ok);

    TraceLog& log_;
    platform::ShutdownIo& inner_;
};

// The state file holds one line: 0, 2 or ff, as --state takes it. Nothing when the file
// does not exist or says something else.
std::optional<std::uint8_t> ReadStateFile(const std::string& path);
bool WriteStateFile(const std::string& path, std::uint8_t state);

}  // namespace demo
