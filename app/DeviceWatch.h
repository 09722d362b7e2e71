#pragma once
// Keeping up with disks as they come and go: the rescan worker, which asks the
// configuration manager every 500 ms to re-enumerate the device tree, and the test of
// which WM_DEVICECHANGE messages mean that a disk interface arrived or went away.
// No window here: this builds and is tested natively too.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/DeviceWatchIo.h"

// The worker's stop flag (`stopRescan`: 0 while it may run, 1 once it must stop), read
// and written atomically, with a signal that cuts its pause short so that it ends at once.
class RescanStop {
public:
    void Reset() { stopRescan_.store(0); }
    // Sets the flag and wakes a worker in its pause.
    void Raise();
    bool IsRaised() const { return stopRescan_.load() != 0; }
    // Waits for the given time or until the flag is raised, whichever comes first.
    void Pause(std::chrono::milliseconds duration);

private:
    std::atomic<std::int32_t> stopRescan_{0};
    std::mutex mutex_;  // only for the wake-up; the flag itself needs no lock
    std::condition_variable wake_;
};

// What the worker uses: the configuration manager, its stop, the pause between cycles and
// where its two failure lines go (standard output unless a test says otherwise).
struct RescanWorker {
    explicit RescanWorker(platform::DeviceWatchIo& io) : system(&io) {}

    platform::DeviceWatchIo* system;
    RescanStop stop;
    std::chrono::milliseconds pause{500};
    std::function<void(std::string_view line)> output;
};

// The worker thread's entry: parameter is the RescanWorker. Returns RescanBusLoop's result.
unsigned RescanThreadProc(void* parameter);
// Until the stop is raised: locate the root of the device tree, re-enumerate it
// asynchronously, pause. Returns 1 when it stops.
int RescanBusLoop(RescanWorker& worker);
// "CM_Locate_DevNode   failed:   %x\n " and its sibling, byte for byte.
std::string RescanFailureLine(std::string_view function, std::uint32_t code);

// A WM_DEVICECHANGE event with its data: true for the arrival or completed removal of a
// device interface (data is the address of a broadcast header, or 0).
bool IsDiskInterfaceChange(std::uint32_t event, std::uintptr_t data);
