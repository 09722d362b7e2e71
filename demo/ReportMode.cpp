// The demo's report mode: the device command layer alone against the simulated
// machine, a VX310 behind each NVMe path, identified, detected, its optimize state read,
// switched and read back, printed as a report.
//
//   zephra-demo --report [--transport inbox|miniport|bridge|rst|all] [--state 0|2] [--no-switch] [--trace]

#include "demo/ReportMode.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devicecmd/Detect.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Transport.h"
#include "platform/DeviceIo.h"
#include "sim/SimDrives.h"
#include "sim/SimMachine.h"

namespace {

struct Options {
    bool inbox = true, miniport = true, bridge = true, rst = true;
    std::uint8_t initialState = devicecmd::OptimizeStateOptimizable;
    bool doSwitch = true;
    bool trace = false;
};

struct DemoDrive {
    const char* title;
    std::wstring openPath;
    devicecmd::TransportCode transport;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string Field(const std::uint8_t* bytes, std::size_t width) {
    std::string text(reinterpret_cast<const char*>(bytes), width);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

const char* StateText(std::uint8_t state) {
    switch (state) {
        case devicecmd::OptimizeStateOptimized: return "Has been optimized";
        case devicecmd::OptimizeStateOptimizable: return "Optimizable";
        default: return "Unknown";
    }
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--transport" && i + 1 < argc) {
            const std::string which = argv[++i];
            options.inbox = which == "inbox" || which == "all";
            options.miniport = which == "miniport" || which == "all";
            options.bridge = which == "bridge" || which == "all";
            options.rst = which == "rst" || which == "all";
            if (!options.inbox && !options.miniport && !options.bridge && !options.rst) return false;
        } else if (arg == "--state" && i + 1 < argc) {
            const std::string value = argv[++i];
            if (value != "0" && value != "2") return false;
            options.initialState = static_cast<std::uint8_t>(value[0] - '0');
        } else if (arg == "--no-switch") {
            options.doSwitch = false;
        } else if (arg == "--switch") {
            options.doSwitch = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else {
            return false;
        }
    }
    return true;
}

// Identify, detect, name, state, switch, read back: one drive. Returns false on a failed step.
bool RunDrive(sim::SimMachine& machine, const DemoDrive& drive, const Options& options) {
    std::printf("== %s: %s ==\n", drive.title, Narrow(drive.openPath).c_str());
    platform::UniqueHandle handle = platform::UniqueHandle::Open(
        machine, drive.openPath, platform::AccessRead | platform::AccessWrite, platform::ShareRead | platform::ShareWrite,
        platform::OpenExisting, platform::AttributeNormal);
    if (!handle.IsUsable()) {
        std::printf("Open failed, error code %u\n", static_cast<unsigned>(machine.LastError()));
        return false;
    }
    const platform::Device device = handle.Ref();
    const devicecmd::TransportWord transport = devicecmd::MakeTransport(drive.transport);

    std::vector<std::uint8_t> identify(devicecmd::IdentifyDataSize, 0);
    if (!devicecmd::IdentifyDevice(device, transport, identify.data(), 1, 0)) {
        std::printf("Identify failed, error code %u\n", static_cast<unsigned>(machine.LastError()));
        return false;
    }
    std::printf("Model number:      %s\n", Field(&identify[24], 40).c_str());
    std::printf("Serial number:     %s\n", Field(&identify[4], 20).c_str());
    std::printf("Firmware revision: %s\n", Field(&identify[64], 8).c_str());

    std::uint8_t state = devicecmd::OptimizeStateUnread;
    if (!devicecmd::DetectController(device, transport, state)) {
        std::printf("Controller:        not recognised\n");
        return false;
    }
    std::array<std::uint8_t, devicecmd::VendorIdentifySize> record{};
    const devicecmd::TransportWord vendorTransport =
        devicecmd::MakeTransport(drive.transport, devicecmd::VendorLayout7305);
    if (devicecmd::ReadVendorIdentify(device, vendorTransport, record.data(), record.size()))
        std::printf("Controller:        %s\n", Field(record.data(), 64).c_str());
    std::printf("Optimize state:    %s (%u)\n", StateText(state), static_cast<unsigned>(state));

    if (!options.doSwitch) return true;
    const std::uint8_t wanted = state == devicecmd::OptimizeStateOptimized ? devicecmd::OptimizeStateOptimizable
                                                                           : devicecmd::OptimizeStateOptimized;
    devicecmd::CPrivateCMD7305 commands;
    if (!commands.SetOptimize(device, vendorTransport, wanted)) {
        std::printf("Switch to %u:       failed, error code %u\n", static_cast<unsigned>(wanted),
                    static_cast<unsigned>(machine.LastError()));
        return false;
    }
    std::printf("Switch to %u:       accepted\n", static_cast<unsigned>(wanted));
    std::uint8_t after = devicecmd::OptimizeStateUnread;
    if (!devicecmd::QueryOptimizeState(device, vendorTransport, &after)) {
        std::printf("Read back:         failed\n");
        return false;
    }
    std::printf("Read back:         %s (%u)\n", StateText(after), static_cast<unsigned>(after));
    return after == wanted;
}

}  // namespace

int demo::RunReport(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: zephra-demo --report [--transport inbox|miniport|bridge|rst|all] [--state 0|2] [--no-switch] [--trace]\n");
        return 2;
    }

    sim::SimMachine machine;
    sim::SimNvmeController::Config config;
    config.vendor.optimizeState = options.initialState;
    const auto inbox = sim::AttachInboxDrive(machine, 1, config);
    const auto miniport = sim::AttachMiniportDrive(machine, 2, config);
    const auto bridge = sim::AttachBridgeDrive(machine, 3, config);
    const auto rst = sim::AttachIntelRstDrive(machine, 4, config);

    std::vector<DemoDrive> drives;
    if (options.inbox) drives.push_back({"inbox NVMe driver", inbox.physicalPath, devicecmd::TransportNvmeInbox});
    if (options.miniport)
        drives.push_back({"NvmeMini miniport", miniport.adapterPath, devicecmd::TransportNvmeMiniport});
    if (options.bridge) drives.push_back({"USB-to-NVMe bridge", bridge.physicalPath, devicecmd::TransportUsbBridge});
    if (options.rst) drives.push_back({"Intel RST", rst.physicalPath, devicecmd::TransportIntelRst});

    bool allGood = true;
    for (const auto& drive : drives) {
        machine.ClearTrace();
        allGood = RunDrive(machine, drive, options) && allGood;
        if (options.trace) {
            std::printf("-- device-control calls --\n");
            for (const auto& entry : machine.Trace()) std::printf("%s\n", sim::FormatTraceEntry(entry).c_str());
        }
        std::printf("\n");
    }
    for (const auto& line : machine.DebugLines()) std::printf("debugger: %s", Narrow(line).c_str());
    std::printf(allGood ? "All drives answered.\n" : "Some drive failed.\n");
    return allGood ? 0 : 1;
}
