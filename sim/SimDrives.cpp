#include "sim/SimDrives.h"

namespace sim {

std::wstring PhysicalDrivePath(std::uint32_t number) {
    return L"\\\\.\\PhysicalDrive" + std::to_wstring(number);
}

std::wstring AdapterPath(std::uint32_t number) {
    return L"\\\\?\\scsi#disk&ven_nvme&prod_vx310#4&2f1a" + std::to_wstring(number) +
           L"&0&000000#{2accfe60-c130-11d2-b082-00a0c91efb8b}";
}

SimInboxDrive AttachInboxDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config) {
    auto controller = std::make_shared<SimNvmeController>(std::move(config));
    auto stack = std::make_shared<SimInboxNvmeStack>(controller);
    stack->SetDisk(number, controller->Identity().sectors);
    machine.Attach(PhysicalDrivePath(number), stack);
    return {controller, stack, PhysicalDrivePath(number), {}};
}

SimMiniportDrive AttachMiniportDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config) {
    auto controller = std::make_shared<SimNvmeController>(std::move(config));
    auto stack = std::make_shared<SimMiniportStack>(controller);
    stack->SetDisk(number, controller->Identity().sectors);
    machine.Attach(PhysicalDrivePath(number), stack);
    machine.Attach(AdapterPath(number), stack);
    return {controller, stack, PhysicalDrivePath(number), AdapterPath(number)};
}

SimBridgeDrive AttachBridgeDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config) {
    auto controller = std::make_shared<SimNvmeController>(std::move(config));
    auto stack = std::make_shared<SimUsbBridgeStack>(controller);
    stack->SetDisk(number, controller->Identity().sectors);
    machine.Attach(PhysicalDrivePath(number), stack);
    return {controller, stack, PhysicalDrivePath(number), {}};
}

SimRstDrive AttachIntelRstDrive(SimMachine& machine, std::uint32_t number, SimNvmeController::Config config) {
    auto controller = std::make_shared<SimNvmeController>(std::move(config));
    auto stack = std::make_shared<SimRstNvmeDiskStack>();
    stack->SetDisk(number, controller->Identity().sectors);
    auto port = std::make_shared<SimRstPort>();
    const SimScsiAddress address{2, 1, 0, 0};
    port->AddNvmeTarget(address, controller);
    machine.Attach(PhysicalDrivePath(number), std::make_shared<SimScsiAddressed>(stack, address));
    machine.Attach(ScsiPortPath(address.portNumber), port);
    return {controller, stack, port, PhysicalDrivePath(number), ScsiPortPath(address.portNumber), address};
}

SimSataDrive AttachSataDrive(SimMachine& machine, std::uint32_t number, SimAtaDevice::Config config) {
    const std::uint64_t sectors = config.identity.sectors;
    auto device = std::make_shared<SimAtaDevice>(std::move(config));
    auto stack = std::make_shared<SimAtaStack>(device);
    stack->SetDisk(number, sectors);
    machine.Attach(PhysicalDrivePath(number), stack);
    return {device, stack, PhysicalDrivePath(number), {}};
}

}  // namespace sim
