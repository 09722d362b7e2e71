#pragma once
// A whole simulated computer for the discovery pass: storage adapters, disks hung under
// them through chains of device nodes, volumes, a system directory, and every query
// behind the three seams. A machine takes a few lines:
//
//     sim::SimComputer pc;
//     const auto nvme = pc.AddAdapter(sim::AdapterNvme);
//     pc.AddForeignNvmeDrive(nvme, "Other Maker SSD 1TB");
//     auto& vx310 = pc.AddVx310(nvme, sim::SimNvmePath::Inbox);
//     pc.AddVolume(vx310.number, {L"C:\\"}, 500 * sim::GiB, 120 * sim::GiB);
//     discovery::EnumerateDrives(pc.System(), table);

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/System.h"
#include "sim/SimAtaDevice.h"
#include "sim/SimDeviceTree.h"
#include "sim/SimIntelRst.h"
#include "sim/SimMachine.h"
#include "sim/SimNvmeController.h"
#include "sim/SimStacks.h"
#include "sim/SimVolumes.h"

namespace sim {

constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
constexpr std::uint64_t TiB = std::uint64_t{1} << 40;

// STORAGE_BUS_TYPE an adapter reports.
enum SimAdapterBus : std::uint8_t {
    AdapterScsi = 1,
    AdapterAtapi = 2,
    AdapterUsb = 7,
    AdapterRaid = 8,
    AdapterSas = 10,
    AdapterSata = 11,
    AdapterNvme = 17,
};

// IntelRst: behind an adapter made with AddIntelRstAdapter, reached through its SCSI port.
enum class SimNvmePath { Inbox, Miniport, Bridge, IntelRst };

struct SimAdapter {
    std::uint8_t busType = AdapterNvme;
    platform::DevInst node = 0;
    std::wstring interfacePath;  // storage-port interface
    std::wstring location;
    std::wstring instanceId;
    std::wstring driverKey;
    std::shared_ptr<SimRstPort> rst;  // Intel RST adapters only: their SCSI port
    std::uint8_t scsiPort = 0;        // the N of \\.\ScsiN:
    std::uint8_t nextPathId = 0;      // the PathId of the next disk behind it
};

// The SCSI vendor and product identification a disk's inquiry data and storage device
// descriptor give (its instance ID is made of them too).
struct SimScsiIdentity {
    std::string vendor;
    std::string product;
};

struct SimDisk {
    std::uint32_t number = 0;  // the N of \\.\PhysicalDriveN
    std::size_t adapter = 0;
    platform::DevInst node = 0;
    std::wstring instanceId;
    std::wstring interfacePath;  // disk interface
    std::wstring physicalPath;
    std::shared_ptr<SimEndpoint> stack;  // what the physical path opens
    std::shared_ptr<SimDiskStack> diskStack;  // the driver stack inside it (its geometry)
    std::shared_ptr<SimNvmeController> controller;  // NVMe drives only
    std::shared_ptr<SimAtaDevice> ataDevice;        // SATA drives only
    std::optional<SimNvmePath> nvmePath;            // NVMe drives only
    std::optional<SimScsiAddress> scsiAddress;      // behind an Intel RST adapter
    SimScsiIdentity identity;
};

// An Intel RST adapter ("RAID On"): it reports a RAID bus, its driver service is named,
// and its SCSI port takes the "IntelNvm" pass-through unless the driver predates it.
struct SimRstOptions {
    std::wstring service = L"iaStorAC";
    std::uint8_t scsiPort = 2;
    bool knowsPassThrough = true;
};

// The USB device a disk on a USB adapter sits in: its hardware IDs are
// USB\VID_vvvv&PID_pppp&REV_rrrr and USB\VID_vvvv&PID_pppp.
struct SimUsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t revision = 0x0100;
};
// Bridge chips and devices the simulated USB disks sit in.
constexpr SimUsbId UsbJms583{0x152D, 0x0583, 0x0214};   // JMicron USB-to-NVMe bridge
constexpr SimUsbId UsbJms578{0x152D, 0x0578, 0x0204};   // JMicron USB-to-SATA bridge (SAT)
constexpr SimUsbId UsbRtl9210{0x0BDA, 0x9210, 0x2100};  // Realtek USB-to-NVMe bridge
constexpr SimUsbId UsbStick{0x0781, 0x5581, 0x0100};    // a USB flash drive

struct SimDiskOptions {
    SimDiskOptions(std::optional<std::uint32_t> number_ = {}, std::optional<std::uint32_t> reportedNumber_ = {},
                   std::optional<unsigned> nodesBetween_ = {}, std::optional<SimUsbId> usbId_ = {})
        : number(number_), reportedNumber(reportedNumber_), nodesBetween(nodesBetween_), usbId(usbId_) {}

    std::optional<std::uint32_t> number;          // default: the next free one
    std::optional<std::uint32_t> reportedNumber;  // what the disk interface reports, if not number
    std::optional<unsigned> nodesBetween;         // nodes between disk and adapter; default by bus
    // The USB device between disk and adapter. On a USB adapter by default: the JMS583 for
    // NVMe drives, the JMS578 for SATA drives, a USB stick for plain disks. Given, on any
    // adapter (a USB device whose driver reports another bus).
    std::optional<SimUsbId> usbId;
};

class SimComputer {
public:
    SimComputer();
    SimComputer(const SimComputer&) = delete;
    SimComputer& operator=(const SimComputer&) = delete;

    SimMachine& Machine() { return machine_; }
    SimDeviceTree& Tree() { return tree_; }
    SimVolumes& Volumes() { return volumes_; }
    platform::System System() { return platform::System{machine_, tree_, volumes_}; }

    // The computer as its Add calls built it, as if new: every drive's firmware state, each
    // stack's exchange and faults, the machine's handles, faults, trace and last errors,
    // the tree's sets and refusals, the volumes' refusals, and every path attached to what
    // these Add calls attached to it. A long run (a fuzzer) builds once and resets per
    // case. What a caller changed in the tree or the volumes by hand stays.
    void Reset();

    // An adapter on the PCI bus with a storage-port interface; returns its place.
    std::size_t AddAdapter(std::uint8_t busType);
    // Disks added behind it get PathId 0, 1, 2, ..., TargetId 0 and Lun 0.
    std::size_t AddIntelRstAdapter(SimRstOptions options = {});
    SimAdapter& Adapter(std::size_t index) { return adapters_[index]; }

    // A drive behind an adapter, listed after the disks before it. A miniport drive also
    // answers at its adapter's interface path.
    SimDisk& AddNvmeDrive(std::size_t adapter, SimNvmePath path, SimNvmeConfig config, SimDiskOptions options = {});
    // Each VX310 has a serial of its own; the first one's is SimDriveIdentity's.
    SimDisk& AddVx310(std::size_t adapter, SimNvmePath path, SimDiskOptions options = {});
    // Another NVMe drive in the place of an NVMe disk: same number and paths, a new
    // controller behind a new stack; handles open on the old drive fail from now on.
    SimNvmeController& ExchangeNvmeDrive(SimDisk& disk, SimNvmeConfig config);
    // The serial of the nth VX310 (from 0) that AddVx310 gives.
    static std::string Vx310Serial(unsigned nth);
    // Another maker's NVMe drive: its controller is no VantorPlus.
    SimDisk& AddForeignNvmeDrive(std::size_t adapter, std::string model, SimNvmePath path = SimNvmePath::Inbox,
                                 SimDiskOptions options = {});
    // On a USB, SAS or RAID adapter: a SATA drive behind that adapter's SCSI-to-ATA translation.
    SimDisk& AddSataDrive(std::size_t adapter, SimAtaConfig config = {}, SimDiskOptions options = {});
    // An Intel RST RAID volume of that level, as RST presents it: a disk whose inquiry data
    // reads "Intel" "Raid <level> Volume", one of the adapter's targets but no NVMe drive,
    // with nothing but the disk class driver's requests.
    SimDisk& AddRstRaidVolume(std::size_t adapter, std::uint64_t sectors, unsigned level = 0,
                              SimDiskOptions options = {});
    // A disk that answers only the disk class driver's requests (a USB stick, a SCSI or
    // SAS disk).
    SimDisk& AddPlainDisk(std::size_t adapter, std::uint64_t sectors, SimDiskOptions options = {});
    SimDisk& Disk(std::size_t index) { return disks_[index]; }
    std::size_t DiskCount() const { return disks_.size(); }
    // Simulated time passes for every NVMe drive (their self-tests run on it).
    void AdvanceTime(std::uint64_t milliseconds);

    // A volume on disk diskNumber (which need not exist); mount paths "X:\" or "X:\folder\".
    // Each "X:\" makes \\.\X: openable. Returns the volume's place in Volumes().
    std::size_t AddVolume(std::uint32_t diskNumber, std::vector<std::wstring> mountPaths, std::uint64_t totalBytes,
                          std::uint64_t freeBytes, std::wstring fileSystem = L"NTFS",
                          std::uint32_t driveType = platform::DriveFixed);

private:
    SimDisk& AddDisk(std::size_t adapter, std::shared_ptr<SimEndpoint> stack, SimScsiIdentity identity,
                     const SimDiskOptions& options, SimUsbId usbDefault);
    std::wstring NextDriverKey(const wchar_t* classGuid);
    // Attaches, and remembers the attachment for Reset.
    void Attach(const std::wstring& path, std::shared_ptr<SimEndpoint> endpoint);

    SimMachine machine_;
    SimDeviceTree tree_;
    SimVolumes volumes_;
    platform::DevInst pciRoot_ = 0;
    platform::DevInst volumeManager_ = 0;
    std::deque<SimAdapter> adapters_;
    std::deque<SimDisk> disks_;
    std::vector<std::pair<std::wstring, std::shared_ptr<SimEndpoint>>> attached_;  // in order
    std::map<std::uint32_t, std::uint32_t> partitions_;  // per disk number: partitions handed out
    std::uint32_t nextNumber_ = 0;
    unsigned nextKey_ = 0;
    unsigned vx310s_ = 0;
};

}  // namespace sim
