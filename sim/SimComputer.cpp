#include "sim/SimComputer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/SimBytes.h"
#include "sim/SimCodes.h"
#include "sim/SimDrives.h"
#include "sim/SimScsi.h"
#include "sim/SimStacks.h"

namespace sim {
namespace {

constexpr wchar_t SystemClass[] = L"{4d36e97d-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t StorageAdapterClass[] = L"{4d36e97b-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t ChannelClass[] = L"{4d36e96a-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t DiskClass[] = L"{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t VolumeClass[] = L"{71a27cdd-812a-11d0-bec7-08002be2092f}";
constexpr wchar_t UsbClass[] = L"{36fc9e60-c465-11cf-8056-444553540000}";
constexpr std::uint32_t FileDeviceDisk = 7;
constexpr std::uint32_t StorageDevicePropertyId = 0;
constexpr std::uint32_t StorageAdapterPropertyId = 1;

std::wstring Format(const wchar_t* format, unsigned a, unsigned b = 0) {
    wchar_t text[160];
    std::swprintf(text, sizeof text / sizeof text[0], format, a, b);
    return text;
}


// What the disk's own stack reports of it, whatever the stack in front of the drive is: its
// adapter's bus type, and its storage device descriptor (the SCSI vendor and product
// identification the port driver made of its inquiry data, padded with blanks as inquiry
// data is, and the adapter's bus type).
class SimReportedBus : public SimEndpoint {
public:
    SimReportedBus(std::shared_ptr<SimEndpoint> inner, std::uint8_t busType, std::string vendor, std::string product)
        : inner_(std::move(inner)), busType_(busType), vendor_(std::move(vendor)), product_(std::move(product)) {}
    SimResult IoControl(const SimCall& call) override {
        if (call.code == IoctlStorageQueryProperty && call.inSize >= 8 && Get32(call.in) == StorageDevicePropertyId &&
            Get32(call.in + 4) == 0)
            return DeviceDescriptor(call);
        SimResult result = inner_->IoControl(call);
        if (call.code == IoctlStorageQueryProperty && result.ok && call.inSize >= 8 &&
            Get32(call.in) == StorageAdapterPropertyId && Get32(call.in + 4) == 0 && result.bytesReturned > 24)
            call.out[24] = busType_;
        return result;
    }
    std::vector<std::uint8_t>* Media() override { return inner_->Media(); }
    bool ReadMedia(std::uint64_t position, std::uint8_t* out, std::uint32_t size, std::uint32_t& count) override {
        return inner_->ReadMedia(position, out, size, count);
    }
    void Reset() override { inner_->Reset(); }

private:
    // STORAGE_DEVICE_DESCRIPTOR: as much of it as the buffer holds (at least its 8-byte
    // header), texts after the fixed part.
    SimResult DeviceDescriptor(const SimCall& call) const {
        if (call.outSize < 8) return SimResult::Failure(ErrorInsufficientBuffer);
        constexpr std::uint32_t fixedPart = 40, vendorWidth = 8, productWidth = 16;
        std::vector<std::uint8_t> descriptor(fixedPart + vendorWidth + 1 + productWidth + 1, 0);
        const auto size = static_cast<std::uint32_t>(descriptor.size());
        Put32(&descriptor[0], size);        // Version
        Put32(&descriptor[4], size);        // Size
        descriptor[11] = 1;                 // CommandQueueing
        Put32(&descriptor[12], fixedPart);  // VendorIdOffset
        Put32(&descriptor[16], fixedPart + vendorWidth + 1);  // ProductIdOffset
        Put32(&descriptor[28], busType_);   // BusType
        auto padded = [&](std::uint32_t at, const std::string& text, std::uint32_t width) {
            for (std::uint32_t i = 0; i < width; ++i) descriptor[at + i] = i < text.size() ? text[i] : ' ';
        };
        padded(fixedPart, vendor_, vendorWidth);
        padded(fixedPart + vendorWidth + 1, product_, productWidth);
        const std::uint32_t count = std::min(call.outSize, size);
        std::memcpy(call.out, descriptor.data(), count);
        return SimResult::Success(count);
    }

    std::shared_ptr<SimEndpoint> inner_;
    std::uint8_t busType_;
    std::string vendor_;
    std::string product_;
};

// The instance-ID part the port driver makes of an inquiry text: upper case, blanks as '_'.
std::wstring IdPart(const std::string& text, std::size_t width) {
    std::wstring part;
    for (std::size_t i = 0; i < text.size() && i < width; ++i) {
        // Windows puts '_' for what an instance ID may not hold: a space, a control byte,
        // a byte above 0x7E, a comma (an inquiry field of zeros makes a model of '_').
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c > 0x7E || c == ',') part += L'_';
        else part += static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    while (!part.empty() && part.back() == L'_') part.pop_back();
    return part;
}

std::wstring Lowered(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

// A disk or volume interface: answers only its storage device number.
class SimNumberEndpoint : public SimEndpoint {
public:
    SimNumberEndpoint(std::uint32_t deviceNumber, std::uint32_t partition)
        : deviceNumber_(deviceNumber), partition_(partition) {}
    SimResult IoControl(const SimCall& call) override {
        if (call.code != IoctlStorageGetDeviceNumber) return SimResult::Failure(ErrorInvalidFunction);
        if (call.outSize < 12) return SimResult::Failure(ErrorInsufficientBuffer);
        Put32(call.out, FileDeviceDisk);
        Put32(call.out + 4, deviceNumber_);
        Put32(call.out + 8, partition_);
        return SimResult::Success(12);
    }

private:
    std::uint32_t deviceNumber_;
    std::uint32_t partition_;
};

// A disk with nothing but the disk class driver in front: adapter property, device
// number, geometry, sector reads, and plain SCSI.
class SimPlainDiskStack : public SimDiskStack {
public:
    SimPlainDiskStack() : SimDiskStack(BusTypeUsb, 64 * 1024) {}
    SimResult IoControl(const SimCall& call) override {
        switch (call.code) {
            case IoctlStorageQueryProperty: return AnswerAdapterQueryOnly(call);
            case IoctlScsiPassThrough:
            case IoctlScsiPassThroughDirect: return HandleScsiPassThrough(scsi_, call, senseFault);
            default: return DiskIoControl(call);
        }
    }

private:
    SimPlainScsiTarget scsi_;
};

}  // namespace

SimComputer::SimComputer() : tree_(machine_), volumes_(machine_) {
    const platform::DevInst root = tree_.AddNode(0, {L"HTREE\\ROOT\\0", {}, {}});
    pciRoot_ = tree_.AddNode(root, {L"ACPI\\PNP0A08\\0", NextDriverKey(SystemClass), {}});
    volumeManager_ = tree_.AddNode(root, {L"ROOT\\VOLMGR\\0000", NextDriverKey(SystemClass), {}});
}

void SimComputer::Attach(const std::wstring& path, std::shared_ptr<SimEndpoint> endpoint) {
    machine_.Attach(path, endpoint);
    attached_.emplace_back(path, std::move(endpoint));
}

void SimComputer::Reset() {
    machine_.Reset();
    // Attached again in the order first attached: the same paths lead to the same devices,
    // under the same generations, as in the new computer.
    for (const auto& [path, endpoint] : attached_) {
        endpoint->Reset();
        machine_.Attach(path, endpoint);
    }
    tree_.Reset();
    volumes_.Reset();
    for (SimDisk& disk : disks_) {
        if (disk.controller) disk.controller->FactoryReset();
        if (disk.ataDevice) disk.ataDevice->FactoryReset();
    }
}

std::wstring SimComputer::NextDriverKey(const wchar_t* classGuid) {
    return std::wstring(classGuid) + Format(L"\\%04u", nextKey_++);
}

std::size_t SimComputer::AddAdapter(std::uint8_t busType) {
    const auto index = static_cast<unsigned>(adapters_.size());
    SimAdapter adapter;
    adapter.busType = busType;
    adapter.instanceId = Format(L"PCI\\VEN_1E5A&DEV_%04X&SUBSYS_00011E5A&REV_01\\4&2F1A%02u&0&00E8", 0x5300 + busType, index);
    adapter.driverKey = NextDriverKey(StorageAdapterClass);
    adapter.location = Format(L"PCI bus %u, device %u, function 0", index + 2, busType);
    adapter.interfacePath =
        Format(L"\\\\?\\pci#ven_1e5a&dev_%04x&subsys_00011e5a&rev_01#4&2f1a%02u&0&00e8#"
               L"{2accfe60-c130-11d2-b082-00a0c91efb8b}", 0x5300 + busType, index);
    adapter.node = tree_.AddNode(pciRoot_, {adapter.instanceId, adapter.driverKey, adapter.location});
    tree_.AddInterface(platform::StoragePortInterface, adapter.interfacePath, adapter.node);
    adapters_.push_back(std::move(adapter));
    return adapters_.size() - 1;
}

std::size_t SimComputer::AddIntelRstAdapter(SimRstOptions options) {
    const std::size_t index = AddAdapter(AdapterRaid);
    SimAdapter& adapter = adapters_[index];
    tree_.SetService(adapter.node, options.service);
    adapter.rst = std::make_shared<SimRstPort>(options.knowsPassThrough);
    adapter.scsiPort = options.scsiPort;
    // The port and the adapter's interface lead to the same driver.
    Attach(ScsiPortPath(options.scsiPort), adapter.rst);
    Attach(adapter.interfacePath, adapter.rst);
    return index;
}

SimDisk& SimComputer::AddDisk(std::size_t adapterIndex, std::shared_ptr<SimEndpoint> stack, SimScsiIdentity identity,
                              const SimDiskOptions& options, SimUsbId usbDefault) {
    SimAdapter& adapter = adapters_.at(adapterIndex);
    SimDisk disk;
    if (adapter.rst) {
        // Every disk behind RST is one of its targets; AddNvmeDrive makes it an NVMe one.
        const SimScsiAddress address{adapter.scsiPort, adapter.nextPathId++, 0, 0};
        adapter.rst->AddOtherTarget(address);
        stack = std::make_shared<SimScsiAddressed>(std::move(stack), address);
        disk.scsiAddress = address;
    }
    disk.number = options.number.value_or(nextNumber_);
    if (disk.number >= nextNumber_ && disk.number != 0xFFFFFFFF) nextNumber_ = disk.number + 1;
    disk.adapter = adapterIndex;
    disk.physicalPath = PhysicalDrivePath(disk.number);
    disk.stack = std::make_shared<SimReportedBus>(std::move(stack), adapter.busType, identity.vendor, identity.product);
    disk.identity = identity;
    Attach(disk.physicalPath, disk.stack);

    // The chain from the adapter down: an ATA channel, a USB device, or nothing between.
    const unsigned defaultBetween = adapter.busType == AdapterSata ? 1 : 0;
    platform::DevInst parent = adapter.node;
    const unsigned between = options.nodesBetween.value_or(defaultBetween);
    for (unsigned i = 0; i < between; ++i)
        parent = tree_.AddNode(parent, {Format(L"PCIIDE\\IDECHANNEL\\4&%u&0&%u", disk.number, i),
                                        NextDriverKey(ChannelClass), Format(L"Channel %u", i)});
    if (adapter.busType == AdapterUsb || options.usbId) {
        const SimUsbId usb = options.usbId.value_or(usbDefault);
        const std::wstring id = Format(L"USB\\VID_%04X&PID_%04X", usb.vendor, usb.product);
        parent = tree_.AddNode(parent, {id + Format(L"\\0123456789AB%04u", disk.number), NextDriverKey(UsbClass),
                                        Format(L"Port_#%04u.Hub_#0001", disk.number + 1)});
        tree_.SetHardwareIds(parent, {id + Format(L"&REV_%04X", usb.revision), id});
    }

    const unsigned n = disk.number;
    const std::wstring product = IdPart(identity.vendor, 8) + L"&PROD_" + IdPart(identity.product, 16);
    disk.instanceId = L"SCSI\\DISK&VEN_" + product + Format(L"\\5&%X&0&%06u", n, n);
    disk.node = tree_.AddNode(parent, {disk.instanceId, NextDriverKey(DiskClass),
                                       Format(L"Bus Number 0, Target Id %u, LUN 0", n)});
    disk.interfacePath =
        L"\\\\?\\scsi#disk&ven_" + Lowered(product) + Format(L"#5&%x&0&%06u#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n, n);
    tree_.AddInterface(platform::DiskInterface, disk.interfacePath, disk.node);
    Attach(disk.interfacePath, std::make_shared<SimNumberEndpoint>(options.reportedNumber.value_or(n), 0));
    disks_.push_back(std::move(disk));
    return disks_.back();
}

namespace {

// The inquiry data Windows' port drivers (and RST's) make of an ATA drive's model: the
// first word as vendor when it fits the vendor's 8 characters, else no vendor and the
// whole model as product ("Samsung" "SSD 860 EVO 500GB", "" "ST1000VM002-1CT162").
SimScsiIdentity AtaInquiryIdentity(const std::string& model) {
    const std::size_t blank = model.find(' ');
    if (blank == std::string::npos || blank > 8) return {"", model};
    return {model.substr(0, blank), model.substr(blank + 1)};
}

std::shared_ptr<SimDiskStack> NvmeStack(SimNvmePath path, const std::shared_ptr<SimNvmeController>& controller) {
    switch (path) {
        case SimNvmePath::Miniport: return std::make_shared<SimMiniportStack>(controller);
        case SimNvmePath::Bridge: return std::make_shared<SimUsbBridgeStack>(controller);
        // Behind RST the disk's own stack only reads sectors; commands go through the port.
        case SimNvmePath::IntelRst: return std::make_shared<SimRstNvmeDiskStack>();
        default: return std::make_shared<SimInboxNvmeStack>(controller);
    }
}

}  // namespace

SimDisk& SimComputer::AddNvmeDrive(std::size_t adapter, SimNvmePath path, SimNvmeConfig config,
                                   SimDiskOptions options) {
    auto controller = std::make_shared<SimNvmeController>(std::move(config));
    const std::uint64_t sectors = controller->Identity().sectors;
    const std::shared_ptr<SimDiskStack> stack = NvmeStack(path, controller);
    // An NVMe drive's inquiry data, made by the NVMe driver or RST's SCSI translation: vendor
    // "NVMe", the model as product. A bridge answers inquiry itself.
    const SimScsiIdentity identity = path == SimNvmePath::Bridge ? SimScsiIdentity{"USB", "NVMe bridge"}
                                                                 : SimScsiIdentity{"NVMe", controller->Identity().model};
    SimDisk& disk = AddDisk(adapter, stack, identity, options, UsbJms583);
    stack->SetDisk(disk.number, sectors);
    disk.diskStack = stack;
    disk.controller = controller;
    disk.nvmePath = path;
    if (path == SimNvmePath::IntelRst && adapters_[adapter].rst) adapters_[adapter].rst->AddNvmeTarget(*disk.scsiAddress, controller);
    if (path == SimNvmePath::Miniport) Attach(adapters_[adapter].interfacePath, disk.stack);
    return disk;
}

std::string SimComputer::Vx310Serial(unsigned nth) {
    if (nth == 0) return SimDriveIdentity{}.serial;
    char serial[32];
    std::snprintf(serial, sizeof serial, "TVK310A%013u", 17 + nth);
    return serial;
}

void SimComputer::AdvanceTime(std::uint64_t milliseconds) {
    for (SimDisk& disk : disks_)
        if (disk.controller) disk.controller->AdvanceTime(milliseconds);
}

SimDisk& SimComputer::AddVx310(std::size_t adapter, SimNvmePath path, SimDiskOptions options) {
    SimNvmeConfig config;
    config.identity.serial = Vx310Serial(vx310s_++);
    return AddNvmeDrive(adapter, path, std::move(config), options);
}

SimNvmeController& SimComputer::ExchangeNvmeDrive(SimDisk& disk, SimNvmeConfig config) {
    const SimNvmePath path = disk.nvmePath.value_or(SimNvmePath::Inbox);
    auto controller = std::make_shared<SimNvmeController>(std::move(config));
    const std::shared_ptr<SimDiskStack> stack = NvmeStack(path, controller);
    stack->SetDisk(disk.number, controller->Identity().sectors);
    if (path != SimNvmePath::Bridge) disk.identity = {"NVMe", controller->Identity().model};
    std::shared_ptr<SimEndpoint> front = stack;
    // Behind RST the new drive takes the old one's address.
    if (disk.scsiAddress) front = std::make_shared<SimScsiAddressed>(front, *disk.scsiAddress);
    disk.stack = std::make_shared<SimReportedBus>(front, adapters_[disk.adapter].busType, disk.identity.vendor,
                                                  disk.identity.product);
    disk.diskStack = stack;
    disk.controller = controller;
    machine_.Attach(disk.physicalPath, disk.stack);
    if (path == SimNvmePath::Miniport) machine_.Attach(adapters_[disk.adapter].interfacePath, disk.stack);
    if (path == SimNvmePath::IntelRst && adapters_[disk.adapter].rst && disk.scsiAddress)
        adapters_[disk.adapter].rst->AddNvmeTarget(*disk.scsiAddress, controller);
    return *controller;
}

SimDisk& SimComputer::AddForeignNvmeDrive(std::size_t adapter, std::string model, SimNvmePath path,
                                          SimDiskOptions options) {
    SimNvmeConfig config;
    config.identity.model = std::move(model);
    config.identity.serial = "S5P2NG0R60" + std::to_string(1000000000 + nextNumber_);
    config.identity.firmware = "3B2QGXA7";
    config.vendor.controllerName = "Other controller";
    config.pciVendorId = 0x144D;
    return AddNvmeDrive(adapter, path, std::move(config), options);
}

SimDisk& SimComputer::AddSataDrive(std::size_t adapter, SimAtaConfig config, SimDiskOptions options) {
    const std::uint64_t sectors = config.identity.sectors;
    const SimScsiIdentity identity = AtaInquiryIdentity(config.identity.model);
    auto device = std::make_shared<SimAtaDevice>(std::move(config));
    auto stack = std::make_shared<SimAtaStack>(device);
    SimDisk& disk = AddDisk(adapter, stack, identity, options, UsbJms578);
    stack->SetDisk(disk.number, sectors);
    disk.diskStack = stack;
    disk.ataDevice = device;
    return disk;
}

SimDisk& SimComputer::AddPlainDisk(std::size_t adapter, std::uint64_t sectors, SimDiskOptions options) {
    auto stack = std::make_shared<SimPlainDiskStack>();
    SimDisk& disk = AddDisk(adapter, stack, {"Generic", "Disk"}, options, UsbStick);
    stack->SetDisk(disk.number, sectors);
    disk.diskStack = stack;
    return disk;
}

SimDisk& SimComputer::AddRstRaidVolume(std::size_t adapter, std::uint64_t sectors, unsigned level,
                                      SimDiskOptions options) {
    auto stack = std::make_shared<SimPlainDiskStack>();
    char product[24];
    std::snprintf(product, sizeof product, "Raid %u Volume", level);
    SimDisk& disk = AddDisk(adapter, stack, {"Intel", product}, options, UsbStick);
    stack->SetDisk(disk.number, sectors);
    disk.diskStack = stack;
    return disk;
}

std::size_t SimComputer::AddVolume(std::uint32_t diskNumber, std::vector<std::wstring> mountPaths,
                                   std::uint64_t totalBytes, std::uint64_t freeBytes, std::wstring fileSystem,
                                   std::uint32_t driveType) {
    const std::uint32_t partition = ++partitions_[diskNumber];
    const auto index = static_cast<unsigned>(volumes_.Add({}));
    SimVolume& volume = volumes_.Volume(index);
    volume.interfacePath = Format(L"\\\\?\\STORAGE#Volume#{7d1e0a%02x-0000-0000-0000-%012u}#0000000000100000#"
                                  L"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}", index & 0xFF, index);
    volume.volumeName = Format(L"\\\\?\\Volume{5a3c%04x-0000-0000-0000-1000000%05u}\\", index & 0xFFFF, index);
    volume.mountPaths = std::move(mountPaths);
    volume.driveType = driveType;
    volume.fileSystem = std::move(fileSystem);
    volume.totalBytes = totalBytes;
    volume.freeBytes = freeBytes;

    const platform::DevInst node = tree_.AddNode(
        volumeManager_, {Format(L"STORAGE\\VOLUME\\{7D1E0A%02X-0000}#%u", index & 0xFF, index),
                         NextDriverKey(VolumeClass), {}});
    tree_.AddInterface(platform::VolumeInterface, volume.interfacePath, node);
    auto endpoint = std::make_shared<SimNumberEndpoint>(diskNumber, partition);
    Attach(volume.interfacePath, endpoint);
    for (const std::wstring& mount : volume.mountPaths) {
        if (mount.size() == 3 && mount[1] == L':' && mount[2] == L'\\')
            Attach(std::wstring(L"\\\\.\\") + mount[0] + L':', endpoint);
    }
    return index;
}

}  // namespace sim
