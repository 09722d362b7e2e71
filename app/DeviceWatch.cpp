#include "app/DeviceWatch.h"

#include <cstdio>
#include <cstring>

void RescanStop::Raise() {
    {
        // Under the lock, so that a worker between its check and its wait cannot miss it.
        std::lock_guard<std::mutex> lock(mutex_);
        stopRescan_.store(1);
    }
    wake_.notify_all();
}

void RescanStop::Pause(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, duration, [this] { return stopRescan_.load() != 0; });
}

std::string RescanFailureLine(std::string_view function, std::uint32_t code) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(code));
    std::string line(function);
    line += "   failed:   ";
    line += digits;
    line += "\n ";
    return line;
}

namespace {

void WriteLine(RescanWorker& worker, const std::string& line) {
    if (worker.output) {
        worker.output(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int RescanBusLoop(RescanWorker& worker) {
    while (!worker.stop.IsRaised()) {
        platform::DevInst root = 0;
        const std::uint32_t located = worker.system->LocateDevNode(&root, nullptr, platform::LocateDevNodeNormal);
        if (located != platform::ConfigSuccess) {
            WriteLine(worker, RescanFailureLine("CM_Locate_DevNode", located));
        } else {
            const std::uint32_t rescanned = worker.system->ReenumerateDevNode(root, platform::ReenumerateAsynchronous);
            if (rescanned != platform::ConfigSuccess)
                WriteLine(worker, RescanFailureLine("CM_Reenumerate_DevNode", rescanned));
        }
        worker.stop.Pause(worker.pause);
    }
    return 1;
}

unsigned RescanThreadProc(void* parameter) {
    RescanBusLoop(*static_cast<RescanWorker*>(parameter));
    return 1;
}

bool IsDiskInterfaceChange(std::uint32_t event, std::uintptr_t data) {
    if (event != platform::DeviceArrival && event != platform::DeviceRemoveComplete) return false;
    if (data == 0) return false;
    // The header's second 32-bit field, dbch_devicetype; nothing else of it is read.
    std::uint32_t deviceType = 0;
    std::memcpy(&deviceType, reinterpret_cast<const unsigned char*>(data) + 4, sizeof deviceType);
    return deviceType == platform::BroadcastDeviceInterface;
}
