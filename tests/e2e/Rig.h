#pragma once
// A simulated machine with one VX310 behind one NVMe path, opened as the program opens it.

#include <memory>
#include <string>

#include "devicecmd/Transport.h"
#include "platform/DeviceIo.h"
#include "sim/SimDrives.h"
#include "sim/SimMachine.h"

namespace e2e {

enum class NvmePath { Inbox, Miniport, Bridge };

inline const char* NameOf(NvmePath path) {
    switch (path) {
        case NvmePath::Inbox: return "inbox";
        case NvmePath::Miniport: return "miniport";
        default: return "bridge";
    }
}

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
    std::wstring openPath;
    devicecmd::TransportCode code = devicecmd::TransportNvmeInbox;
    std::uint32_t passThroughCode = 0;
    platform::UniqueHandle handle;
};

constexpr NvmePath AllNvmePaths[] = {NvmePath::Inbox, NvmePath::Miniport, NvmePath::Bridge};

}  // namespace e2e
