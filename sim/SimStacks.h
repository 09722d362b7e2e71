#pragma once
// The driver stacks in front of the simulated drives. Each checks the requests it gets
// the way the real driver does and refuses malformed ones.

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/SimAtaDevice.h"
#include "sim/SimFault.h"
#include "sim/SimMachine.h"
#include "sim/SimNvmeController.h"
#include "sim/SimScsi.h"

namespace sim {

// STORAGE_BUS_TYPE values that the stacks report.
enum SimBusType : std::uint8_t { BusTypeUsb = 7, BusTypeSata = 11, BusTypeNvme = 17 };

// What every disk stack shares: the adapter descriptor, the disk class driver's own
// requests (device number, geometry) and the disk's first sectors.
class SimDiskStack : public SimEndpoint {
public:
    SimDiskStack(SimBusType busType, std::uint32_t mediaBytes);
    // Made at the first access: most disks of a large machine are never read, and
    // building 64 of them was most of a demo program's start.
    std::vector<std::uint8_t>* Media() override;
    bool ReadMedia(std::uint64_t position, std::uint8_t* out, std::uint32_t size, std::uint32_t& count) override;
    SimBusType BusType() const { return busType_; }
    // The N of \\.\PhysicalDriveN and the capacity in sectors of sectorBytes (the
    // geometry's bytes per sector).
    void SetDisk(std::uint32_t deviceNumber, std::uint64_t sectors, std::uint32_t sectorBytes = 512) {
        deviceNumber_ = deviceNumber;
        sectors_ = sectors;
        sectorBytes_ = sectorBytes;
    }

    // Port-level sense faults for the SCSI pass-through on this stack.
    SimSenseFault senseFault;

    // The medium as built and no fault armed.
    void Reset() override;

protected:
    // StorageAdapterProperty (PropertyId 1); other property ids are left to the caller.
    SimResult AnswerAdapterProperty(const SimCall& call) const;
    // A property query on a stack that knows only the adapter property.
    SimResult AnswerAdapterQueryOnly(const SimCall& call) const;
    // Device number and geometry; ErrorInvalidFunction for any other code.
    SimResult DiskIoControl(const SimCall& call) const;

private:
    SimBusType busType_;
    std::uint32_t mediaBytes_;
    std::vector<std::uint8_t> media_;
    std::uint32_t deviceNumber_ = 0;
    std::uint64_t sectors_ = 0;
    std::uint32_t sectorBytes_ = 512;
};

// How a protocol-specific property reply may be spoiled.
enum class SimPropertyFault {
    None,
    WrongDescriptorSize,  // Version and Size not 48
    ShortData,            // names less data than asked for
    OversizedData,        // names more data than asked for
    DataOutsideBuffer,    // names an offset beyond the reply buffer
    // The whole reply comes back, but its descriptor names:
    NoData,                // no data at all (the data area is zeros)
    FirstBytesOnly,        // the first 64 bytes of the data (the rest of the area is zeros)
    DataInsideDescriptor,  // data at offset 8, inside the descriptor
};

// The platform's inbox NVMe driver: protocol commands and protocol-specific properties.
class SimInboxNvmeStack : public SimDiskStack {
public:
    explicit SimInboxNvmeStack(std::shared_ptr<SimNvmeController> controller);
    SimResult IoControl(const SimCall& call) override;
    SimNvmeController& Controller() { return *controller_; }
    void Reset() override;

    // ReturnStatus "busy" for the next protocol commands; the drive does not see them.
    SimFaultCount busyStatus;
    SimPropertyFault propertyFault = SimPropertyFault::None;
    SimFaultCount propertyFaultCount;  // how often propertyFault applies

private:
    SimResult ProtocolCommand(const SimCall& call);
    SimResult QueryProperty(const SimCall& call);
    SimResult ProtocolSpecificProperty(const SimCall& call);

    std::shared_ptr<SimNvmeController> controller_;
    SimPlainScsiTarget scsi_;
};

// ReturnCode values of the "NvmeMini" miniport's pass-through.
enum SimMiniportReturnCode : std::uint32_t {
    MiniportSuccess = 0,
    MiniportInternalError = 1,
    MiniportInvalidControlCode = 2,
    MiniportInsufficientInBuffer = 4,
    MiniportInsufficientOutBuffer = 5,
    MiniportInvalidDirection = 6,
    MiniportInvalidParameter = 7,
};

// An NVMe miniport driver accepting the "NvmeMini" pass-through (IOCTL_SCSI_MINIPORT).
// Command-level errors come back in the completion entry, with ReturnCode 0: the
// request itself went through.
class SimMiniportStack : public SimDiskStack {
public:
    explicit SimMiniportStack(std::shared_ptr<SimNvmeController> controller);
    SimResult IoControl(const SimCall& call) override;
    SimNvmeController& Controller() { return *controller_; }
    void Reset() override;

    // ReturnCode MiniportInternalError for the next requests; the drive does not see them.
    SimFaultCount badReturnCode;

private:
    SimResult Miniport(const SimCall& call);

    std::shared_ptr<SimNvmeController> controller_;
    SimPlainScsiTarget scsi_;
};

// A USB-to-NVMe bridge: NVMe commands inside the vendor CDB 0xA1, three phases each.
class SimUsbBridge : public SimScsiTarget {
public:
    enum class Phase { Idle, CommandReceived, Completed };

    explicit SimUsbBridge(std::shared_ptr<SimNvmeController> controller) : controller_(std::move(controller)) {}
    SimScsiOutcome Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataIn, std::uint8_t* data,
                           std::uint32_t length) override;
    Phase CurrentPhase() const { return phase_; }
    // Idle, with no command or completion held.
    void Reset();

private:
    SimScsiOutcome Exchange(const std::uint8_t* cdb, bool dataIn, std::uint8_t* data, std::uint32_t length);

    std::shared_ptr<SimNvmeController> controller_;
    Phase phase_ = Phase::Idle;
    bool admin_ = true;
    NvmeCommandDwords command_{};
    SimCompletion completion_;
};

class SimUsbBridgeStack : public SimDiskStack {
public:
    explicit SimUsbBridgeStack(std::shared_ptr<SimNvmeController> controller);
    SimResult IoControl(const SimCall& call) override;
    SimNvmeController& Controller() { return *controller_; }
    SimUsbBridge& Bridge() { return bridge_; }
    void Reset() override;

private:
    std::shared_ptr<SimNvmeController> controller_;
    SimUsbBridge bridge_;
};

// SCSI-to-ATA translation of ATA PASS-THROUGH(16).
class SimSatTranslator : public SimScsiTarget {
public:
    explicit SimSatTranslator(std::shared_ptr<SimAtaDevice> device) : device_(std::move(device)) {}
    SimScsiOutcome Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataIn, std::uint8_t* data,
                           std::uint32_t length) override;

private:
    std::shared_ptr<SimAtaDevice> device_;
    SimPlainScsiTarget plain_;
};

// A SATA drive's stack: SCSI pass-through with SAT, and the ATA pass-through.
class SimAtaStack : public SimDiskStack {
public:
    explicit SimAtaStack(std::shared_ptr<SimAtaDevice> device);
    SimResult IoControl(const SimCall& call) override;
    SimAtaDevice& Device() { return *device_; }

private:
    SimResult AtaPassThrough(const SimCall& call);

    std::shared_ptr<SimAtaDevice> device_;
    SimSatTranslator sat_;
};

}  // namespace sim
