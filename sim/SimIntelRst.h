#pragma once
// Intel Rapid Storage Technology in "RAID On" mode: the adapter's SCSI port (\\.\ScsiN:,
// also reached at the adapter's interface path), which takes the "IntelNvm" NVMe
// pass-through for the NVMe drives behind it, and the disks' own stacks, which answer
// their SCSI address and nothing of NVMe.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "sim/SimMachine.h"
#include "sim/SimNvmeController.h"
#include "sim/SimStacks.h"

namespace sim {

// PathId, TargetId and Lun of a disk on its adapter.
struct SimScsiAddress {
    std::uint8_t portNumber = 0;
    std::uint8_t pathId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
};

// SRB_IO_CONTROL.ReturnCode of an "IntelNvm" reply: the SRB status the driver completed the
// request with. Only Success hands back data and a completion entry; the driver never
// leaves a completed request at 0 (pending).
enum SimRstReturnCode : std::uint32_t {
    RstSrbSuccess = 1,
    RstSrbError = 4,
    RstSrbInvalidRequest = 6,  // a command or a request the driver does not pass
    RstSrbInvalidPathId = 7,   // no target at that PathId
};

// The RST driver's SCSI port. The port refuses a request whose SRB_IO_CONTROL does not
// hold together (the call fails with ERROR_INVALID_PARAMETER), the "NvmeMini" miniport
// request (ERROR_IO_DEVICE, as iaStorVD does) and, on a driver without the pass-through,
// any "IntelNvm" request (ERROR_INVALID_FUNCTION). A driver with it reads
// every field of the request as documented and completes the call, its verdict in
// ReturnCode: 1 done (the drive's own status in the completion entry), 6 for a malformed
// body or a command it does not pass, 7 for a PathId with no target.
class SimRstPort : public SimEndpoint {
public:
    // knowsPassThrough false: a driver older than the pass-through, which refuses "IntelNvm".
    explicit SimRstPort(bool knowsPassThrough = true) : knowsPassThrough_(knowsPassThrough) {}
    SimResult IoControl(const SimCall& call) override;
    void Reset() override {
        badReturnCode.Disarm();
        passesNothing.Disarm();
    }

    void AddNvmeTarget(const SimScsiAddress& address, std::shared_ptr<SimNvmeController> controller);
    // A SATA drive or a RAID volume: a target, but no NVMe drive.
    void AddOtherTarget(const SimScsiAddress& address);

    // ReturnCode 4 (error) for the next well-formed requests; the drive does not see them.
    SimFaultCount badReturnCode;
    // ReturnCode 6 for the next well-formed requests: a driver that passes no command.
    SimFaultCount passesNothing;

private:
    using Key = std::tuple<std::uint8_t, std::uint8_t, std::uint8_t>;
    SimResult PassThrough(const SimCall& call);

    bool knowsPassThrough_;
    std::map<Key, std::shared_ptr<SimNvmeController>> targets_;  // null: not an NVMe drive
};

// An NVMe drive's disk behind RST as the disk class driver sees it: the adapter
// property, device number, geometry, sector reads and plain SCSI; no NVMe request (the
// inbox driver's protocol property fails with ERROR_INVALID_FUNCTION, as it does on
// iaStorVD).
class SimRstNvmeDiskStack : public SimDiskStack {
public:
    SimRstNvmeDiskStack();
    SimResult IoControl(const SimCall& call) override;

private:
    SimPlainScsiTarget scsi_;
};

// Answers IOCTL_SCSI_GET_ADDRESS for the disk in front of it; passes everything else on.
class SimScsiAddressed : public SimEndpoint {
public:
    SimScsiAddressed(std::shared_ptr<SimEndpoint> inner, SimScsiAddress address)
        : inner_(std::move(inner)), address_(address) {}
    SimResult IoControl(const SimCall& call) override;
    std::vector<std::uint8_t>* Media() override { return inner_->Media(); }
    bool ReadMedia(std::uint64_t position, std::uint8_t* out, std::uint32_t size, std::uint32_t& count) override {
        return inner_->ReadMedia(position, out, size, count);
    }

private:
    std::shared_ptr<SimEndpoint> inner_;
    SimScsiAddress address_;
};

std::wstring ScsiPortPath(std::uint8_t portNumber);  // \\.\ScsiN:

}  // namespace sim
