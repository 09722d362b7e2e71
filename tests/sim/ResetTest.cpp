// A simulated computer that has been used, broken and reset behaves exactly as a new one
// built the same way: what a long run (the drive fuzzer) relies on when it builds once.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "devicecmd/Detect.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Requests.h"
#include "devicecmd/ScsiAta.h"
#include "discovery/Enumerate.h"
#include "optimize/SwitchFlow.h"
#include "sim/SimCodes.h"
#include "sim/SimComputer.h"
#include "sim/SimShutdown.h"

namespace {

// One of each: the inbox driver (another maker's drive first), the miniport, a USB bridge,
// a SATA drive in a USB enclosure and one on its own adapter, with volumes.
struct Built {
    sim::SimComputer pc;
    sim::SimDisk* inbox = nullptr;
    sim::SimDisk* miniport = nullptr;
    sim::SimDisk* bridge = nullptr;
    sim::SimDisk* usbSata = nullptr;
    sim::SimDisk* sata = nullptr;

    Built() {
        const auto nvme = pc.AddAdapter(sim::AdapterNvme);
        pc.AddForeignNvmeDrive(nvme, "Other Maker NVMe SSD 1TB");
        inbox = &pc.AddVx310(nvme, sim::SimNvmePath::Inbox);
        miniport = &pc.AddVx310(pc.AddAdapter(sim::AdapterScsi), sim::SimNvmePath::Miniport);
        const auto usb = pc.AddAdapter(sim::AdapterUsb);
        bridge = &pc.AddVx310(usb, sim::SimNvmePath::Bridge);
        usbSata = &pc.AddSataDrive(usb);
        sata = &pc.AddSataDrive(pc.AddAdapter(sim::AdapterSata));
        pc.AddVolume(inbox->number, {L"C:\\"}, 500 * sim::GiB, 120 * sim::GiB);
        pc.AddVolume(bridge->number, {L"E:\\"}, 100 * sim::GiB, 10 * sim::GiB, L"exFAT");
    }
};

class YesUser : public SwitchUser {
public:
    bool ConfirmSwitch() override { return true; }
    void ShowSwitchError(const std::wstring& text) override { errors.push_back(text); }
    std::vector<std::wstring> errors;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    return text;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

platform::UniqueHandle OpenDrive(sim::SimComputer& pc, const std::wstring& path) {
    return platform::UniqueHandle::Open(pc.Machine(), path, platform::AccessRead | platform::AccessWrite,
                                        platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                        platform::AttributesNone);
}

// Everything the program can see of the computer, and what it leaves in it, as lines:
// every drive examined, every call with its whole reply, the switch, a command on each
// path, and the state of drives, handles, sets and last error afterwards.
std::vector<std::string> Probe(Built& b) {
    sim::SimComputer& pc = b.pc;
    std::vector<std::string> lines;
    auto add = [&lines](std::string line) { lines.push_back(std::move(line)); };

    for (const discovery::ExaminedDisk& disk : discovery::ExamineDrives(pc.System(), {true, true})) {
        add("disk " + std::to_string(disk.record->phyDriveIndex) + " verdict " +
            std::to_string(static_cast<int>(disk.verdict)) + " model " + disk.record->modelNumber.data() +
            " bus " + std::to_string(disk.record->busType) + " state " +
            std::to_string(disk.record->optimizeState) + " open error " + std::to_string(disk.openError));
    }
    discovery::DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    if (table[0]) {
        sim::SimShutdown shutdown;
        YesUser user;
        const SwitchResult result = RunOptimizeSwitch(*table[0], pc.Machine(), shutdown, user);
        add("switch " + std::to_string(static_cast<int>(result.outcome)) + " error " +
            std::to_string(result.errorCode) + " errors " + std::to_string(user.errors.size()));
    }
    discovery::ReleaseDrives(table);

    // A vendor state read and an identify on each path, the SATA ones through SAT and ATA.
    const struct {
        sim::SimDisk* disk;
        std::uint8_t transport;
    } targets[] = {{b.inbox, devicecmd::TransportNvmeInbox},
                   {b.bridge, devicecmd::TransportUsbBridge},
                   {b.sata, devicecmd::TransportSat},
                   {b.sata, devicecmd::TransportAta}};
    for (const auto& target : targets) {
        const platform::UniqueHandle handle = OpenDrive(pc, target.disk->physicalPath);
        const auto word = devicecmd::MakeTransport(target.transport, devicecmd::VendorLayout7305);
        std::uint8_t state = 0x77;
        const int read = devicecmd::QueryOptimizeState(handle.Ref(), word, &state);
        std::array<std::uint8_t, 4096> identify{};
        const int identified = devicecmd::IdentifyDevice(handle.Ref(), word, identify.data(), 1, 0);
        add("path " + std::to_string(target.transport) + " read " + std::to_string(read) + " state " +
            std::to_string(state) + " identify " + std::to_string(identified) + " last error " +
            std::to_string(pc.Machine().LastError()));
    }

    for (const sim::SimTraceEntry& entry : pc.Machine().Trace())
        add(sim::FormatTraceEntry(entry) + " reply " + Hex(entry.reply));
    for (const std::wstring& line : pc.Machine().DebugLines()) add("debug " + Narrow(line));
    for (sim::SimDisk* disk : {b.inbox, b.miniport, b.bridge}) {
        add("controller " + std::to_string(disk->number) + " state " +
            std::to_string(disk->controller->Firmware().OptimizeState()) + " commands " +
            std::to_string(disk->controller->History().size()));
    }
    for (sim::SimDisk* disk : {b.usbSata, b.sata}) {
        add("ata " + std::to_string(disk->number) + " state " + std::to_string(disk->ataDevice->Firmware().OptimizeState()) +
            " commands " + std::to_string(disk->ataDevice->History().size()) + " resets " +
            std::to_string(disk->ataDevice->Resets()));
    }
    add("sector 0 of the inbox drive " + Hex({(*b.inbox->stack->Media())[0], (*b.inbox->stack->Media())[510]}));
    add("open handles " + std::to_string(pc.Machine().OpenHandleCount()) + " sets " +
        std::to_string(pc.Tree().OpenSetCount()) + " last error " + std::to_string(pc.Machine().LastError()));
    // Handles are numbered as in a new machine.
    const platform::UniqueHandle next = OpenDrive(pc, b.inbox->physicalPath);
    char handle[32];
    std::snprintf(handle, sizeof handle, "%p", next.Get());
    add(std::string("next handle ") + handle);
    return lines;
}

// Everything a run may leave behind or arm: switched and written drives, faults of every
// kind, a bridge left between the phases of an exchange, handles and sets left open,
// paths detached and attached, a written medium, the last error, trace and debug lines.
void Disturb(Built& b) {
    sim::SimComputer& pc = b.pc;
    Probe(b);
    sim::SimMachine& machine = pc.Machine();

    b.inbox->controller->Firmware().SetOptimizeState(0xFF);
    b.inbox->controller->RejectCommands(sim::NvmeIdentify, std::nullopt, sim::NvmeInvalidField);
    b.miniport->controller->Firmware().stateWithoutSignature.Arm(sim::Forever);
    b.bridge->controller->RejectCommands(sim::NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField, 1);
    b.sata->ataDevice->AbortCommands(0xFC);
    b.sata->ataDevice->Firmware().SetOptimizeState(0);
    b.usbSata->ataDevice->Reset();
    machine.RefuseIoControl(L"", sim::IoctlScsiMiniport, sim::ErrorIoDevice);
    machine.RefuseOpen(b.sata->physicalPath, sim::ErrorAccessDenied, 3);
    machine.CutReplies(L"", sim::IoctlStorageQueryProperty, 8);
    pc.Tree().Refuse(sim::SimTreeQuery::HardwareIds, L"", platform::ConfigNoSuchValue);
    pc.Volumes().Refuse(sim::SimVolumeQuery::FileSystem, L"", sim::ErrorNotReady);
    (*b.inbox->stack->Media())[0] = 0x42;

    // The bridge's command phase only: the bridge now waits for the data phase. Its handle,
    // and two more, are left open, as a run that ends in the middle leaves them.
    const platform::Device bridge{&machine, machine.Open(b.bridge->physicalPath, platform::AccessRead | platform::AccessWrite,
                                                         platform::ShareRead | platform::ShareWrite,
                                                         platform::OpenExisting, 0)};
    const auto block = devicecmd::BuildBridgeBlock(devicecmd::BuildNvmeCommand(0xFE, 128, 0, 0xD8));
    const auto cdb = devicecmd::BuildBridgeCdb(true, devicecmd::BridgePhaseCommandOut, 512);
    ASSERT_TRUE(devicecmd::ScsiPassThroughOut(bridge, cdb.data(), 12, block.data(), 512, 10, 1));
    for (sim::SimDisk* disk : {b.inbox, b.bridge})
        machine.Open(disk->physicalPath, platform::AccessRead, platform::ShareRead, platform::OpenExisting, 0);
    pc.Tree().GetClassDevs(platform::DiskInterface, platform::ClassDevsInterfaces | platform::ClassDevsPresent);
    machine.Detach(b.miniport->physicalPath);
    machine.Attach(b.usbSata->physicalPath, b.inbox->stack);
    machine.Attach(L"\\\\.\\PhysicalDrive99", b.inbox->stack);
    machine.DebugOutput(L"left behind\n");
    machine.SetLastError(77);
}

TEST(SimComputerReset, AUsedAndBrokenComputerBehavesAsANewOne) {
    Built fresh;
    const std::vector<std::string> expected = Probe(fresh);
    ASSERT_GT(expected.size(), 20u);

    Built used;
    Disturb(used);
    // Before the reset the used one tells: a sanity check that Disturb disturbs.
    EXPECT_NE(Probe(used), expected);
    used.pc.Reset();
    const std::vector<std::string> seen = Probe(used);
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], expected[i]) << "line " << i;

    // And again: a reset computer resets as well as a new one.
    Disturb(used);
    used.pc.Reset();
    EXPECT_EQ(Probe(used), expected);
}

// A machine that keeps no trace answers exactly as one that does.
TEST(SimComputerReset, KeepingNoTraceChangesNoAnswer) {
    Built traced;
    Built untraced;
    untraced.pc.Machine().KeepTrace(false);
    std::vector<std::string> withTrace;
    for (const std::string& line : Probe(traced))
        if (line.find(" reply ") == std::string::npos) withTrace.push_back(line);
    EXPECT_EQ(Probe(untraced), withTrace);
    EXPECT_TRUE(untraced.pc.Machine().Trace().empty());
    untraced.pc.Reset();
    EXPECT_EQ(Probe(untraced), withTrace);  // the setting outlives a reset
}

}  // namespace
