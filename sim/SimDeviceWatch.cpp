#include "sim/SimDeviceWatch.h"

#include <algorithm>
#include <cstring>

namespace sim {

std::vector<std::uint8_t> DiskInterfaceBroadcast(const std::wstring& interfacePath) {
    // Size, type, reserved, class GUID, then the name as UTF-16 with its terminator.
    const std::size_t size = 28 + (interfacePath.size() + 1) * 2;
    std::vector<std::uint8_t> bytes(std::max<std::size_t>(size, 32), 0);
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put32(0, static_cast<std::uint32_t>(size));
    put32(4, platform::BroadcastDeviceInterface);
    std::copy(platform::DiskInterfaceClass.begin(), platform::DiskInterfaceClass.end(), bytes.begin() + 12);
    for (std::size_t i = 0; i < interfacePath.size(); ++i) {
        const auto c = static_cast<std::uint16_t>(interfacePath[i]);
        bytes[28 + 2 * i] = static_cast<std::uint8_t>(c);
        bytes[29 + 2 * i] = static_cast<std::uint8_t>(c >> 8);
    }
    return bytes;
}

void SimDeviceWatch::SetDelivery(Delivery delivery) {
    std::lock_guard<std::mutex> lock(mutex_);
    delivery_ = std::move(delivery);
}

void SimDeviceWatch::ScheduleChange(std::uint32_t afterCycles, bool arrival, std::wstring interfacePath,
                                    std::function<void()> apply) {
    std::lock_guard<std::mutex> lock(mutex_);
    changes_.push_back({afterCycles, arrival, std::move(interfacePath), std::move(apply)});
    std::stable_sort(changes_.begin(), changes_.end(),
                     [](const Change& a, const Change& b) { return a.afterCycles < b.afterCycles; });
}

void SimDeviceWatch::FailLocate(std::uint32_t result, std::uint32_t times) {
    std::lock_guard<std::mutex> lock(mutex_);
    locateResult_ = result;
    locateFault_.Arm(times);
}

void SimDeviceWatch::FailReenumerate(std::uint32_t result, std::uint32_t times) {
    std::lock_guard<std::mutex> lock(mutex_);
    reenumerateResult_ = result;
    reenumerateFault_.Arm(times);
}

void SimDeviceWatch::FailRegistration(std::uint32_t times) {
    std::lock_guard<std::mutex> lock(mutex_);
    registrationFault_.Arm(times);
}

std::uint32_t SimDeviceWatch::Cycles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cycles_;
}

std::uint32_t SimDeviceWatch::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::size_t SimDeviceWatch::Registrations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registrations_.size();
}

std::size_t SimDeviceWatch::PendingChanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_.size();
}

std::uint32_t SimDeviceWatch::LocateDevNode(platform::DevInst* node, const wchar_t* deviceId, std::uint32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    if (locateFault_.Fire()) return locateResult_;
    if (!node || flags != platform::LocateDevNodeNormal) return SimCrFailure;
    // Only the root is known by name here: the empty identifier or none.
    if (deviceId && deviceId[0] != L'\0') return SimCrNoSuchDevNode;
    *node = SimRootDevInst;
    return platform::ConfigSuccess;
}

std::uint32_t SimDeviceWatch::ReenumerateDevNode(platform::DevInst node, std::uint32_t /*flags*/) {
    std::vector<Change> due;
    std::vector<platform::Handle> recipients;
    Delivery delivery;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++calls_;
        if (reenumerateFault_.Fire()) return reenumerateResult_;
        if (node != SimRootDevInst) return SimCrInvalidDevNode;
        ++cycles_;
        while (!changes_.empty() && changes_.front().afterCycles <= cycles_) {
            due.push_back(std::move(changes_.front()));
            changes_.erase(changes_.begin());
        }
        for (const Registration& r : registrations_) recipients.push_back(r.recipient);
        delivery = delivery_;
    }
    // Outside the lock: the machine may take its own, and the windows may call back in.
    for (Change& change : due) {
        if (change.apply) change.apply();
        const std::vector<std::uint8_t> broadcast = DiskInterfaceBroadcast(change.interfacePath);
        const std::uint32_t event = change.arrival ? platform::DeviceArrival : platform::DeviceRemoveComplete;
        if (delivery) {
            for (platform::Handle recipient : recipients) delivery(recipient, event, broadcast);
        }
    }
    return platform::ConfigSuccess;
}

platform::Handle SimDeviceWatch::RegisterNotification(platform::Handle recipient, const void* filter,
                                                      std::uint32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (registrationFault_.Fire() || !recipient || !filter || flags != platform::DeviceNotifyWindowHandle)
        return nullptr;
    // Only a filter for the disk interface class is understood.
    const auto* bytes = static_cast<const std::uint8_t*>(filter);
    const platform::DeviceInterfaceFilter wanted = platform::DiskInterfaceFilter();
    if (std::memcmp(bytes, wanted.data(), 28) != 0) return nullptr;
    const std::uintptr_t id = nextRegistration_;
    nextRegistration_ += 4;
    registrations_.push_back({id, recipient});
    return reinterpret_cast<platform::Handle>(id);
}

bool SimDeviceWatch::UnregisterNotification(platform::Handle notification) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto id = reinterpret_cast<std::uintptr_t>(notification);
    const auto found = std::find_if(registrations_.begin(), registrations_.end(),
                                    [id](const Registration& r) { return r.id == id; });
    if (found == registrations_.end()) return false;
    registrations_.erase(found);
    return true;
}

}  // namespace sim
