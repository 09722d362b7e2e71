#pragma once
// The simulated machine's side of the shutdown: a process token that may or may not hold
// the shutdown privilege, and a session that records each shutdown request with its flags.
// What an accepted request does beyond that is the owner's choice (onAccepted): the demo
// ends its process, as the real system would end it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ShutdownIo.h"

namespace sim {

struct SimShutdownRequest {
    std::uint32_t flags = 0;
    std::uint32_t reason = 0;
};

// "ExitWindowsEx flags 0x5 reason 0x0"
std::string FormatShutdownRequest(const SimShutdownRequest& request);

class SimShutdown : public platform::ShutdownIo {
public:
    // Faults: a token without the privilege (the adjustment then reports 1300), and calls
    // refused with an error code (0: not refused).
    bool holdsShutdownPrivilege = true;
    std::uint32_t refuseOpenToken = 0;
    std::uint32_t refuseExit = 0;
    // Called with each accepted request, after it is recorded.
    std::function<void(const SimShutdownRequest&)> onAccepted;

    // Accepted requests only.
    const std::vector<SimShutdownRequest>& Requests() const { return requests_; }
    // Every call as "Name argument... -> outcome", in order.
    const std::vector<std::string>& Calls() const { return calls_; }
    bool PrivilegeEnabled() const { return privilegeEnabled_; }
    std::size_t OpenTokens() const { return openTokens_; }
    void SetLastError(std::uint32_t error) { lastError_ = error; }

    // platform::ShutdownIo. The last error is kept for the one thread that calls these.
    bool OpenProcessToken(std::uint32_t access, platform::Handle* token) override;
    bool LookupPrivilege(const wchar_t* name, platform::PrivilegeId* id) override;
    bool AdjustTokenPrivilege(platform::Handle token, platform::PrivilegeId id, std::uint32_t attributes) override;
    bool CloseHandle(platform::Handle handle) override;
    bool ExitSession(std::uint32_t flags, std::uint32_t reason) override;
    std::uint32_t LastError() override { return lastError_; }

private:
    bool Fail(std::uint32_t error, std::string call);
    bool IsToken(platform::Handle handle) const;

    std::vector<SimShutdownRequest> requests_;
    std::vector<std::string> calls_;
    std::vector<std::uintptr_t> tokens_;
    std::size_t openTokens_ = 0;
    std::uintptr_t nextToken_ = 0x7000;
    bool privilegeEnabled_ = false;
    std::uint32_t lastError_ = 0;
};

}  // namespace sim
