#include "sim/SimShutdown.h"

#include <algorithm>
#include <cstdio>

#include "sim/SimCodes.h"

namespace sim {
namespace {

// The shutdown privilege's identifier on the simulated system.
constexpr platform::PrivilegeId kShutdownPrivilege{19, 0};
constexpr std::uint32_t ErrorNoSuchPrivilege = 1313;
constexpr std::uint32_t ErrorPrivilegeNotHeld = 1314;

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; text && *text; ++text) narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

}  // namespace

std::string FormatShutdownRequest(const SimShutdownRequest& request) {
    return "ExitWindowsEx flags " + Hex(request.flags) + " reason " + Hex(request.reason);
}

bool SimShutdown::Fail(std::uint32_t error, std::string call) {
    lastError_ = error;
    calls_.push_back(std::move(call) + " -> error " + std::to_string(error));
    return false;
}

bool SimShutdown::IsToken(platform::Handle handle) const {
    return std::find(tokens_.begin(), tokens_.end(), reinterpret_cast<std::uintptr_t>(handle)) != tokens_.end();
}

bool SimShutdown::OpenProcessToken(std::uint32_t access, platform::Handle* token) {
    const std::string call = "OpenProcessToken access " + Hex(access);
    if (refuseOpenToken) return Fail(refuseOpenToken, call);
    if (!token) return Fail(ErrorInvalidParameter, call);
    const std::uintptr_t handle = nextToken_++;
    tokens_.push_back(handle);
    ++openTokens_;
    *token = reinterpret_cast<platform::Handle>(handle);
    calls_.push_back(call + " -> ok");
    return true;
}

bool SimShutdown::LookupPrivilege(const wchar_t* name, platform::PrivilegeId* id) {
    const std::string call = "LookupPrivilegeValue " + Narrow(name);
    if (!name || !id || std::wstring(name) != platform::ShutdownPrivilegeName) {
        return Fail(ErrorNoSuchPrivilege, call);
    }
    *id = kShutdownPrivilege;
    calls_.push_back(call + " -> ok");
    return true;
}

bool SimShutdown::AdjustTokenPrivilege(platform::Handle token, platform::PrivilegeId id, std::uint32_t attributes) {
    const std::string call = "AdjustTokenPrivileges attributes " + Hex(attributes);
    if (!IsToken(token)) return Fail(ErrorInvalidHandle, call);
    // Like the system: the call succeeds, and the last error says whether all was assigned.
    const bool known = id.lowPart == kShutdownPrivilege.lowPart && id.highPart == kShutdownPrivilege.highPart;
    if (!known || !holdsShutdownPrivilege) {
        lastError_ = platform::ErrorNotAllAssigned;
        calls_.push_back(call + " -> ok, not all assigned");
        return true;
    }
    privilegeEnabled_ = (attributes & platform::PrivilegeEnabled) != 0;
    lastError_ = ErrorSuccess;
    calls_.push_back(call + " -> ok");
    return true;
}

bool SimShutdown::CloseHandle(platform::Handle handle) {
    const auto it = std::find(tokens_.begin(), tokens_.end(), reinterpret_cast<std::uintptr_t>(handle));
    if (it == tokens_.end()) return Fail(ErrorInvalidHandle, "CloseHandle");
    tokens_.erase(it);
    --openTokens_;
    calls_.push_back("CloseHandle -> ok");
    return true;
}

bool SimShutdown::ExitSession(std::uint32_t flags, std::uint32_t reason) {
    const SimShutdownRequest request{flags, reason};
    const std::string call = FormatShutdownRequest(request);
    if (refuseExit) return Fail(refuseExit, call);
    // Shutting down needs the privilege enabled in the token.
    if ((flags & platform::ExitShutdown) && !privilegeEnabled_) return Fail(ErrorPrivilegeNotHeld, call);
    requests_.push_back(request);
    calls_.push_back(call + " -> accepted");
    if (onAccepted) onAccepted(request);
    return true;
}

}  // namespace sim
