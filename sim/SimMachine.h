#pragma once
// The simulated machine: a platform::DeviceIo whose device paths lead to simulated
// driver stacks, with per-thread last error, injected refusals and a trace of every
// device-control call.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/DeviceIo.h"
#include "sim/SimCodes.h"
#include "sim/SimFault.h"

namespace sim {

// One device-control call as a driver stack receives it. in is a copy of the caller's
// request, so a stack may write out freely even when the caller passed one buffer.
struct SimCall {
    std::uint32_t code = 0;
    const std::uint8_t* in = nullptr;
    std::uint32_t inSize = 0;
    std::uint8_t* out = nullptr;
    std::uint32_t outSize = 0;
};

struct SimResult {
    bool ok = false;
    std::uint32_t error = ErrorSuccess;  // set when !ok
    std::uint32_t bytesReturned = 0;

    static SimResult Success(std::uint32_t bytes) { return {true, ErrorSuccess, bytes}; }
    static SimResult Failure(std::uint32_t error) { return {false, error, 0}; }
};

// What a path opens: a driver stack with the device behind it.
class SimEndpoint {
public:
    virtual ~SimEndpoint() = default;
    virtual SimResult IoControl(const SimCall& call) = 0;
    // The medium that ReadFile sees; null when the path has none.
    virtual std::vector<std::uint8_t>* Media() { return nullptr; }
    // Copies up to size bytes of the medium from position into out and sets count; false
    // when the path has no medium. A stack whose medium is made at its first write
    // overrides it, so that reading does not make it.
    virtual bool ReadMedia(std::uint64_t position, std::uint8_t* out, std::uint32_t size, std::uint32_t& count);
    // Back to the state it was built in: what earlier calls left behind (a half-done
    // exchange, a written medium) and the faults armed on it are gone. A stack that keeps
    // anything between calls overrides it; the devices behind it are reset by their owner.
    virtual void Reset() {}
};

struct SimTraceEntry {
    std::wstring path;
    std::uint32_t code = 0;
    std::vector<std::uint8_t> request;  // inSize bytes as passed
    std::vector<std::uint8_t> reply;    // bytesReturned bytes of the output
    bool ok = false;
    std::uint32_t error = ErrorSuccess;
};

std::string FormatTraceEntry(const SimTraceEntry& entry);

// Which calls a reply cut takes, by control code and request, and how many bytes of the
// reply it keeps; none for a call it leaves alone.
using SimReplyCut =
    std::function<std::optional<std::uint32_t>(std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize)>;

class SimMachine : public platform::DeviceIo {
public:
    SimMachine() = default;
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // Paths compare without regard to letter case. Attaching replaces what was there;
    // handles opened on the old device then fail with ErrorDeviceNotConnected.
    void Attach(std::wstring_view path, std::shared_ptr<SimEndpoint> endpoint);
    void Detach(std::wstring_view path);

    // Faults. An empty path matches every path; code 0 matches every control code.
    void RefuseIoControl(std::wstring_view path, std::uint32_t code, std::uint32_t error,
                         std::uint32_t times = Forever);
    void RefuseOpen(std::wstring_view path, std::uint32_t error, std::uint32_t times = Forever);
    // The call succeeds, but the driver hands back only the first `keep` bytes of its reply
    // (0: an empty one); the caller's buffer past them stays as it was.
    void CutReplies(std::wstring_view path, std::uint32_t code, std::uint32_t keep, std::uint32_t times = Forever);
    void CutReplies(std::wstring_view path, SimReplyCut cut, std::uint32_t times = Forever);
    void ClearRefusals();  // and the cuts

    // Runs action once, just before the nth open of path with exactly this access (the
    // machine may be changed there, as a person would between two of the program's steps).
    void BeforeOpen(std::wstring_view path, std::uint32_t access, std::uint32_t nth, std::function<void()> action);

    std::vector<SimTraceEntry> Trace() const;
    void ClearTrace();
    // Whether calls are kept in the trace (they are unless told otherwise); a long run
    // that never reads it need not pay for copying every request.
    void KeepTrace(bool keep);

    // The machine as it was before anything was attached: no device, handle, fault, trace,
    // debug line or last error; handles and attachments are numbered from the start again.
    // Whoever attached the devices attaches them again (SimComputer::Reset does). Whether
    // the trace is kept stays as it was set.
    void Reset();
    std::vector<std::wstring> DebugLines() const;
    std::size_t OpenHandleCount() const;

    // platform::DeviceIo
    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t creation, std::uint32_t flagsAndAttributes) override;
    bool Close(platform::Handle handle) override;
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* bytesReturned) override;
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override;
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override;
    std::uint32_t LastError() override;
    void SetLastError(std::uint32_t error) override;  // the calling thread's
    void DebugOutput(std::wstring_view text) override;

private:
    struct Attached {
        std::wstring path;
        std::shared_ptr<SimEndpoint> endpoint;
        std::uint64_t generation;
    };
    struct OpenHandle {
        std::wstring key;
        std::uint64_t generation;
        std::uint32_t access;
        std::uint64_t position = 0;
    };
    struct Refusal {
        std::wstring key;
        std::uint32_t code;
        std::uint32_t error;
        SimFaultCount count;
    };

    static std::wstring KeyOf(std::wstring_view path);
    bool Fail(std::uint32_t error);
    // The handle's device, or null with the last error set.
    SimEndpoint* Resolve(platform::Handle handle, OpenHandle** open);
    std::uint32_t TakeRefusal(std::vector<Refusal>& refusals, const std::wstring& key, std::uint32_t code);
    struct Cut {
        std::wstring key;
        SimReplyCut cut;
        SimFaultCount count;
    };
    std::optional<std::uint32_t> TakeCut(const std::wstring& key, std::uint32_t code, const std::vector<std::uint8_t>& in);

    mutable std::recursive_mutex mutex_;
    std::map<std::wstring, Attached> devices_;
    std::map<std::uintptr_t, OpenHandle> handles_;
    std::vector<Refusal> ioRefusals_;
    std::vector<Refusal> openRefusals_;
    std::vector<Cut> cuts_;
    struct OpenAction {
        std::wstring key;
        std::uint32_t access;
        std::uint32_t remaining;  // opens until it runs
        std::function<void()> action;
    };
    std::vector<OpenAction> openActions_;
    std::vector<SimTraceEntry> trace_;
    bool keepTrace_ = true;
    std::vector<std::uint8_t> request_;  // the caller's request, copied, when no trace keeps it
    std::vector<std::wstring> debugLines_;
    std::map<std::thread::id, std::uint32_t> lastError_;
    std::uint64_t nextGeneration_ = 1;
    std::uintptr_t nextHandle_ = 0x1000;
};

}  // namespace sim
