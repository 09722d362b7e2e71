#pragma once
// Every call the program makes into the simulated system passes through here: one at a
// time (the machine is not built for two threads at once), and written to the trace,
// one line per call, when there is one:
//
//     <sequence> <thread> <Function>(<arguments>) -> <result>
//
// sequence counts from 000001; thread is "ui" for the thread that runs the windows and
// "worker" for the rescan worker; Function is the system function the seam stands for;
// results are true/false, a handle, a number or a configuration-manager code, and a
// failure adds ", error <last error>" where the system sets one.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/DeviceInstall.h"
#include "platform/DeviceIo.h"
#include "platform/DeviceWatchIo.h"
#include "platform/System.h"
#include "platform/Volumes.h"

namespace demo {

class TraceLog {
public:
    // No file: calls are only serialised.
    explicit TraceLog(std::FILE* file = nullptr) : file_(file), uiThread_(std::this_thread::get_id()) {}

    // Held around every call into the machine, and by whatever changes the machine.
    std::recursive_mutex& MachineLock() { return machine_; }
    void Write(const std::string& call, const std::string& result);
    std::uint64_t Lines() const;

private:
    std::FILE* file_;
    std::thread::id uiThread_;
    std::recursive_mutex machine_;
    mutable std::mutex write_;
    std::uint64_t sequence_ = 0;
};

// The three discovery seams and the device watch, traced.
class TracedSystem {
public:
    TracedSystem(TraceLog& log, const platform::System& machine, platform::DeviceWatchIo& watch);
    ~TracedSystem();
    TracedSystem(const TracedSystem&) = delete;
    TracedSystem& operator=(const TracedSystem&) = delete;

    platform::System Machine();
    platform::DeviceWatchIo& Watch();

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// Text helpers of the trace format (tested on their own).
std::string TraceText(std::wstring_view text);  // "..." with \ and " escaped, non-ASCII as \uXXXX
std::string TraceGuid(const platform::Guid& guid);
std::string TraceHex(std::uint64_t value);

}  // namespace demo
