#pragma once
// A simulated machine with one VX310 behind one NVMe path, opened as the program opens it.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devicecmd/Transport.h"
#include "platform/DeviceIo.h"
#include "sim/SimDrives.h"
#include "sim/SimMachine.h"

namespace e2e {

enum class NvmePath { Inbox, Miniport, Bridge, IntelRst };

inline const char* NameOf(NvmePath path) {
    switch (path) {
        case NvmePath::Inbox: return "inbox";
        case NvmePath::Miniport: return "miniport";
        case NvmePath::IntelRst: return "intelrst";
        default: return "bridge";
    }
}

// A caller's buffer with guard bytes on both sides: a write outside it shows in every
// build, not only under the sanitizers.
class GuardedBuffer {
public:
    static constexpr std::size_t GuardSize = 64;
    static constexpr std::uint8_t GuardByte = 0xA5;

    explicit GuardedBuffer(std::size_t size, std::uint8_t fill = 0)
        : bytes_(size + 2 * GuardSize, GuardByte), size_(size) {
        std::fill_n(bytes_.begin() + GuardSize, size, fill);
    }
    std::uint8_t* data() { return bytes_.data() + GuardSize; }
    std::vector<std::uint8_t> Contents() const {
        return {bytes_.begin() + GuardSize, bytes_.begin() + static_cast<std::ptrdiff_t>(GuardSize + size_)};
    }
    bool GuardsIntact() const {
        const auto intact = [](auto first, auto last) {
            return std::all_of(first, last, [](std::uint8_t b) { return b == GuardByte; });
        };
        return intact(bytes_.begin(), bytes_.begin() + GuardSize) &&
               intact(bytes_.end() - GuardSize, bytes_.end());
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t size_;
};

class Rig {
public:
    explicit Rig(NvmePath path, sim::SimNvmeConfig config = {}) {
        switch (path) {
            case NvmePath::Inbox: {
                auto drive = sim::AttachInboxDrive(machine, 1, std::move(config));
                controller = drive.device;
                inbox = drive.stack.get();
                stack = drive.stack;
                openPath = drive.physicalPath;
                code = devicecmd::TransportNvmeInbox;
                passThroughCode = sim::IoctlStorageProtocolCommand;
                break;
            }
            case NvmePath::Miniport: {
                auto drive = sim::AttachMiniportDrive(machine, 2, std::move(config));
                controller = drive.device;
                miniport = drive.stack.get();
                stack = drive.stack;
                openPath = drive.adapterPath;
                code = devicecmd::TransportNvmeMiniport;
                passThroughCode = sim::IoctlScsiMiniport;
                break;
            }
            case NvmePath::Bridge: {
                auto drive = sim::AttachBridgeDrive(machine, 3, std::move(config));
                controller = drive.device;
                bridge = drive.stack.get();
                stack = drive.stack;
                openPath = drive.physicalPath;
                code = devicecmd::TransportUsbBridge;
                passThroughCode = sim::IoctlScsiPassThrough;
                break;
            }
            case NvmePath::IntelRst: {
                auto drive = sim::AttachIntelRstDrive(machine, 4, std::move(config));
                controller = drive.device;
                rst = drive.port.get();
                stack = drive.stack;
                openPath = drive.physicalPath;
                code = devicecmd::TransportIntelRst;
                passThroughCode = sim::IoctlScsiMiniport;
                break;
            }
        }
        handle = platform::UniqueHandle::Open(machine, openPath, platform::AccessRead | platform::AccessWrite,
                                              platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                              platform::AttributeNormal);
    }

    platform::Device Device() const { return handle.Ref(); }
    devicecmd::TransportWord Transport(std::uint8_t layout = 0) const { return devicecmd::MakeTransport(code, layout); }

    // The path's own way of saying "failed" for the next k requests, before the drive sees them.
    void ArmBadStatus(std::uint32_t times) {
        if (inbox) inbox->busyStatus.Arm(times);
        if (miniport) miniport->badReturnCode.Arm(times);
        if (bridge) bridge->senseFault.Arm(sim::SenseUnitAttention, sim::AscPowerOnReset, 0, times);
        if (rst) rst->badReturnCode.Arm(times);
    }

    std::size_t PassThroughCalls() const {
        std::size_t count = 0;
        for (const auto& entry : machine.Trace()) count += entry.code == passThroughCode ? 1 : 0;
        return count;
    }

    sim::SimMachine machine;
    std::shared_ptr<sim::SimNvmeController> controller;
    std::shared_ptr<sim::SimDiskStack> stack;
    sim::SimInboxNvmeStack* inbox = nullptr;
    sim::SimMiniportStack* miniport = nullptr;
    sim::SimUsbBridgeStack* bridge = nullptr;
    sim::SimRstPort* rst = nullptr;
    std::wstring openPath;
    devicecmd::TransportCode code = devicecmd::TransportNvmeInbox;
    std::uint32_t passThroughCode = 0;
    platform::UniqueHandle handle;
};

constexpr NvmePath AllNvmePaths[] = {NvmePath::Inbox, NvmePath::Miniport, NvmePath::Bridge, NvmePath::IntelRst};

}  // namespace e2e
