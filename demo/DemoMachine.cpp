#include "demo/DemoMachine.h"

#include <string>

#include "sim/SimReplyCuts.h"

namespace demo {

DemoMachine::DemoMachine(const DemoOptions& options)
    : hotplug_(computer_.Tree(), computer_.Machine()) {
    Build(options);
}

platform::System DemoMachine::System() {
    return platform::System{computer_.Machine(), hotplug_, computer_.Volumes()};
}

std::optional<std::uint8_t> DemoMachine::Vx310State() const {
    if (!hotplugged_ || !hotplugged_->controller) return std::nullopt;
    std::lock_guard<std::recursive_mutex> lock(*lock_);
    return hotplugged_->controller->Firmware().OptimizeState();
}

bool DemoMachine::IsPlugged() const { return hotplugged_ && !hotplug_.IsUnplugged(hotplugged_->interfacePath); }

void DemoMachine::SetPlugged(bool plugged) {
    std::lock_guard<std::recursive_mutex> lock(*lock_);
    sim::SimMachine& machine = computer_.Machine();
    const std::wstring adapterPath = computer_.Adapter(hotplugged_->adapter).interfacePath;
    if (plugged) {
        hotplug_.Plug(hotplugged_->interfacePath);
        machine.Attach(hotplugged_->physicalPath, hotplugged_->stack);
        if (viaAdapter_) machine.Attach(adapterPath, hotplugged_->stack);
    } else {
        hotplug_.Unplug(hotplugged_->interfacePath);
        machine.Detach(hotplugged_->physicalPath);
        if (viaAdapter_) machine.Detach(adapterPath);
    }
}

namespace {

// ERROR_SHARING_VIOLATION: another program holds the file or device.
constexpr std::uint32_t ErrorSharingViolation = 32;

void SetHealth(sim::SimNvmeController& controller, DemoHealth health) {
    constexpr std::uint16_t InvalidLogPage = 0x109;
    switch (health) {
        case DemoHealth::Healthy: controller.SetHealthLog(sim::SimHealthLogOf(sim::SimHealthKind::Healthy)); break;
        case DemoHealth::Worn: controller.SetHealthLog(sim::SimHealthLogOf(sim::SimHealthKind::Worn)); break;
        case DemoHealth::Hot: controller.SetHealthLog(sim::SimHealthLogOf(sim::SimHealthKind::Hot)); break;
        case DemoHealth::SpareLow: controller.SetHealthLog(sim::SimHealthLogOf(sim::SimHealthKind::SpareLow)); break;
        case DemoHealth::ReadOnly: controller.SetHealthLog(sim::SimHealthLogOf(sim::SimHealthKind::ReadOnly)); break;
        case DemoHealth::Refused:
            controller.RejectCommands(sim::NvmeGetLogPage, std::nullopt, InvalidLogPage);
            break;
        case DemoHealth::Short: break;  // a cut of the replies, on the machine
    }
}

sim::SimSelfTestConfig SelfTestOf(const DemoOptions& options) {
    sim::SimSelfTestConfig config;
    config.shortMs = options.selfTestShortSeconds * 1000;
    config.extendedMs = options.selfTestExtendedSeconds * 1000;
    switch (options.selfTest) {
        case DemoSelfTest::Passes: break;
        case DemoSelfTest::FailingSegment: config.fault = sim::SimSelfTestFault::FailingSegment; break;
        case DemoSelfTest::Aborted: config.fault = sim::SimSelfTestFault::DriveAborts; break;
        case DemoSelfTest::Unsupported: config.supported = false; break;
        case DemoSelfTest::LogRefused: config.fault = sim::SimSelfTestFault::LogRefused; break;
    }
    return config;
}

}  // namespace

void DemoMachine::Build(const DemoOptions& options) {
    std::size_t nvmeAdapter = 0;
    bool hasNvmeAdapter = false;
    const auto sharedNvme = [&]() {
        if (!hasNvmeAdapter) {
            nvmeAdapter = computer_.AddAdapter(sim::AdapterNvme);
            hasNvmeAdapter = true;
        }
        return nvmeAdapter;
    };
    std::optional<std::size_t> raidAdapter;
    const auto sharedRaid = [&]() {
        if (!raidAdapter) raidAdapter = computer_.AddAdapter(sim::AdapterRaid);
        return *raidAdapter;
    };
    // One RST adapter for the drives behind RST, another for the old driver's.
    std::optional<std::size_t> rstAdapter;
    const auto sharedRst = [&]() {
        if (!rstAdapter) rstAdapter = computer_.AddIntelRstAdapter();
        return *rstAdapter;
    };
    std::optional<std::size_t> vmdAdapter;
    const auto sharedVmd = [&]() {
        if (!vmdAdapter) {
            sim::SimRstOptions vmd;
            vmd.service = L"iaStorVD";
            vmd.scsiPort = 4;
            vmdAdapter = computer_.AddIntelRstAdapter(vmd);
        }
        return *vmdAdapter;
    };
    std::optional<std::size_t> oldRstAdapter;
    const auto sharedOldRst = [&]() {
        if (!oldRstAdapter) {
            sim::SimRstOptions old;
            old.scsiPort = 3;
            old.knowsPassThrough = false;
            oldRstAdapter = computer_.AddIntelRstAdapter(old);
        }
        return *oldRstAdapter;
    };
    const auto otherSata = [](const char* model) {
        sim::SimAtaConfig config;
        config.identity.model = model;
        return config;
    };
    wchar_t letter = L'C';
    for (const DemoDrive drive : options.drives) {
        sim::SimDisk* disk = nullptr;
        bool vx310 = false;
        switch (drive) {
            case DemoDrive::Vx310Inbox:
                disk = &computer_.AddVx310(sharedNvme(), sim::SimNvmePath::Inbox);
                vx310 = true;
                break;
            case DemoDrive::Vx310Miniport:
                // The miniport has an adapter of its own, whose path reaches the drive too.
                disk = &computer_.AddVx310(computer_.AddAdapter(sim::AdapterNvme), sim::SimNvmePath::Miniport);
                vx310 = true;
                break;
            case DemoDrive::Vx310Usb:
                disk = &computer_.AddVx310(computer_.AddAdapter(sim::AdapterUsb), sim::SimNvmePath::Bridge);
                vx310 = true;
                break;
            case DemoDrive::OtherNvme:
                disk = &computer_.AddForeignNvmeDrive(sharedNvme(), "Other Maker NVMe SSD 1TB");
                break;
            case DemoDrive::OtherSata: {
                sim::SimAtaConfig config;
                config.identity.model = "Other Maker SATA SSD 480GB";
                disk = &computer_.AddSataDrive(computer_.AddAdapter(sim::AdapterSata), config);
                break;
            }
            case DemoDrive::OtherUsb:
                disk = &computer_.AddPlainDisk(computer_.AddAdapter(sim::AdapterUsb), 60062500);
                break;
            case DemoDrive::OtherUsbSata:
                disk = &computer_.AddSataDrive(computer_.AddAdapter(sim::AdapterUsb),
                                               otherSata("Other Maker SATA HDD 4TB"));
                break;
            case DemoDrive::OtherRaidSata:
                disk = &computer_.AddSataDrive(sharedRaid(), otherSata("Other Maker SATA SSD 960GB"));
                break;
            case DemoDrive::OtherRaidSas:
                disk = &computer_.AddPlainDisk(sharedRaid(), 3907029168);
                break;
            case DemoDrive::Vx310Rst:
                disk = &computer_.AddVx310(sharedRst(), sim::SimNvmePath::IntelRst);
                vx310 = true;
                break;
            case DemoDrive::Vx310RstOld:
                disk = &computer_.AddVx310(sharedOldRst(), sim::SimNvmePath::IntelRst);
                vx310 = true;
                break;
            case DemoDrive::OtherRstNvme:
                disk = &computer_.AddForeignNvmeDrive(sharedRst(), "Other Maker NVMe SSD 1TB", sim::SimNvmePath::IntelRst);
                break;
            case DemoDrive::OtherRstSata:
                disk = &computer_.AddSataDrive(sharedRst(), otherSata("Other Maker SATA SSD 480GB"));
                break;
            case DemoDrive::Vx310RstVmd:
                disk = &computer_.AddVx310(sharedVmd(), sim::SimNvmePath::IntelRst);
                vx310 = true;
                break;
            case DemoDrive::RstRaidVolume:
                disk = &computer_.AddRstRaidVolume(sharedRst(), 2 * 1000215216ull, 0);
                break;
        }
        if (letter <= L'Z') {
            const std::uint64_t bytes = (disk->controller ? 400 : 100) * sim::GiB;
            computer_.AddVolume(disk->number, {std::wstring(1, letter++) + L":\\"}, bytes, bytes / 3);
        }
        if (!vx310) continue;
        sim::SimNvmeController& controller = *disk->controller;
        controller.Firmware().SetOptimizeState(options.state);
        if (options.fault == DemoFault::StateRead)
            controller.RejectCommands(sim::NvmeVendorRead, sim::SubcodeStateRead, sim::NvmeInvalidField);
        if (options.fault == DemoFault::Identify)
            controller.RejectCommands(sim::NvmeIdentify, std::nullopt, sim::NvmeInvalidField);
        if (options.fault == DemoFault::Busy) computer_.Machine().RefuseOpen(disk->physicalPath, ErrorSharingViolation);
        SetHealth(controller, options.health);
        controller.SetSelfTest(SelfTestOf(options));
        if (options.selfTestRunning) controller.BeginSelfTest(options.selfTestRunning);
        if (!hotplugged_) {
            hotplugged_ = disk;
            viaAdapter_ = drive == DemoDrive::Vx310Miniport;
        }
    }

    switch (options.fault) {
        case DemoFault::DeviceList:
            computer_.Tree().Refuse(sim::SimTreeQuery::ClassDevs, L"", sim::ErrorInvalidData);
            break;
        case DemoFault::Locate: watch_.FailLocate(sim::SimCrFailure); break;
        case DemoFault::Reenumerate: watch_.FailReenumerate(sim::SimCrAccessDenied); break;
        case DemoFault::Notify: watch_.FailRegistration(); break;
        case DemoFault::EmptyWrite: sim::EmptyStateWriteReply(computer_.Machine()); break;
        case DemoFault::CutState: sim::CutStateReadAfterSignature(computer_.Machine()); break;
        case DemoFault::AccessDenied:
            // Listing needs no rights; opening a drive or an adapter for reading does.
            for (std::size_t i = 0; i < computer_.DiskCount(); ++i) {
                const sim::SimDisk& disk = computer_.Disk(i);
                computer_.Machine().RefuseOpen(disk.physicalPath, sim::ErrorAccessDenied);
                computer_.Machine().RefuseOpen(computer_.Adapter(disk.adapter).interfacePath, sim::ErrorAccessDenied);
                if (disk.scsiAddress)
                    computer_.Machine().RefuseOpen(sim::ScsiPortPath(disk.scsiAddress->portNumber), sim::ErrorAccessDenied);
            }
            break;
        default: break;
    }

    if (options.health == DemoHealth::Short) sim::CutHealthLogReply(computer_.Machine(), 256);

    if (!hotplugged_) return;
    if (options.beforeWrite != DemoBeforeWrite::Nothing) {
        // The listing reads the drive's first sector once; the switch reads it again first.
        const DemoBeforeWrite kind = options.beforeWrite;
        const std::uint8_t state = options.state;
        computer_.Machine().BeforeOpen(hotplugged_->physicalPath, platform::AccessRead, 2, [this, kind, state] {
            std::lock_guard<std::recursive_mutex> lock(*lock_);
            switch (kind) {
                case DemoBeforeWrite::Unplug: SetPlugged(false); break;
                case DemoBeforeWrite::Exchange: {
                    sim::SimNvmeConfig config;
                    config.identity.serial = "TVK310B0000000000001";
                    computer_.ExchangeNvmeDrive(*hotplugged_, config).Firmware().SetOptimizeState(state);
                    break;
                }
                case DemoBeforeWrite::NoIdentify:
                    hotplugged_->controller->RejectCommands(sim::NvmeIdentify, std::nullopt, sim::NvmeInvalidField);
                    break;
                default: break;
            }
        });
    }
    const std::wstring path = hotplugged_->interfacePath;
    // Plugged in later than it goes (or never going): it starts unplugged.
    if (options.plugAfter && (!options.unplugAfter || *options.plugAfter < *options.unplugAfter)) SetPlugged(false);
    if (options.unplugAfter)
        watch_.ScheduleChange(*options.unplugAfter, false, path, [this] { SetPlugged(false); });
    if (options.plugAfter) watch_.ScheduleChange(*options.plugAfter, true, path, [this] { SetPlugged(true); });
}

}  // namespace demo
