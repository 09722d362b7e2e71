#pragma once
// Ready-made drives for a SimMachine: a VX310 behind each driver stack, and an ATA drive.

#include <cstdint>
#include <memory>
#include <string>

#include "sim/SimAtaDevice.h"
#include "sim/SimIntelRst.h"
#include "sim/SimMachine.h"
#include "sim/SimNvmeController.h"
#include "sim/SimStacks.h"

namespace sim {

std::wstring PhysicalDrivePath(std::uint32_t number);  // \\.\PhysicalDriveN
std::wstring AdapterPath(std::uint32_t number);        // the adapter's device-interface path

template <typename Stack, typename Device>
struct SimDrive {
    std::shared_ptr<Device> device;
    std::shared_ptr<Stack> stack;
    std::wstring physicalPath;
    std::wstring adapterPath;  // empty when the drive is reached only through its physical path
};

using SimInboxDrive = SimDrive<SimInboxNvmeStack, SimNvmeController>;
using SimMiniportDrive = SimDrive<SimMiniportStack, SimNvmeController>;
using SimBridgeDrive = SimDrive<SimUsbBridgeStack, SimNvmeController>;
using SimSataDrive = SimDrive<SimAtaStack, SimAtaDevice>;

// A VX310 on the inbox NVMe driver at \\.\PhysicalDriveN.
SimInboxDrive AttachInboxDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config = {});
// A VX310 on the "NvmeMini" miniport: the miniport answers at \\.\PhysicalDriveN and at the
// adapter path.
SimMiniportDrive AttachMiniportDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config = {});
// A VX310 in a USB enclosure with the bridge at \\.\PhysicalDriveN.
SimBridgeDrive AttachBridgeDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config = {});
// A VX310 behind Intel RST: its disk at \\.\PhysicalDriveN answers SCSI address
// (port 2, PathId 1), the port at \\.\Scsi2: takes the "IntelNvm" pass-through.
struct SimRstDrive {
    std::shared_ptr<SimNvmeController> device;
    std::shared_ptr<SimRstNvmeDiskStack> stack;
    std::shared_ptr<SimRstPort> port;
    std::wstring physicalPath;
    std::wstring portPath;
    SimScsiAddress address;
};
SimRstDrive AttachIntelRstDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config = {});
// An ATA drive with the vendor firmware at \\.\PhysicalDriveN (SAT and ATA pass-through).
SimSataDrive AttachSataDrive(SimMachine& machine, std::uint32_t number, SimAtaDevice::Config config = {});

}  // namespace sim
